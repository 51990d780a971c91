#!/usr/bin/env bash
# peers-virtual.sh [BUILD]: the 1-gigapixel virtual bitmap (filled band by band in a temporary
# file, then rendered to full HD) against libvips writing the same 32768 x 32768 RGB image to
# its own disc-backed file, in one run; prints both times and the ratio (above 1: we are
# faster).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench >/dev/null
build=${1:-build/bench}
runs=1
source bench/peers-common.sh
bench_build virtual_bench
ours=$(best_ms "$build/bench/virtual_bench" --benchmark_filter=Gigapixel)
peer=$(best_ms vips black "$tmp/big.v" 32768 32768 --bands 3)
echo "gigapixel fill and render: ours $ours ms, vips to a disc file $peer ms, ratio $(ratio "$peer" "$ours")"
