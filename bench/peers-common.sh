# Sourced by the peers-*.sh scripts: the Release build, timing, ratios, and peers set up to
# handle big images. Expects $build (and $runs when timing); sets up $tmp (removed on exit).

# Configures $build as the Release build with benchmarks and the tool; builds the targets given.
bench_build() {
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_BUILD_BENCH=ON \
    -DQUILLO_BUILD_TESTS=OFF -DQUILLO_BUILD_APPS=ON >/dev/null
  cmake --build "$build" -j2 --target "$@" >/dev/null
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ImageMagick's distribution policy caps memory at 256 MiB and area at 128 megapixels, which
# sends big images to a disk cache (or fails them): give it room, as a user timing it would.
mkdir -p "$tmp/im-policy"
cat > "$tmp/im-policy/policy.xml" <<'XML'
<policymap>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
</policymap>
XML
export MAGICK_CONFIGURE_PATH="$tmp/im-policy"

# Best wall-clock milliseconds of running "$@" $runs times; "fail" when the command fails.
best_ms() {
  local best=
  for ((i = 0; i < ${runs:-3}; i++)); do
    local t0 t1 ms
    t0=$(date +%s%N)
    if ! "$@" >/dev/null 2>&1; then
      echo fail
      return
    fi
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000000))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}
sh_ms() { best_ms sh -c "$1"; }

# peer time / our time, or "-" when either failed.
ratio() {
  case "$1$2" in *fail*) echo "-" ;; *) awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / (b > 0 ? b : 1)}' ;; esac
}
