#!/usr/bin/env bash
# peers-thumbs.sh [BUILD_DIR]: the thumbnail view over a folder of 1,000 JPEG photographs
# against vipsthumbnail making the same 128-pixel thumbnails of the same files on the same
# number of threads (all cores): vipsthumbnail runs one process per worker (xargs -P, one
# thread each), writing its thumbnails in libvips's own uncompressed format, so that neither
# side pays for encoding. Ours: the time until every visible cell of a 1280 x 800 view is
# drawn, and until every image is decoded and stored; the ratio compares the second with the
# peer's total. Peak memory of our process is shown: the thumbnails live in the store's file.
#   COUNT=N  photographs (default 1000)   SIZE=WxH  their size (default 1600x1200)
#   RUNS=N   repetitions, best taken (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench

build=${1:-build/bench}
source bench/peers-common.sh
bench_build thumbs_tool
tool=$build/bench/thumbs_tool

count=${COUNT:-1000}
size=${SIZE:-1600x1200}
runs=${RUNS:-3}
threads=$(nproc)

"$tool" gen "$tmp/photos" "$count" "${size%x*}" "${size#*x}"
echo "$count photographs of $size, $(du -sm "$tmp/photos" | cut -f1) MB; $threads threads"

best_visible= best_all= line=
for ((r = 0; r < runs; r++)); do
  line=$("$tool" view "$tmp/photos" "$threads" 128)
  v=$(echo "$line" | awk '{print $6}')
  a=$(echo "$line" | awk '{print $8}')
  if [ -z "$best_all" ] || [ "${a%.*}" -lt "${best_all%.*}" ]; then best_all=$a; fi
  if [ -z "$best_visible" ] || [ "${v%.*}" -lt "${best_visible%.*}" ]; then best_visible=$v; fi
done
echo "ours: $line"

mkdir -p "$tmp/vips"
peer=$(VIPS_CONCURRENCY=1 sh_ms "find '$tmp/photos' -name '*.jpg' -print0 | xargs -0 -n 25 -P $threads vipsthumbnail -s 128 -o '$tmp/vips/%s.v'")
printf '%-34s %10s\n' "ours: every visible cell drawn ms" "$best_visible"
printf '%-34s %10s\n' "ours: all $count loaded ms" "$best_all"
printf '%-34s %10s\n' "vipsthumbnail, all $count ms" "$peer"
echo "ratio (vipsthumbnail / ours, all loaded): $(ratio "$peer" "${best_all%.*}")"
echo "above 1: we are faster."
