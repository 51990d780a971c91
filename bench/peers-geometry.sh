#!/usr/bin/env bash
# peers-geometry.sh [BUILD_DIR]: resampling a 24-megapixel photograph-like image to 25% and
# 200% with Lanczos3 and Mitchell, and rotating it by 30 degrees with antialiasing, against
# ImageMagick and libvips, all single-threaded, whole processes reading and writing PPM, in one
# run. Prints milliseconds (best of RUNS, default 2) and peer/ours ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench test >/dev/null
build=${1:-build/bench}
source bench/peers-common.sh
bench_build geometry_tool quant_tool
tool=$build/bench/geometry_tool
runs=${RUNS:-2}
export VIPS_CONCURRENCY=1 MAGICK_THREAD_LIMIT=1


"$build/bench/quant_tool" gen 6000 4000 "$tmp/in.ppm"
printf '%-22s %9s %14s %14s\n' operation "ours ms" "imagemagick" "libvips"
for f in lanczos3 mitchell; do
  im=$([ $f = lanczos3 ] && echo Lanczos || echo Mitchell)
  for p in 25 200; do
    ours=$(best_ms "$tool" resample "$tmp/in.ppm" "$tmp/o.ppm" "$p" "$f")
    imt=$(best_ms convert "$tmp/in.ppm" -filter "$im" -resize "$p%" "$tmp/i.ppm")
    vt=$(best_ms vips resize "$tmp/in.ppm" "$tmp/v.ppm" "$(awk -v p="$p" 'BEGIN {print p / 100}')" --kernel "$f")
    printf '%-22s %9s %8s (%sx) %8s (%sx)\n' "resample $f $p%" "$ours" "$imt" "$(ratio "$imt" "$ours")" "$vt" "$(ratio "$vt" "$ours")"
  done
done
ours=$(best_ms "$tool" rotate "$tmp/in.ppm" "$tmp/o.ppm" 30)
imt=$(best_ms convert "$tmp/in.ppm" -background white -rotate -30 "$tmp/i.ppm")
vt=$(best_ms vips rotate "$tmp/in.ppm" "$tmp/v.ppm" 330)
printf '%-22s %9s %8s (%sx) %8s (%sx)\n' "rotate 30 antialiased" "$ours" "$imt" "$(ratio "$imt" "$ours")" "$vt" "$(ratio "$vt" "$ours")"
echo "ratio = peer time / our time (above 1: we are faster)."
