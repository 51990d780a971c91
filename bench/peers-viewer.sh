#!/usr/bin/env bash
# peers-viewer.sh [BUILD]: opening a 24-megapixel JPEG in the viewer (read, then shown fitted to
# a 1600 x 900 window) against djpeg decoding the same file to nothing, in one run; prints both
# times and the ratio (below 1.5: within the goal of one and a half times the decoder).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench >/dev/null
build=${1:-build/bench}
runs=5
source bench/peers-common.sh
bench_build viewer_bench
export QUILLO_BENCH_JPEG="$tmp/photo.jpg"
ours=$("$build/bench/viewer_bench" --benchmark_format=csv 2>/dev/null |
  awk -F, '/BM_OpenJpegFitted/ {printf "%d", $3}')
peer=$(best_ms djpeg -outfile /dev/null "$QUILLO_BENCH_JPEG")
echo "open a 24 MP JPEG and show it fitted: ours $ours ms, djpeg decode $peer ms," \
  "ours / djpeg $(awk -v a="$ours" -v b="$peer" 'BEGIN {printf "%.2f", a / b}')"
