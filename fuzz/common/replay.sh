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
# libFuzzer runs each named file once and exits non-zero on a crash, leak, sanitizer report or
# an allocation over the limits.
exec "$target" "${FUZZ_LIMITS[@]}" "${files[@]}"
