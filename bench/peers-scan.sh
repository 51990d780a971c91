#!/usr/bin/env bash
# peers-scan.sh [BUILD]: a 300 dpi A4 colour page from SANE's test backend, acquired by
# `quillo acquire` and by scanimage, each writing the page as a PPM file; prints both times and
# the ratio (above 1: we are faster).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench >/dev/null
build=${1:-build/bench}
runs=${runs:-7}
source bench/peers-common.sh
bench_build quillo_tool
# Only the test backend, with room for an A4 page (210 x 297 mm) and a picture to scan.
mkdir -p "$tmp/sane"
echo test >"$tmp/sane/dll.conf"
cat >"$tmp/sane/test.conf" <<'CONF'
test-picture "Color pattern"
geometry_min 0.0
geometry_max 300.0
geometry_quant 1.0
tl_x 0.0
tl_y 0.0
br_x 210.0
br_y 297.0
CONF
export SANE_CONFIG_DIR="$tmp/sane"
ours=$(sh_ms "'$build/apps/quillo/quillo' --quiet acquire --device test:0 --mode color --resolution 300 '$tmp/ours.ppm'")
peer=$(sh_ms "scanimage -d test:0 --mode Color --depth 8 --resolution 300 --format=pnm > '$tmp/peer.ppm'")
# The rasters must agree (the headers differ: scanimage adds a comment line).
read -r _ w h _ < <(head -c 32 "$tmp/ours.ppm" | head -1)
n=$((w * h * 3))
cmp -s <(tail -c "$n" "$tmp/ours.ppm") <(tail -c "$n" "$tmp/peer.ppm") ||
  echo "warning: the two pages differ" >&2
echo "300 dpi A4 colour page: ours $ours ms, scanimage $peer ms, ratio $(ratio "$peer" "$ours")"
