#!/usr/bin/env bash
# Installs the build into a DESTDIR, as `make install DESTDIR=...` does, and uses
# the installed programs from there as a user would, from a folder of their own:
# the window's and the runner's --version and --help, a headless run of an
# installed example world, robosim imported from the installed package, a sweep
# of two runs, every manual page, the desktop entry, the metainfo, the MIME type
# and the icons. Then an install under a prefix that python3 does not search by
# itself, whose sweep needs no PYTHONPATH; then the uninstall leaves nothing.
# Nothing installed may name the build or the source tree.
# usage: installed_programs.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SOURCE=$(cd "$2" && pwd)
PYTHON=/usr/bin/python3

# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"
mkdir -p "$root/home" "$root/work"
export HOME=$root/home
unset PYTHONPATH DISPLAY WAYLAND_DISPLAY
cd "$root/work"

install_into() { # DESTDIR PREFIX
  DESTDIR=$1 cmake --install "$BUILD" --prefix "$2" --component robot-simulator >"$root/install.log" ||
    { cat "$root/install.log" >&2; fail "cmake --install into $1$2"; }
}

step "install into a DESTDIR, prefix /usr/local"
dest=$root/dest
install_into "$dest" /usr/local
P=$dest/usr/local
pyver=$($PYTHON -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
package=$P/lib/python$pyver/dist-packages
app_id=$(basename "$P"/share/applications/*.desktop .desktop)
for file in bin/robot-simulator bin/robot-simulator-headless bin/robosim-sweep \
  "lib/python$pyver/dist-packages/robosim/__init__.py" \
  share/robot-simulator/worlds/maze.dat share/robot-simulator/maps/cave.yaml \
  share/robot-simulator/examples/python/plot_path.py share/doc/robot-simulator/README.md \
  share/doc/robot-simulator/docs/headless.md share/doc/robot-simulator/copyright \
  share/man/man1/robot-simulator.1.gz share/man/man1/robot-simulator-headless.1.gz \
  share/man/man1/robosim-sweep.1.gz "share/metainfo/$app_id.metainfo.xml" \
  share/mime/packages/robot-simulator.xml share/icons/hicolor/scalable/apps/robot-simulator.svg \
  share/icons/hicolor/48x48/apps/robot-simulator.png \
  share/bash-completion/completions/robot-simulator-headless; do
  [[ -f $P/$file ]] || fail "$file was not installed"
done
ls "$package"/robosim/_robosim*.so >/dev/null || fail "the extension was not installed"
[[ -z $(find "$dest" -name __pycache__ -o -name '*.pyc') ]] || fail "byte code was installed"
diff <(cd "$SOURCE/worlds" && ls ./*.dat) <(cd "$P/share/robot-simulator/worlds" && ls ./*.dat) ||
  fail "the installed worlds are not those of worlds/"

step "nothing installed names the build or the source tree"
if grep -rlI -e "$BUILD" -e "$SOURCE" "$dest"; then fail "the files above name $BUILD or $SOURCE"; fi
for elf in "$P"/bin/robot-simulator "$P"/bin/robot-simulator-headless "$package"/robosim/_robosim*.so; do
  ! readelf -d "$elf" | grep -E 'RPATH|RUNPATH' || fail "$elf has a run path"
done

step "the programs' --version and --help"
for program in robot-simulator robot-simulator-headless; do
  [[ $("$P/bin/$program" --version) == "$program $version" ]] || fail "$program --version"
  "$P/bin/$program" --help | grep -q "^Usage: $program" || fail "$program --help"
done
sweep_version=$(PYTHONPATH=$package "$P/bin/robosim-sweep" --version)
[[ $sweep_version == "robosim-sweep $version" ]] || fail "robosim-sweep --version: $sweep_version"
code=0
QT_QPA_PLATFORM=offscreen "$P/bin/robot-simulator" --no-such-option 2>"$root/err" || code=$?
[[ $code -eq 2 ]] && grep -q "unknown option '--no-such-option'" "$root/err" ||
  fail "the window took a bad option (exit code $code)"

step "a headless run of an installed world"
"$P/bin/robot-simulator-headless" --world "$P/share/robot-simulator/worlds/maze.dat" --seed 5 \
  --ticks 600 --json --png maze.png >summary.json
$PYTHON - <<'PY' || fail "the run's summary"
import json
summary = json.load(open("summary.json"))
assert summary["ticks"] == 600, summary
PY
[[ -s maze.png ]] || fail "no picture"

step "robosim from the installed package"
imported=$(PYTHONPATH=$package $PYTHON -c 'import robosim; print(robosim.__file__, robosim.__version__)')
[[ $imported == "$package/robosim/__init__.py $version" ]] || fail "import robosim gave: $imported"
PYTHONPATH=$package $PYTHON - "$P/share/robot-simulator/worlds/maze.dat" <<'PY' || fail "a simulation"
import sys
import robosim
with robosim.Simulation(seed=3, world=sys.argv[1]) as sim:
    sim.step(300)
    assert sim.render().shape == (480, 640, 3)
PY

step "a sweep of two runs"
PYTHONPATH=$package timeout 120 "$P/bin/robosim-sweep" --world "$P/share/robot-simulator/worlds/maze.dat" \
  --seeds 1-2 --ticks 300 --workers 1 --out sweep.csv 2>"$root/sweep.log" ||
  { cat "$root/sweep.log" >&2; fail "the sweep"; }
[[ $(($(wc -l <sweep.csv) - 1)) -eq 2 ]] || fail "the sweep wrote $(wc -l <sweep.csv) lines"

step "the manual pages"
for page in "$P"/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  text=$(MANWIDTH=80 man --warnings -l "$page" 2>"$root/man.err") || fail "man -l $page"
  [[ ! -s $root/man.err ]] || { cat "$root/man.err" >&2; fail "man warns about $name"; }
  for part in NAME SYNOPSIS DESCRIPTION OPTIONS "SEE ALSO" "$name $version" --version; do
    [[ $text == *"$part"* ]] || fail "$name(1) has no '$part'"
  done
done

step "desktop entry, metainfo, MIME type and icons"
desktop=$P/share/applications/$app_id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$P/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate"
appstreamcli validate-tree --no-net "$P" >/dev/null || fail "appstreamcli validate-tree"
entry() { sed -n "s/^$1=//p" "$desktop"; }
exec_line=$(entry Exec)
[[ -x $P/bin/${exec_line%% *} && $exec_line == *%f ]] || fail "Exec=$exec_line"
[[ -f $P/share/icons/hicolor/scalable/apps/$(entry Icon).svg ]] || fail "Icon=$(entry Icon)"
mime_type=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$P/share/mime/packages/robot-simulator.xml")
[[ $(entry MimeType) == "$mime_type;" ]] || fail "MimeType=$(entry MimeType), the type is $mime_type"
grep -q "<mediatype>$mime_type</mediatype>" "$P/share/metainfo/$app_id.metainfo.xml" ||
  fail "the metainfo does not name $mime_type"
cp -r "$P/share/mime" "$root/mime"
update-mime-database "$root/mime" >/dev/null || fail "update-mime-database"
grep -q ":$mime_type:\*\.dat$" "$root/mime/globs2" || fail "*.dat is not $mime_type"
for png in "$P"/share/icons/hicolor/*x*/apps/robot-simulator.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  [[ $($PYTHON -c 'import sys; from PIL import Image; w, h = Image.open(sys.argv[1]).size; print(f"{w}x{h}")' "$png") == "$size" ]] ||
    fail "$png is not $size"
done

step "a prefix python3 does not search: the sweep finds its package by itself"
opt=$root/opt
install_into "" "$opt"
[[ $($opt/bin/robosim-sweep --version) == "robosim-sweep $version" ]] || fail "robosim-sweep --version"
timeout 120 "$opt/bin/robosim-sweep" --world "$opt/share/robot-simulator/worlds/room-with-doorway.dat" \
  --seeds 3-4 --ticks 300 --workers 1 --out opt.csv 2>"$root/sweep.log" ||
  { cat "$root/sweep.log" >&2; fail "the sweep under $opt"; }
[[ $(($(wc -l <opt.csv) - 1)) -eq 2 ]] || fail "the sweep under $opt wrote $(wc -l <opt.csv) lines"

step "the uninstall leaves nothing behind"
manifest=$BUILD/install_manifest_robot-simulator.txt
bash "$SOURCE/scripts/uninstall.sh" "$manifest" >/dev/null
[[ -z $(find "$opt" -type f) ]] || fail "left under $opt: $(find "$opt" -type f | head -3)"
install_into "$dest" /usr/local
PYTHONPATH=$package $PYTHON -c 'import robosim' # leaves byte code, as any use would
DESTDIR=$dest bash "$SOURCE/scripts/uninstall.sh" "$manifest" >/dev/null
[[ -z $(find "$dest" -type f) ]] || fail "left under $dest: $(find "$dest" -type f | head -3)"
[[ -z $(find "$dest" -type d -name robot-simulator -o -type d -name robosim) ]] ||
  fail "folders of ours are left"
echo "ok: installed, used and uninstalled"
