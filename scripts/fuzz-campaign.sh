#!/usr/bin/env bash
# fuzz-campaign.sh BUILD_DIR SECONDS [TARGET...]: a longer fuzzing run of each target (all by
# default) for SECONDS, from its stored corpus, its saved crashers and seeds that the peers'
# tools write in every variant (fuzz/make-seeds.sh), under the same memory limits as CI.
# Corpora grow in BUILD_DIR/fuzz-campaign/<target>/ and are kept between campaigns; failing
# inputs land in BUILD_DIR/fuzz-artifacts/. Prints one line a target: runs, seconds, verdict.
set -uo pipefail
build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/fuzz/common/limits.sh"
work="$build/fuzz-campaign"
artifacts="$build/fuzz-artifacts"
mkdir -p "$work" "$artifacts"
[ -d "$work/.seeds" ] || "$root/fuzz/make-seeds.sh" "$work/.seeds" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/fuzz/fuzz_*; do targets+=("$(basename "$bin" | sed 's/^fuzz_//')"); done
fi
status=0
for name in "${targets[@]}"; do
  corpus="$work/$name"
  mkdir -p "$corpus"
  extra=()
  for d in "$root/fuzz/corpus/$name" "$root/tests/data/crashers/$name" "$work/.seeds/$name"; do
    [ -d "$d" ] && extra+=("$d")
  done
  log="$artifacts/$name.campaign.log"
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=30 "${FUZZ_LIMITS[@]}" \
    -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "$corpus" "${extra[@]}" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  verdict=ok
  [ $rc -ne 0 ] && verdict="FAILED (see $log)" && status=1
  echo "$name: ${runs:-0} runs in ${seconds} s, $verdict"
done
exit $status
