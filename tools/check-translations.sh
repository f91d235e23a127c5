#!/usr/bin/env bash
# Fails when a text the program shows has no finished English translation: runs lupdate over
# the sources into a copy of translations/framora_en.ts and lists every text that is new there
# (missing from the translation) or still marked unfinished. To fix: tools/update-translations.sh,
# translate what it added, commit translations/framora_en.ts.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/framora_en.ts
cp translations/framora_en.ts "$copy"
bash tools/update-translations.sh "$copy"

# One line per text without a finished translation: "context: source" (newlines shown as \n).
awk '
  /<name>/ { context = $0; sub(/.*<name>/, "", context); sub(/<\/name>.*/, "", context) }
  /<source>/ { collecting = 1; source = "" }
  collecting { source = source (source == "" ? "" : "\\n") $0 }
  /<\/source>/ { collecting = 0; sub(/^[ \t]*<source>/, "", source); sub(/<\/source>.*/, "", source) }
  /<translation type="unfinished"/ { print "  " context ": " source }
' "$copy" > "$work/unfinished"

if [ -s "$work/unfinished" ]; then
  echo "translations/framora_en.ts lacks English for $(wc -l < "$work/unfinished") text(s) (missing or unfinished):"
  cat "$work/unfinished"
  echo "Update it with: bash tools/update-translations.sh, then translate the texts above."
  exit 1
fi
# lupdate drops texts the sources no longer have; a difference then is a stale entry.
if ! cmp -s translations/framora_en.ts "$copy"; then
  echo "translations/framora_en.ts is not as lupdate writes it (texts gone from the sources?):"
  diff -u translations/framora_en.ts "$copy" | head -n 40
  echo "Update it with: bash tools/update-translations.sh"
  exit 1
fi
echo "English translation: every text translated ($(grep -c '<message' translations/framora_en.ts) texts)"
