#!/usr/bin/env bash
# peers-colorops.sh [BUILD_DIR]: the point operations of colorops_bench on a 24-megapixel
# photograph-like image, against a plain memcpy of the same bytes (in the same program) and
# against ImageMagick single-threaded on the same image in one run. ImageMagick's time is its
# run with the operation minus its run without (reading the PPM and starting up), best of RUNS
# (default 3); ours is the in-process time per call. Prints milliseconds and the ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench test >/dev/null
build=${1:-build/bench}
source bench/peers-common.sh
bench_build colorops_bench quant_tool
runs=${RUNS:-3}
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1

"$build/bench/colorops_bench" --benchmark_format=csv >"$tmp/ours.csv" 2>/dev/null
# Milliseconds per call of a benchmark.
ours() { awk -F, -v n="\"BM_$1\"" -v m="BM_$1" '$1 == n || $1 == m { printf "%.1f", $3 }' "$tmp/ours.csv"; }

"$build/bench/quant_tool" gen 6000 4000 "$tmp/in.ppm"
base=$(best_ms convert "$tmp/in.ppm" null:)
copy=$(ours Memcpy)
echo "ImageMagick: $(convert -version | head -1 | cut -d' ' -f2-4), one thread; its read and start-up ($base ms) taken off"
printf '%-16s %9s %10s %14s %12s\n' operation "ours ms" "/ memcpy" "imagemagick" "im / ours"
printf '%-16s %9s %10s\n' memcpy "$copy" 1.00
while read -r name args; do
  o=$(ours "$name")
  # shellcheck disable=SC2086
  t=$(best_ms convert "$tmp/in.ppm" $args null:)
  net=$(awk -v a="$t" -v b="$base" 'BEGIN { print (a == "fail") ? "fail" : a - b }')
  printf '%-16s %9s %10s %8s ms %11s  (%s)\n' "$name" "$o" "$(awk -v a="$o" -v b="$copy" 'BEGIN {printf "%.2f", a / b}')" \
    "$net" "$(ratio "$net" "$o")" "$args"
done <<'OPS'
Negative -negate
ContrastRGB -brightness-contrast 0x40
HSLvar -modulate 110,120,108
IntensityRGBall -evaluate add 8%
ConvertToGray -colorspace gray
OPS
echo "im / ours above 1: we are faster."
