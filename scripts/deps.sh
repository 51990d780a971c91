#!/usr/bin/env bash
# deps.sh [build|test|bench]...: installs the Debian packages a job needs, only those missing.
set -euo pipefail

build_pkgs=(build-essential cmake ninja-build pkg-config ccache
            zlib1g-dev libpng-dev libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev
            fonts-dejavu-core libcairo2-dev libsane-dev
            libavformat-dev libavcodec-dev libswscale-dev libavutil-dev)
test_pkgs=(clang libclang-rt-dev googletest libgtest-dev
           imagemagick libmagickcore-6.q16-6-extra netpbm libtiff-tools giflib-tools
           libjpeg-turbo-progs libpng-tools python3 python3-ezdxf poppler-utils man-db groff-base
           qt6-base-dev xvfb xdotool xclip libsane1 sane-utils ffmpeg)
bench_pkgs=(libbenchmark-dev hyperfine time pngquant libvips-tools libfftw3-dev libtiff-dev
            libjpeg-turbo-progs libsane1 sane-utils)

want=()
for job in "${@:-build}"; do
  case "$job" in
    build) want+=("${build_pkgs[@]}") ;;
    test) want+=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
    bench) want+=("${build_pkgs[@]}" "${bench_pkgs[@]}") ;;
    *) echo "deps.sh: unknown job $job" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
