#!/usr/bin/env bash
# demo.sh: installs what is missing, builds the optimised library and the quillo tool with the
# default compiler (warnings are errors), and runs the tool's demo on its built-in sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_WERROR=ON \
      -DQUILLO_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build/release --target quillo_tool
build/release/apps/quillo/quillo demo build/release/quillo-demo "$@"
