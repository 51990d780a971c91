#!/usr/bin/env bash
# peers-quant.sh [BUILD_DIR]: times our quantizer against ImageMagick (convert +dither -colors N)
# and pngquant (--nofs N) on the same photograph-like 1- and 12-megapixel images, 256 and 16
# colours, in one run. Prints wall-clock milliseconds (best of RUNS, default 3, whole process:
# read, quantize, map, write), the peer/ours ratio, and each result's mean absolute channel
# error and PSNR against the original.
#   RUNS=N        repetitions per measurement
#   SIZES="WxH.." images to use (default "1000x1000 4000x3000")
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench

build=${1:-build/bench}
source bench/peers-common.sh
bench_build quant_tool quant_bench
tool=$build/bench/quant_tool

runs=${RUNS:-3}
sizes=${SIZES:-"1000x1000 4000x3000"}

quality() { "$tool" compare "$1" "$2"; }

echo "ImageMagick: $(convert -version | head -1 | cut -d' ' -f2-4), threads $(convert -list resource | awk '/Thread/ {print $2}')"
echo "pngquant: $(pngquant --version 2>&1 | head -1)"
echo "ours: single thread"
printf '%-10s %5s  %-12s %9s %8s  %s\n' image ncol tool ms ratio "quality (mae per channel, psnr dB)"
for size in $sizes; do
  w=${size%x*} h=${size#*x}
  img=$tmp/photo-$size.ppm
  "$tool" gen "$w" "$h" "$img"
  convert "$img" "$tmp/photo-$size.png"  # pngquant reads PNG only
  for ncol in 256 16; do
    ours=$(best_ms "$tool" quantize "$img" "$ncol" "$tmp/ours.ppm")
    printf '%-10s %5s  %-12s %9s %8s  %s\n' "$size" "$ncol" quillo "$ours" 1.00 "$(quality "$img" "$tmp/ours.ppm")"

    im=$(best_ms convert "$img" +dither -colors "$ncol" "$tmp/im.ppm")
    printf '%-10s %5s  %-12s %9s %8s  %s\n' "$size" "$ncol" imagemagick "$im" \
      "$(awk -v a="$im" -v b="$ours" 'BEGIN {printf "%.2f", a / b}')" "$(quality "$img" "$tmp/im.ppm")"

    pq=$(best_ms pngquant --force --nofs --output "$tmp/pq.png" "$ncol" "$tmp/photo-$size.png")
    convert "$tmp/pq.png" "$tmp/pq.ppm"
    printf '%-10s %5s  %-12s %9s %8s  %s\n' "$size" "$ncol" pngquant "$pq" \
      "$(awk -v a="$pq" -v b="$ours" 'BEGIN {printf "%.2f", a / b}')" "$(quality "$img" "$tmp/pq.ppm")"
  done
done
echo "ratio = peer time / our time (above 1: we are faster)."
