#!/usr/bin/env bash
# Fails when a file includes from a folder above its own. The folders, bottom
# to top; tests/<folder> sits where <folder> sits. app/main.cpp is the program
# itself and may include both front ends.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

layers=(net engine files model hosts config routing tunnels adapters app app/qt)

rank_of() {  # the rank of the folder a path lies in; nothing outside them
  local path="$1" best="" i
  for i in "${!layers[@]}"; do
    case "$path" in "${layers[$i]}"/*) best=$i ;; esac
  done
  echo "$best"
}

status=0
while IFS= read -r file; do
  [ "$file" = app/main.cpp ] && continue
  own_rank="$(rank_of "${file#tests/}")"
  [ -n "$own_rank" ] || continue
  while IFS=: read -r line target; do
    target_rank="$(rank_of "${target#tests/}")"
    if [ -n "$target_rank" ] && [ "$target_rank" -gt "$own_rank" ]; then
      echo "$file:$line: includes $target from a layer above its own" >&2
      status=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
done < <(git ls-files '*.cpp' '*.h')
if [ $status -eq 0 ]; then echo "Layers: every include points down"; fi
exit $status
