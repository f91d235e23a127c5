#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file the repository holds says its licence in an SPDX line near its top (after
# a script's #! line or an XML declaration), so that a file added later without it is caught.
# Usage: tests/e2e/check-spdx.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
licence='SPDX-License-Identifier: GPL-3.0-or-later'
missing=0
checked=0
while IFS= read -r -d '' file; do
  checked=$(( checked + 1 ))
  if ! head -n 3 "$file" | grep -qF "$licence"; then
    echo "no '$licence' line at the top of $file"
    missing=$(( missing + 1 ))
  fi
done < <(git ls-files -z --cached --others --exclude-standard -- \
           '*.cpp' '*.h' '*.ui' '*.sh' '*.cmake' 'CMakeLists.txt' '*/CMakeLists.txt' 'packaging/completion/*')
[ "$missing" -eq 0 ] || { echo "$missing of $checked source files lack the SPDX line"; exit 1; }
echo "SPDX line in all $checked source files"
