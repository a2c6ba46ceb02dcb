#!/usr/bin/env bash
# make install and make uninstall as a user types them, into throwaway prefixes:
# two prefixes, each uninstalled alone; an install that fails half-way, undone
# by make uninstall; prefixes and DESTDIRs with quotes, spaces, semicolons and
# dollar signs, whose installed robosim-sweep runs; and the names that cannot
# work (a backslash, a "$" make reads as its variable, a relative or empty
# prefix, a line break), refused before anything is written.
# usage: make_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SOURCE=$(cd "$2" && pwd)

# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
unset PYTHONPATH DISPLAY WAYLAND_DISPLAY

mk() { make -s --no-print-directory -C "$SOURCE" BUILD_DIR="$BUILD" "$@"; }

# The files under a folder, but for the caches the desktop's tools write into
# the prefix's shared folders after an install or an uninstall.
files_under() {
  [[ -d $1 ]] || return 0
  find "$1" -type f ! -path '*/share/mime/*' ! -name mimeinfo.cache ! -name icon-theme.cache | sort
}

installs() { # PREFIX [DESTDIR]: installs, then checks that the sweep runs from there
  mk install PREFIX="$1" DESTDIR="${2-}" >"$root/install.log" 2>&1 ||
    { cat "$root/install.log" >&2; fail "make install PREFIX=$1 DESTDIR=${2-}"; }
  local sweep=${2-}$1/bin/robosim-sweep
  [[ $("$sweep" --version 2>&1) == "robosim-sweep $version" ]] ||
    fail "$sweep --version: $("$sweep" --version 2>&1 | tail -n 1)"
}

uninstalls() { # PREFIX [DESTDIR]: uninstalls, and nothing of the install is left
  mk uninstall PREFIX="$1" DESTDIR="${2-}" >"$root/uninstall.log" 2>&1 ||
    { cat "$root/uninstall.log" >&2; fail "make uninstall PREFIX=$1 DESTDIR=${2-}"; }
  [[ -z $(files_under "${2-}$1") ]] || fail "left in ${2-}$1: $(files_under "${2-}$1" | head -n 3)"
}

step "two prefixes: each uninstall removes its own files and no other"
a=$root/opt/a b=$root/opt/b
installs "$a"
installs "$b"
before=$(files_under "$b")
[[ $(wc -l <<<"$before") -gt 40 ]] || fail "only $(wc -l <<<"$before") files in $b"
uninstalls "$a"
[[ $(files_under "$b") == "$before" ]] || fail "make uninstall PREFIX=$a changed $b"
uninstalls "$b"

step "an install that fails half-way is undone by make uninstall"
c=$root/opt/c
mkdir -p "$c/share"
echo "not a folder" >"$c/share/man" # the manual pages cannot go there
code=0
mk install PREFIX="$c" >"$root/install.log" 2>&1 || code=$?
[[ $code -ne 0 ]] || fail "an install that could not write its manual pages succeeded"
grep -q "make uninstall with the same PREFIX and DESTDIR removes it" "$root/install.log" ||
  { cat "$root/install.log" >&2; fail "the failed install did not say how to undo it"; }
[[ -x $c/bin/robot-simulator-headless ]] || fail "the install failed before writing anything"
mk uninstall PREFIX="$c" >/dev/null
[[ $(files_under "$c") == "$c/share/man" ]] || fail "left in $c: $(files_under "$c" | head -n 3)"

step "prefixes and DESTDIRs with quotes, spaces, semicolons and dollar signs"
for name in 'pre"fix' "it's" 'a folder' 'semi;colon' 'brace{s}' '*star?' $'not-utf8-\xff'; do
  installs "$root/odd/$name"
  uninstalls "$root/odd/$name"
done
# make reads "$$" as one dollar sign.
mk install PREFIX="$root/odd/dollar\$\$sign" >/dev/null 2>&1 || fail "make install PREFIX=...\$\$sign"
[[ -x $root/odd/dollar\$sign/bin/robosim-sweep ]] || fail "nothing installed into dollar\$sign"
mk uninstall PREFIX="$root/odd/dollar\$\$sign" >/dev/null 2>&1 || fail "make uninstall PREFIX=...\$\$sign"
[[ -z $(files_under "$root/odd/dollar\$sign") ]] || fail "left in dollar\$sign"
stage="$root/stage \"it's\""
installs /usr/local "$stage"
uninstalls /usr/local "$stage"

step "names that cannot work are refused before anything is written"
mkdir -p "$root/refused"
refused() { # MESSAGE ARGUMENTS...
  local message=$1 code=0
  shift
  (cd "$root/refused" && mk install "$@") >"$root/install.log" 2>&1 || code=$?
  [[ $code -ne 0 ]] && grep -qF -- "$message" "$root/install.log" ||
    { cat "$root/install.log" >&2; fail "make install $* (exit code $code)"; }
}
refused "holds a backslash, which cmake takes for a folder separator" PREFIX="$root/refused/back\\slash"
refused "make read '\$s' in PREFIX=$root/refused/dollar\$sign as one of its variables" \
  PREFIX="$root/refused/dollar\$sign"
refused "PREFIX must be an absolute path, not 'relative/folder'" PREFIX=relative/folder
refused "PREFIX is empty" PREFIX=
refused "DESTDIR holds a line break" PREFIX=/usr/local DESTDIR="$root/refused/line"$'\n'"break"
[[ -z $(find "$root/refused" -mindepth 1) ]] || fail "written: $(find "$root/refused" -mindepth 1 | head -n 3)"

code=0
mk uninstall PREFIX="$root/opt/never" >"$root/uninstall.log" 2>&1 || code=$?
[[ $code -ne 0 ]] && grep -q "nothing was installed into $root/opt/never by make install" "$root/uninstall.log" ||
  fail "make uninstall of a prefix never installed into (exit code $code)"
echo "ok: make install and make uninstall, prefix by prefix"
