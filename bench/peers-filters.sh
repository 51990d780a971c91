#!/usr/bin/env bash
# peers-filters.sh [BUILD_DIR]: the 3 x 3 blur convolution and a radius-3 morphological maximum
# on a 24-megapixel photograph-like image against ImageMagick single-threaded (whole processes
# reading and writing PPM), then the Fourier transform against FFTW and the magic wand from the
# filters benchmark, in one run. Prints milliseconds (best of RUNS, default 2) and ratios.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench test >/dev/null
build=${1:-build/bench}
source bench/peers-common.sh
bench_build filters_tool filters_bench quant_tool
tool=$build/bench/filters_tool
runs=${RUNS:-2}
export MAGICK_THREAD_LIMIT=1

"$build/bench/quant_tool" gen 6000 4000 "$tmp/in.ppm"
printf '%-28s %9s %14s\n' operation "ours ms" "imagemagick"
ours=$(best_ms "$tool" convolve "$tmp/in.ppm" "$tmp/o.ppm")
imt=$(best_ms convert "$tmp/in.ppm" -define convolve:scale='!' -convolve '1,1,1,1,1,1,1,1,1' "$tmp/i.ppm")
printf '%-28s %9s %8s (%sx)\n' "convolve 3x3 blur" "$ours" "$imt" "$(ratio "$imt" "$ours")"
ours=$(best_ms "$tool" dilate "$tmp/in.ppm" "$tmp/o.ppm" 3)
imt=$(best_ms convert "$tmp/in.ppm" -morphology Dilate Square:3 "$tmp/i.ppm")
printf '%-28s %9s %8s (%sx)\n' "maximum radius 3" "$ours" "$imt" "$(ratio "$imt" "$ours")"

# The transforms and the wand, in process.
"$build/bench/filters_bench" --benchmark_filter='Fourier|MagicWand' --benchmark_format=csv 2>/dev/null |
  awk -F, 'NR > 1 { gsub(/"/, "", $1); t[$1] = $3 }
    END {
      for (n = 1024; n <= 2048; n *= 2) {
        o = t["BM_FourierOurs/" n]; f = t["BM_FourierFFTW/" n]
        printf "%-28s %9.0f %8.0f (%.2fx, fftw)\n", "fourier fwd+inv " n, o, f, f / o
      }
      printf "%-28s %9.0f\n", "magic wand 24 MP region", t["BM_MagicWandLargeRegion/0"]
    }'
echo "ratio = peer time / our time (above 1: we are faster)."
