#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from a normal build folder, checks it with lintian (no errors),
# installs it with apt-get, runs both programs from their installed paths without a display,
# and removes it again. Run as root on Debian 12.
# Usage: tests/e2e/check-package.sh [BUILD_DIR]
set -euo pipefail
build=$(realpath "${1:-build}")
rm -f "$build"/framora_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/framora_*_amd64.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "cpack made no framora_<version>_amd64.deb in $build"; exit 1; }
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends
# Warnings and notes are shown; only errors fail. (Its note about running as root is not
# about the package.)
findings=0
lintian --fail-on error "$deb" > "$build/lintian.log" 2>&1 || findings=$?
grep -v "running with root privileges is not recommended" "$build/lintian.log" || true
[ "$findings" -eq 0 ] || { echo "lintian finds errors in $(basename "$deb")"; exit 1; }
echo "lintian: no errors"
dpkg-deb --contents "$deb" > "$build/package-contents.txt"
for file in usr/bin/framora usr/bin/framora-grab usr/share/man/man1/framora.1.gz \
            usr/share/man/man1/framora-grab.1.gz usr/share/bash-completion/completions/framora-grab \
            usr/share/applications/org.framora.Framora.desktop \
            usr/share/metainfo/org.framora.Framora.metainfo.xml \
            usr/share/icons/hicolor/256x256/apps/org.framora.Framora.png \
            usr/share/doc/framora/copyright usr/share/doc/framora/guide/ja/index.html \
            usr/share/doc/framora/guide/en/index.html usr/share/bash-completion/completions/framora; do
  grep -q " \./$file\$" "$build/package-contents.txt" || { echo "not in the package: $file"; exit 1; }
done

remove() { DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq framora >/dev/null; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
trap remove EXIT
# No display, no platform chosen: both answer before any window system is asked for.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/framora --version
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/framora-grab --help >/dev/null
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/framora-grab --version
# The manual pages are checked in the package's contents above: minimal systems (container
# images) tell dpkg to leave /usr/share/man out when installing.
echo "installed, ran and removed: $(basename "$deb")"
