#!/usr/bin/env bash
# peers-tiff.sh [BUILD_DIR]: times our TIFF codec against libtiff on the same images in one run:
# a 300-dpi A4 text page (2480 x 3508, bilevel) in group 4 and group 3 2-D, and a 12-megapixel
# photograph-like image in LZW with the predictor.
#   - whole processes: decoding is converting the compressed file to an uncompressed TIFF,
#     encoding the other way round, with `quillo convert` and with tiffcp; the peer/ours ratio
#     of the best of RUNS (default 5) wall-clock times;
#   - in process (tiff_bench): our reader and writer against libtiff through memory, the whole
#     image decoded into fresh memory or encoded as one strip; CPU time, median of 5
#     interleaved runs, ratio libtiff / ours.
# Ratios above 1: we are faster.
#   RUNS=N  repetitions per process measurement
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench test >/dev/null

build=${1:-build/bench}
source bench/peers-common.sh
bench_build quillo_tool quant_tool tiff_bench
quillo=$build/apps/quillo/quillo
runs=${RUNS:-5}

row() { printf '%-24s %10s %10s %8s\n' "$1" "$2" "$3" "$(ratio "$3" "$2")"; }

# The inputs, uncompressed, made by ImageMagick from the generated images.
"$build/bench/tiff_bench" page "$tmp/page.pbm"
"$build/bench/quant_tool" gen 4000 3000 "$tmp/photo.ppm"
convert "$tmp/page.pbm" -compress none "$tmp/page.tif"
convert "$tmp/photo.ppm" -compress none "$tmp/photo.tif"
tiffcp -c g4 "$tmp/page.tif" "$tmp/page-g4.tif"
tiffcp -c g3:2d "$tmp/page.tif" "$tmp/page-g32d.tif"
tiffcp -c lzw:2 "$tmp/photo.tif" "$tmp/photo-lzw.tif"

echo "page 2480 x 3508 bilevel: G4 $(stat -c %s "$tmp/page-g4.tif") bytes, G3 2-D $(stat -c %s "$tmp/page-g32d.tif") bytes;" \
  "photo 4000 x 3000: LZW $(stat -c %s "$tmp/photo-lzw.tif") bytes; $(tiffinfo 2>&1 | head -1)"
printf '%-24s %10s %10s %8s\n' "whole process" "ours ms" "tiffcp ms" "ratio"
for k in g4 g32d; do
  row "decode $k" "$(best_ms "$quillo" convert "$tmp/page-$k.tif" "$tmp/o.tif" --set TiffCompression=uncompressed)" \
    "$(best_ms tiffcp -c none "$tmp/page-$k.tif" "$tmp/o.tif")"
done
row "decode lzw" "$(best_ms "$quillo" convert "$tmp/photo-lzw.tif" "$tmp/o.tif" --set TiffCompression=uncompressed)" \
  "$(best_ms tiffcp -c none "$tmp/photo-lzw.tif" "$tmp/o.tif")"
row "encode g4" "$(best_ms "$quillo" convert "$tmp/page.tif" "$tmp/o.tif" --set TiffCompression=g4fax)" \
  "$(best_ms tiffcp -c g4 "$tmp/page.tif" "$tmp/o.tif")"
row "encode g32d" "$(best_ms "$quillo" convert "$tmp/page.tif" "$tmp/o.tif" --set TiffCompression=g3fax2d)" \
  "$(best_ms tiffcp -c g3:2d "$tmp/page.tif" "$tmp/o.tif")"
row "encode lzw" "$(best_ms "$quillo" convert "$tmp/photo.tif" "$tmp/o.tif" --set TiffCompression=lzw)" \
  "$(best_ms tiffcp -c lzw:2 "$tmp/photo.tif" "$tmp/o.tif")"
echo "ratio = tiffcp time / our time (above 1: we are faster)."
echo
echo "in process, ours against libtiff (memory to memory, CPU time):"
"$build/bench/tiff_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null | awk -F, '
  /_median"?,/ {
    gsub(/"/, "", $1); split($1, p, "/")
    op = p[1]; sub(/^BM_/, "", op); who = op; sub(/^(Decode|Encode)/, "", who); op = substr(op, 1, 6)
    k = p[2]; sub(/^kind:/, "", k); split(k, kk, "/"); k = kk[1]
    kind = (k == 0 ? "g4" : k == 1 ? "g32d" : "lzw")
    t[op " " kind, who] = $4; ops[op " " kind] = 1
  }
  END {
    printf "%-24s %10s %10s %8s\n", "operation", "ours ms", "libtiff ms", "ratio"
    split("Decode g4,Decode g32d,Decode lzw,Encode g4,Encode g32d,Encode lzw", order, ",")
    for (i = 1; i <= 6; i++) {
      o = order[i]
      if (!(o in ops)) continue
      if (t[o, "Libtiff"] == "") printf "%-24s %10.1f %10s\n", o, t[o, "Ours"], "-"
      else printf "%-24s %10.1f %10.1f %8.2f\n", o, t[o, "Ours"], t[o, "Libtiff"], t[o, "Libtiff"] / t[o, "Ours"]
    }
  }'
echo "ratio = libtiff time / our time (above 1: we are faster)."
