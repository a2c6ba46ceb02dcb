#!/usr/bin/env bash
# make install: installs the build into $DESTDIR$PREFIX with cmake --install and
# lists every file it writes, as it writes it, in the prefix's own list of
# installed files, share/robot-simulator/installed-files.txt (the paths as
# installed, without DESTDIR). An install that fails half-way has listed what it
# wrote, so make uninstall with the same PREFIX and DESTDIR removes it; a second
# install into the same prefix adds to the list, so one uninstall removes both.
# PREFIX and DESTDIR come from the environment, never through the shell's
# parsing, and for a real install (no DESTDIR) the desktop's caches are refreshed; what cmake cannot take is refused before anything is written (see
# destination.sh).
# usage: ROBOSIM_PREFIX=DIR [ROBOSIM_DESTDIR=DIR] install.sh BUILD_DIR (as make install runs it)
set -euo pipefail
build=${1:?usage: install.sh BUILD_DIR}
here=$(dirname "$0")
# shellcheck source=destination.sh
source "$here/destination.sh"

[[ -f $build/cmake_install.cmake ]] ||
  { echo "make install: nothing is built in $build; run make build first" >&2; exit 1; }
check_destination install
list=$DESTDIR$PREFIX/$INSTALLED_LIST
mkdir -p -- "$(dirname -- "$list")" && touch -- "$list" || {
  echo "make install: cannot write the list of installed files, $list; nothing was installed" >&2
  exit 1
}

# cmake says "-- Installing: FILE" (or "-- Up-to-date: FILE") before it writes
# each file, and flushes each line: the file is listed before it exists.
record() {
  local line path
  while IFS= read -r line; do
    printf '%s\n' "$line"
    case $line in
    "-- Installing: "* | "-- Up-to-date: "*)
      path=${line#*: }
      printf '%s\n' "${path#"$DESTDIR"}" >>"$list"
      ;;
    esac
  done
}

status=0
DESTDIR=$DESTDIR cmake --install "$build" --prefix "$PREFIX" | record || status=$?
# One line a file, however many installs listed it.
awk '!seen[$0]++' "$list" >"$list.new" && mv -f -- "$list.new" "$list"
if ((status != 0)); then
  echo "make install: the install into $DESTDIR$PREFIX failed; what it wrote is listed in $list," \
    "and make uninstall with the same PREFIX and DESTDIR removes it" >&2
  exit 1
fi
[[ -n $DESTDIR ]] || bash "$here/refresh_desktop.sh" "$PREFIX"
