#!/usr/bin/env bash
# replay.sh TARGET DIR...: runs TARGET once on every file found in the DIRs (none is fine).
set -eu
target=$1
shift
files=()
for dir in "$@"; do
  [ -d "$dir" ] || continue
  while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$dir" -type f -print0 | sort -z)
done
[ ${#files[@]} -eq 0 ] && exit 0
. "$(dirname "$0")/limits.sh"
# libFuzzer runs each named file once and exits non-zero on a crash, leak, sanitizer report, an
# allocation over the limits, or an input that runs longer than the timeout: a saved hang fails
# in a minute instead of holding the suite for libFuzzer's default twenty. The whole set of
# saved inputs of a target replays in a few seconds, so the margin is wide even on a loaded
# machine.
exec "$target" -timeout=60 "${FUZZ_LIMITS[@]}" "${files[@]}"
