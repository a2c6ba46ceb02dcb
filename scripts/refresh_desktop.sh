#!/usr/bin/env bash
# After make install or make uninstall into PREFIX: brings the desktop's caches up
# to date with the menu entry, the world-file MIME type and the icon. Each tool
# that is missing is skipped (the desktop then reads the files on its next start).
# usage: refresh_desktop.sh PREFIX
set -uo pipefail
share=${1:?usage: refresh_desktop.sh PREFIX}/share

refresh() {
  local tool=$1 folder=${*: -1}
  command -v "$tool" >/dev/null && [[ -d $folder ]] || return 0
  "$@" >/dev/null 2>&1 || echo "refresh_desktop: $* failed" >&2
}
refresh update-mime-database "$share/mime"
refresh update-desktop-database -q "$share/applications"
refresh gtk-update-icon-cache -q -t -f "$share/icons/hicolor"
exit 0
