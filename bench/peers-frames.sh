#!/usr/bin/env bash
# peers-frames.sh [BUILD_DIR]: splitting an animation into one PNG per frame, ours
# (`quillo frames`) against ImageMagick (`convert anim.gif frame-%d.png`), and writing it back
# as an animation (`quillo convert anim.gif copy.gif` against `convert anim.gif copy.gif`), on
# generated GIF animations of 250, 500 and 1000 frames (128 x 96, 256 colours). Prints each
# time, the peer/ours ratio (above 1: we are faster) and our time per frame, which stays flat
# when the work grows linearly with the frame count.
#   RUNS=N  repetitions (best wall-clock time, default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench test >/dev/null

build=${1:-build/bench}
source bench/peers-common.sh
bench_build quillo_tool quant_tool
quillo=$build/apps/quillo/quillo
runs=${RUNS:-3}
export MAGICK_THREAD_LIMIT=1

# Ten frames of the base picture turned a little further each (frames that differ, as in a real
# clip), repeated into the animations: ImageMagick keeps read frames' palettes, so this is quick.
"$build/bench/quant_tool" gen 128 96 "$tmp/base.ppm"
convert "$tmp/base.ppm" -duplicate 9 -virtual-pixel tile -distort SRT '%[fx:t*3.6]' \
  -set delay 4 "$tmp/ten.gif"
for n in 250 500 1000; do
  # shellcheck disable=SC2046
  convert $(printf "$tmp/ten.gif %.0s" $(seq $((n / 10)))) -loop 0 "$tmp/anim-$n.gif"
done

printf '%-8s %10s %10s %8s %12s\n' "frames" "ours ms" "convert ms" "ratio" "ours ms/frame"
for n in 250 500 1000; do
  mkdir -p "$tmp/q$n" "$tmp/m$n"
  ours=$(sh_ms "$quillo --quiet frames '$tmp/anim-$n.gif' '$tmp/q$n/frame-%d.png'")
  peer=$(sh_ms "convert '$tmp/anim-$n.gif' '$tmp/m$n/frame-%d.png'")
  per=$(awk -v a="$ours" -v n="$n" 'BEGIN {printf "%.2f", a / n}')
  printf '%-8s %10s %10s %8s %12s\n' "$n" "$ours" "$peer" "$(ratio "$peer" "$ours")" "$per"
  [ "$(ls "$tmp/q$n" | wc -l)" -eq "$n" ] || echo "  ours wrote $(ls "$tmp/q$n" | wc -l) files"
done

printf '\nwriting an animation\n%-8s %10s %10s %8s %12s\n' "frames" "ours ms" "convert ms" "ratio" \
  "ours ms/frame"
for n in 250 500 1000; do
  ours=$(sh_ms "$quillo --quiet convert '$tmp/anim-$n.gif' '$tmp/q-$n.gif'")
  peer=$(sh_ms "convert '$tmp/anim-$n.gif' '$tmp/m-$n.gif'")
  per=$(awk -v a="$ours" -v n="$n" 'BEGIN {printf "%.2f", a / n}')
  printf '%-8s %10s %10s %8s %12s\n' "$n" "$ours" "$peer" "$(ratio "$peer" "$ours")" "$per"
done
echo "ratio = convert time / our time (above 1: we are faster); $(convert -version | head -1)"
