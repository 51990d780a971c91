#!/usr/bin/env bash
# peers-canvas.sh [BUILD_DIR]: times the canvas benchmarks and ImageMagick doing the same work on
# a 4000 x 3000 picture (the same shapes as MVG draw commands, the same WMF through its WMF
# reader) and prints peer time / our time. ImageMagick's time has the cost of an empty
# 4000 x 3000 canvas taken off. Build first with
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQUILLO_BUILD_BENCH=ON && cmake --build build/bench
set -euo pipefail
build=${1:-build/bench}
bin="$build/bench/canvas_bench"
[ -x "$bin" ] || { echo "no $bin; build with -DQUILLO_BUILD_BENCH=ON" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick convert is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Milliseconds of one run of a benchmark (by exact name).
ours() {
  "$bin" --benchmark_filter="^$1\$" --benchmark_min_time=1 --benchmark_format=csv 2>/dev/null |
    awk -F, -v n="\"$1\"" '$1 == n || $1 == "'"$1"'" { print $3 }'
}
# Best wall time of RUNS runs of a command, in milliseconds.
best() {
  local runs=$1 best=""
  shift
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

printf "viewbox 0 0 4000 3000\n" >"$work/empty.mvg"
empty=$(best 3 convert -background white "mvg:$work/empty.mvg" null:)
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
  peer=$(best "$4" convert -background white "$3" "mvg:$work/$1.mvg" null:)
  row "$1" "$(ours "$2")" "$(( peer > empty ? peer - empty : 0 ))"
done
"$bin" --wmf "$work/big.wmf"
peer=$(best 1 convert -density 96 "$work/big.wmf" null:)
row "wmf-play" "$(ours BM_PlayMetafile/0)" "$peer"
echo "(ratio > 1: quillo is faster; empty 4000x3000 canvas in ImageMagick: ${empty} ms)"
