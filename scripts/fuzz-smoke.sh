#!/usr/bin/env bash
# fuzz-smoke.sh BUILD_DIR SECONDS: runs every libFuzzer target for SECONDS from its seeds.
# A crash, leak, timeout, out-of-memory or an oversized allocation fails the run and leaves the input in
# BUILD_DIR/fuzz-artifacts for saving under tests/data/crashers/<target>/.
set -euo pipefail
build=$1
seconds=${2:-10}
[ "$seconds" -gt 0 ] || exit 0
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/fuzz/common/limits.sh"
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
status=0
for bin in "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin"); name=${name#fuzz_}
  work=$(mktemp -d)
  for seeds in "$root/fuzz/corpus/$name" "$root/tests/data/crashers/$name"; do
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/ 2>/dev/null || true
  done
  if ! "$bin" -max_total_time="$seconds" -timeout=10 "${FUZZ_LIMITS[@]}" -print_final_stats=0 \
       -artifact_prefix="$artifacts/$name-" "$work" >"$artifacts/$name.log" 2>&1; then
    echo "fuzz target $name FAILED; see $artifacts/$name.log"
    tail -n 30 "$artifacts/$name.log"
    status=1
  else
    echo "fuzz target $name: $(grep -o 'Done [0-9]* runs' "$artifacts/$name.log" | tail -1)"
  fi
  rm -rf "$work"
done
exit $status
