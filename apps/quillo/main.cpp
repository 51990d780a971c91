// quillo: the command-line face of the library.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "apps/quillo/commands.h"
#include "quillo/lzw/lzw.h"
#include "quillo/version.h"

using namespace quillo;
using namespace quillo::tool;

namespace {

const std::vector<TCommand>& Commands() {
  static const std::vector<TCommand> List = {
      {"info", "describe image files: format, size, depth, resolution, parameters",
       "quillo info FILE...", CmdInfo},
      {"convert", "convert an image from one format to another",
       "quillo convert IN OUT [--format EXT] [--params FILE] [--set FIELD=VALUE]...\n\n"
       "The input format is found from the content (or the extension); the output format from\n"
       "OUT's extension, or from --format. The parameters read from IN are used for OUT; a saved\n"
       "parameters file and --set (any parameter by name, enumerations by full or short name,\n"
       "e.g. --set BmpCompression=rle --set BitsPerSample=8) change them.",
       CmdConvert},
      {"frames", "write every frame of a GIF (page of a TIFF) to its own file",
       "quillo frames IN OUTPATTERN\n\nOUTPATTERN holds %d for the frame number (from 0), or gets "
       "-N before its\n"
       "extension; the extension picks the format.",
       CmdFrames},
      {"join", "build an animated GIF or a multi-page TIFF from images",
       "quillo join OUT IN... [--delay CENTISECONDS] [--loop COUNT] [--set FIELD=VALUE]...\n\n"
       "OUT's extension (.gif, .tif) picks the kind; --set applies to every frame or page\n"
       "(e.g. --set TiffCompression=lzw).",
       CmdJoin},
      {"demo", "write the built-in sample in every format and variant, read each back, report",
       "quillo demo [FOLDER]   (default ./quillo-demo)", CmdDemo},
      {"formats", "list the file-format table", "quillo formats", CmdFormats},
  };
  return List;
}

void PrintHelp() {
  std::printf(
      "quillo %s: load, process and save raster images\n\n"
      "usage: quillo COMMAND [ARGS...]\n"
      "       quillo COMMAND --help\n"
      "       quillo --version\n\ncommands:\n",
      QuilloVersionString);
  for (const TCommand& C : Commands()) std::printf("  %-10s %s\n", C.Name, C.Summary);
}

}  // namespace

int main(int argc, char** argv) {
  QLInstallLZWCoders();
  std::vector<std::string> Args(argv + 1, argv + argc);
  if (Args.empty()) {
    PrintHelp();
    return 2;
  }
  if (Args[0] == "--help" || Args[0] == "-h" || Args[0] == "help") {
    PrintHelp();
    return 0;
  }
  if (Args[0] == "--version") {
    std::printf("quillo %s\n", QuilloVersionString);
    return 0;
  }
  for (const TCommand& C : Commands()) {
    if (Args[0] != C.Name) continue;
    TArgs Rest(Args.begin() + 1, Args.end());
    for (const std::string& A : Rest)
      if (A == "--help" || A == "-h") {
        std::printf("usage: %s\n\n%s\n", C.Usage, C.Summary);
        return 0;
      }
    try {
      return C.Run(Rest);
    } catch (const TUsageError& E) {
      std::fprintf(stderr, "quillo %s: %s\nusage: %s\n", C.Name, E.Message.c_str(), C.Usage);
      return 2;
    } catch (const std::exception& E) {
      std::fprintf(stderr, "quillo %s: %s\n", C.Name, E.what());
      return 1;
    }
  }
  std::fprintf(stderr, "quillo: unknown command \"%s\" (try quillo --help)\n", Args[0].c_str());
  return 2;
}
