#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Brings the English translation up to date with the texts in the sources: new texts are added
# as unfinished, texts gone from the sources are dropped, translations already made are kept.
# Then translate the unfinished ones (Qt Linguist: linguist translations/framora_en.ts, or by
# hand) and run tests/e2e/check-translations.sh.
# Usage: tools/update-translations.sh [TS_FILE]   (default translations/framora_en.ts)
set -euo pipefail
cd "$(dirname "$0")/.."
ts=${1:-translations/framora_en.ts}
lupdate=${LUPDATE:-/usr/lib/qt6/bin/lupdate}
# The folders whose texts the window shows; the Japanese texts in them are the source texts.
# No line numbers are kept, so that moving code never changes the file.
"$lupdate" -silent -locations none -no-obsolete -source-language ja_JP -target-language en_US \
  app capture shell browser components imagestore graphics decoder framework -ts "$ts" \
  2> >(grep -v "Ignoring definition of undeclared qualified class" >&2)
