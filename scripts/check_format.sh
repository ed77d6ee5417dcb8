#!/usr/bin/env bash
# Fails when a C++ file of the tree drifts from .clang-format; lists the files that do.
# Usage: scripts/check_format.sh   (scripts/test.sh runs it before building)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
drift=()
while IFS= read -r f; do
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then drift+=("$f"); fi
done < <(git ls-files '*.cpp' '*.hpp')
if ((${#drift[@]} > 0)); then
  echo "These files drift from .clang-format (run clang-format -i on them):"
  printf '  %s\n' "${drift[@]}"
  exit 1
fi
