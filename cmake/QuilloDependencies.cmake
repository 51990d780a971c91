# The third-party libraries the library links. Included by the build and by the installed
# QuilloConfig.cmake, so that consumers of a static build find the same imported targets.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
find_dependency(ZLIB)
find_dependency(PNG)
find_dependency(JPEG)
find_dependency(Freetype)
find_dependency(Fontconfig)
# cairo writes the PDF printer's files; without it the library builds and PDF printing fails
# with a clear error.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND AND NOT TARGET PkgConfig::QuilloCairo)
  pkg_check_modules(QuilloCairo QUIET IMPORTED_TARGET GLOBAL cairo-pdf)
endif()
# SANE is the scanner source manager; without it acquisition reports failure.
if(PkgConfig_FOUND AND NOT TARGET PkgConfig::QuilloSane)
  pkg_check_modules(QuilloSane QUIET IMPORTED_TARGET GLOBAL sane-backends)
endif()
# FFmpeg's libraries read and write AVI videos. The library compiles against their headers and
# opens the libraries when a video is first used; without them the library builds and the AVI
# operations fail cleanly.
if(PkgConfig_FOUND AND NOT TARGET PkgConfig::QuilloFFmpeg)
  pkg_check_modules(QuilloFFmpeg QUIET IMPORTED_TARGET GLOBAL libavformat libavcodec libswscale libavutil)
endif()
