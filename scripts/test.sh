#!/usr/bin/env bash
# test.sh: installs what is missing, builds everything with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (warnings are errors), runs every test (saved fuzz crashers and
# the installed-package consumer included) and a short run of every fuzz target.
#   FUZZ_SECONDS=N  seconds per fuzz target (default 10; 0 skips the fuzz runs)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/check-layers.sh

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLO_SANITIZE=ON -DQUILLO_WERROR=ON -DQUILLO_BUILD_TESTS=ON -DQUILLO_BUILD_FUZZERS=ON \
  "${launcher[@]}" >/dev/null
cmake --build build/asan

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
jobs=$(nproc)
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

scripts/fuzz-smoke.sh build/asan "${FUZZ_SECONDS:-10}"
echo "all tests passed"
