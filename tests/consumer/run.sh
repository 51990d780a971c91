#!/usr/bin/env bash
# run.sh BUILD_DIR CXX "CXXFLAGS": installs the build into a scratch prefix, then builds and runs
# the consumer with find_package(Quillo) and checks the pkg-config file.
set -euo pipefail
build=$1
cxx=$2
flags=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# The library's own helpers (detail/ folders) are not part of what is installed.
if find "$work/prefix/include" -type d -name detail | grep -q .; then
  echo "detail headers were installed" >&2
  exit 1
fi
cmake -S "$here" -B "$work/build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
      -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer"
libdir=$(find "$work/prefix" -name quillo.pc -printf '%h\n' | head -1)
# The same program built from the pkg-config file alone.
export PKG_CONFIG_PATH="$libdir"
# shellcheck disable=SC2046
"$cxx" -std=c++20 $flags "$here/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs --static quillo)
"$work/consumer-pc"
# The tool's manual page is installed and renders.
page="$work/prefix/share/man/man1/quillo.1"
test -f "$page"
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "COMMANDS"
fi
