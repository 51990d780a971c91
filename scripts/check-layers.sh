#!/usr/bin/env bash
# check-layers.sh: the library's folders form layers, and a file may include only its own
# folder's headers and those of lower layers. Prints every include that reaches up or sideways
# and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
# A new folder gets its rank here before its first file builds.
declare -A rank=([platform]=0 [core]=1 [quant]=2 [lzw]=2 [codecs]=3 [scan]=4 [io]=5 [proc]=6
                 [view]=7 [multi]=8 [vect]=8 [backends]=11)
# What a folder may use besides the lower layers.
declare -A extra=()
bad=0
while IFS= read -r file; do
  from=${file#quillo/}
  from=${from%%/*}
  [ -n "${rank[$from]+x}" ] || { echo "$file: folder $from has no layer"; bad=1; continue; }
  while IFS= read -r to; do
    [ "$to" = "$from" ] && continue
    [ -n "${rank[$to]+x}" ] || { echo "$file: includes the unknown folder $to"; bad=1; continue; }
    if [ "${rank[$to]}" -ge "${rank[$from]}" ] && [[ " ${extra[$from]:-} " != *" $to "* ]]; then
      echo "$file: a $from file includes quillo/$to/"
      bad=1
    fi
  done < <(grep -oE '^#include "quillo/[a-z]+/' "$file" | sed -E 's|.*quillo/([a-z]+)/|\1|' | sort -u)
done < <(find quillo -mindepth 2 -name '*.h' -o -mindepth 2 -name '*.cpp' | sort)
# Headers in a detail/ folder are the library's own and are not installed: no public header may
# include one.
while IFS= read -r file; do
  if grep -qE '^#include "quillo/[a-z]+/detail/' "$file"; then
    echo "$file: a public header includes a detail/ header"
    bad=1
  fi
done < <(find quillo -name '*.h' -not -path '*/detail/*' | sort)
[ "$bad" -eq 0 ] && echo "layers: every include goes down, and public headers use no detail/ header"
exit "$bad"
