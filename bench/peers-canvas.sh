#!/usr/bin/env bash
# peers-canvas.sh [BUILD_DIR]: times the canvas benchmarks and ImageMagick doing the same work on
# a 4000 x 3000 picture (the same shapes as MVG draw commands, the same WMF through its WMF
# reader) and prints peer time / our time. ImageMagick's time has the cost of an empty
# 4000 x 3000 canvas taken off. Build first with
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQUILLO_BUILD_BENCH=ON && cmake --build build/bench
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
bin="$build/bench/canvas_bench"
[ -x "$bin" ] || { echo "no $bin; build with -DQUILLO_BUILD_BENCH=ON" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick convert is not installed" >&2; exit 1; }
source bench/peers-common.sh
work=$tmp

# Milliseconds of one run of a benchmark (by exact name).
ours() {
  "$bin" --benchmark_filter="^$1\$" --benchmark_min_time=1 --benchmark_format=csv 2>/dev/null |
    awk -F, -v n="\"$1\"" '$1 == n || $1 == "'"$1"'" { print $3 }'
}

printf "viewbox 0 0 4000 3000\n" >"$work/empty.mvg"
empty=$(runs=3 best_ms convert -background white "mvg:$work/empty.mvg" null:)
printf '%-22s %12s %12s %8s\n' workload "quillo ms" "magick ms" ratio
row() {
  local name=$1 ourms=$2 peerms=$3
  awk -v n="$name" -v a="$ourms" -v b="$peerms" \
    'BEGIN { printf "%-22s %12.1f %12.1f %8.2f\n", n, a, b, (a > 0 ? b / a : 0) }'
}
# ImageMagick is slow on lines: one run of those.
for pair in "polygons BM_PolygonFill/0 +antialias 3" "polygons-winding BM_PolygonFill/1 +antialias 3" \
            "lines BM_Lines/1 +antialias 1" "text BM_Text/1 -antialias 3"; do
  set -- $pair
  "$bin" --mvg "$1" "$work/$1.mvg"
  # The draw commands are read as an MVG picture (the draw option's @file is barred by the
  # usual security policy); the viewbox makes it 4000 x 3000.
  peer=$(runs=$4 best_ms convert -background white "$3" "mvg:$work/$1.mvg" null:)
  row "$1" "$(ours "$2")" "$(( peer > empty ? peer - empty : 0 ))"
done
"$bin" --wmf "$work/big.wmf"
peer=$(runs=1 best_ms convert -density 96 "$work/big.wmf" null:)
row "wmf-play" "$(ours BM_PlayMetafile/0)" "$peer"
echo "(ratio > 1: quillo is faster; empty 4000x3000 canvas in ImageMagick: ${empty} ms)"
