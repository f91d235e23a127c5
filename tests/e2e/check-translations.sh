#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a text the program shows has no finished English translation: runs lupdate over
# the sources into a copy of translations/framora_en.ts and lists every text that is new there
# (missing from the translation) or still marked unfinished, and every Japanese text of the
# window's code that does not go through the translation at all. To fix: wrap the latter in tr()
# (QT_TRANSLATE_NOOP for a constant), run tools/update-translations.sh, translate what it added,
# commit translations/framora_en.ts.
set -euo pipefail
cd "$(dirname "$0")/../.."
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

# Japanese texts the window's layers hold without going through the translation (a new message
# written as QStringLiteral("...")): they would stay Japanese in the English window. Font names
# are not texts. The layers below (framework, decoder, imagestore ...) only put Japanese into
# exceptions for the log.
japanese='[\x{3040}-\x{30ff}\x{4e00}-\x{9fff}]'
grep -rnP "(QStringLiteral|fromUtf8|QString)\(\s*\"[^\"]*$japanese|=\s*\"[^\"]*$japanese" \
    capture shell browser --include='*.cpp' --include='*.h' |
  grep -vP '^\S+:\d+:\s*//' | grep -vP 'QT_TRANSLATE_NOOP|QT_TR_NOOP|\btr\(|ゴシック' > "$work/untranslated" || true
if [ -s "$work/untranslated" ]; then
  echo "Japanese texts not passed through the translation (use tr(), or QT_TRANSLATE_NOOP for a constant):"
  sed 's/^/  /' "$work/untranslated"
fi

if [ -s "$work/unfinished" ]; then
  echo "translations/framora_en.ts lacks English for $(wc -l < "$work/unfinished") text(s) (missing or unfinished):"
  cat "$work/unfinished"
  echo "Update it with: bash tools/update-translations.sh, then translate the texts above."
  exit 1
fi
[ ! -s "$work/untranslated" ] || exit 1
# lupdate drops texts the sources no longer have; a difference then is a stale entry.
if ! cmp -s translations/framora_en.ts "$copy"; then
  echo "translations/framora_en.ts is not as lupdate writes it (texts gone from the sources?):"
  diff -u translations/framora_en.ts "$copy" | head -n 40
  echo "Update it with: bash tools/update-translations.sh"
  exit 1
fi
echo "English translation: every text translated ($(grep -c '<message' translations/framora_en.ts) texts)"
