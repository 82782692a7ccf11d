#!/usr/bin/env bash
# `make install DESTDIR=… PREFIX=/usr` of the build in $1: every file in place, a desktop entry
# the desktop accepts, a user unit that starts the installed program headless.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null

status=0
for file in bin/vistaro-host bin/vistaro-client; do
  [ -x "$stage/usr/$file" ] || { echo "not installed as a program: $file"; status=1; }
done
for file in share/locale/en/LC_MESSAGES/vistaro-host.mo share/applications/vistaro-host.desktop \
    share/icons/hicolor/scalable/apps/vistaro-host.svg lib/systemd/user/vistaro-host.service; do
  [ -s "$stage/usr/$file" ] || { echo "not installed: $file"; status=1; }
done
desktop-file-validate "$stage/usr/share/applications/vistaro-host.desktop" || status=1
icon=$(sed -n 's/^Icon=//p' "$stage/usr/share/applications/vistaro-host.desktop")
[ -s "$stage/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || { echo "no icon named $icon"; status=1; }
grep -qx 'ExecStart=/usr/bin/vistaro-host --headless' "$stage/usr/lib/systemd/user/vistaro-host.service" ||
  { echo "the unit does not start the installed host headless"; status=1; }
exit $status
