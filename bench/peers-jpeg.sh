#!/usr/bin/env bash
# peers-jpeg.sh [BUILD_DIR]: times our JPEG codec against djpeg and cjpeg on the same
# 12-megapixel photograph-like image at quality 90, in one run:
#   - whole processes: decode at full size and at 1/8 to a PPM on /dev/null, encode a PPM;
#     the peer/ours ratio (best of RUNS, default 5, wall clock);
#   - in process (jpeg_bench): our reader and writer against the bare library doing the same
#     work (the whole image in memory, as a bitmap holds it), which is our overhead over the
#     library. CPU time, median of 5 interleaved runs, so that other load counts less.
# The peer tools stream rows from input to output and never hold the whole image; our tool
# decodes into a bitmap and encodes from one, as callers of the library do, which costs the
# allocation and first touch of a 36 MB pixel block per run: the process ratios include that,
# the in-process overhead does not differ in it.
#   RUNS=N  repetitions per process measurement
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
command -v djpeg >/dev/null || scripts/deps.sh test

build=${1:-build/bench}
source bench/peers-common.sh
bench_build jpeg_tool jpeg_bench
tool=$build/bench/jpeg_tool

runs=${RUNS:-5}

"$tool" gen 4000 3000 "$tmp/photo.ppm"
cjpeg -quality 90 -outfile "$tmp/photo.jpg" "$tmp/photo.ppm"
echo "image: 4000 x 3000, quality 90, $(stat -c %s "$tmp/photo.jpg") bytes; $(djpeg -version 2>&1 | head -1)"
printf '%-22s %10s %10s %8s\n' "whole process" "ours ms" "peer ms" "ratio"
for d in 1 8; do
  ours=$(best_ms "$tool" decode "$tmp/photo.jpg" "$d" /dev/null)
  peer=$(best_ms djpeg -scale "1/$d" -ppm -outfile /dev/null "$tmp/photo.jpg")
  printf '%-22s %10s %10s %8s\n' "decode 1/$d (djpeg)" "$ours" "$peer" "$(ratio "$peer" "$ours")"
done
ours=$(best_ms "$tool" encode "$tmp/photo.ppm" 90 /dev/null)
peer=$(best_ms cjpeg -quality 90 -outfile /dev/null "$tmp/photo.ppm")
printf '%-22s %10s %10s %8s\n' "encode q90 (cjpeg)" "$ours" "$peer" "$(ratio "$peer" "$ours")"
echo "ratio = peer time / our time (above 1: we are faster)."
echo
echo "in process, ours against the bare library (same image, memory to memory):"
"$build/bench/jpeg_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null | awk -F, '
  /NewBitmap_median/ { alloc = $4; next }
  /_median"?,/ {
    gsub(/"/, "", $1); split($1, p, "/"); name = p[1]; sub(/_median$/, "", name)
    arg = (p[2] == "" ? "" : p[2]); sub(/_median$/, "", arg)
    kind = name; sub(/^BM_/, "", kind); who = kind; sub(/^(Decode|Encode)/, "", who)
    op = substr(kind, 1, 6) (arg == "" ? "" : " " arg)
    t[op, who] = $4; ops[op] = 1
  }
  END {
    printf "%-26s %10s %10s %10s\n", "operation (cpu)", "ours ms", "bare ms", "overhead"
    for (op in ops)
      printf "%-26s %10.1f %10.1f %9.1f%%\n", op, t[op, "Ours"], t[op, "Bare"],
             (t[op, "Ours"] / t[op, "Bare"] - 1) * 100
    printf "a new 4000 x 3000 bitmap alone (allocate, zero-fill, free): %.1f ms; the bare decode\n", alloc
    printf "writes into fresh memory too, but without the zero fill.\n"
  }'
