#!/usr/bin/env bash
# Checks the include layout of src/: a folder's private headers (*_internal.hpp) are included
# only inside that folder (its subfolders count as the folder), core/ includes no phase, only
# program/ includes program/, and no two phase folders include each other. Prints each breach
# and exits 1 when there is one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root/src"
status=0
edges=""
while IFS= read -r file; do
  own="${file%%/*}"
  while IFS= read -r target; do
    other="${target%%/*}"
    [[ -d "$other" ]] || continue
    [[ "$other" == "$own" ]] && continue
    if [[ "$target" == *_internal.hpp ]]; then
      echo "$file: includes another folder's private header $target"
      status=1
    fi
    if [[ "$own" == core ]]; then
      echo "$file: core includes the phase header $target"
      status=1
    fi
    if [[ "$other" == program ]]; then
      echo "$file: only the conductor includes $target"
      status=1
    fi
    [[ "$other" == core ]] || edges+="$own $other"$'\n'
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.cpp' -o -name '*.hpp' | sed 's|^\./||' | sort)

# Two phases that include each other.
pairs="$(printf '%s' "$edges" | sort -u)"
while read -r a b; do
  [[ -n "$a" ]] || continue
  [[ "$a" < "$b" ]] || continue
  if grep -qx "$b $a" <<<"$pairs"; then
    echo "$a/ and $b/ include each other"
    status=1
  fi
done <<<"$pairs"
exit "$status"
