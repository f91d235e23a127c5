#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails on an #include that points up the layers of the program (docs/ARCHITECTURE.md draws
# them): a folder includes only folders of lower layers. tests/, bench/ and tools/ stand beside
# the layers and may include any of them.
# Usage: tests/e2e/check-layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"

# One line a layer, lowest first.
layers=(
  "framework"
  "decoder graphics"
  "imagestore components"
  "browser shell"
  "capture grab"
  "app demos"
)
declare -A layer_of
for i in "${!layers[@]}"; do
  for folder in ${layers[$i]}; do
    layer_of[$folder]=$i
  done
done

found=0
for folder in "${!layer_of[@]}"; do
  [ -d "$folder" ] || { echo "check-layers: no folder $folder"; found=1; continue; }
  while IFS=: read -r file line text; do
    included=$(sed -E 's/.*#[[:space:]]*include[[:space:]]+"([^/"]+)\/.*/\1/' <<<"$text")
    [ "$included" = "$folder" ] && continue
    target=${layer_of[$included]:-}
    [ -n "$target" ] || continue
    if (( target >= layer_of[$folder] )); then
      echo "$file:$line: $folder (layer $((layer_of[$folder]))) includes $included (layer $target): $text"
      found=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^/"]+/' --include='*.h' --include='*.cpp' "$folder" || true)
done
# A folder of sources the list above does not place is a folder nobody decided a layer for.
for dir in */; do
  dir=${dir%/}
  case $dir in tests|bench|tools|docs|packaging|translations|build*) continue ;; esac
  if [ -z "${layer_of[$dir]:-}" ] && compgen -G "$dir/*.cpp" >/dev/null; then
    echo "check-layers: folder $dir has sources but no layer"
    found=1
  fi
done
[ "$found" -eq 0 ] && echo "check-layers: every include points down the layers"
exit "$found"
