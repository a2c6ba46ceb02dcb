#!/usr/bin/env bash
# Checks the Debian package that `make deb` built: lintian finds no error or
# warning; its files are where Debian keeps them (programs, the Python package,
# manual pages, desktop entry, metainfo, MIME type, icons, completion, examples,
# docs) and nothing else is (no /usr/local, no byte code, no build paths); its
# dependencies name the libraries and the Python modules and can be met here;
# unpacked into a throwaway root (dpkg -x), its programs run.
# usage: check_deb.sh PACKAGE.deb SOURCE_DIR
set -euo pipefail
DEB=$(realpath "$1")
SOURCE=$(cd "${2:-.}" && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "--- $*"; }

step "lintian"
lintian_status=0
lintian --fail-on error,warning --tag-display-limit 0 "$DEB" >"${TMPDIR:-/tmp}/lintian.$$" 2>&1 ||
  lintian_status=$?
grep -v "running with root privileges" "${TMPDIR:-/tmp}/lintian.$$" || true
rm -f "${TMPDIR:-/tmp}/lintian.$$"
((lintian_status == 0)) || fail "lintian reports errors or warnings (exit code $lintian_status)"

step "the file list"
files=$(dpkg-deb --fsys-tarfile "$DEB" | tar -t | sed 's|^\./|/|' | grep -v '/$')
version=$(dpkg-deb -f "$DEB" Version)
pyver=$(/usr/bin/python3 -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
app_id=$(grep -oE '[^/]+\.desktop$' <<<"$files" | sed 's/\.desktop$//')
[[ -n $app_id ]] || fail "no desktop entry"
package=/usr/lib/python3/dist-packages/robosim
wanted=(
  /usr/bin/robot-simulator /usr/bin/robot-simulator-headless /usr/bin/robosim-sweep
  "$package/__init__.py" "$package/env.py" "$package/sweep.py" "$package/sweep_report.py"
  "$package/_robosim.cpython-${pyver/./}-x86_64-linux-gnu.so"
  /usr/share/man/man1/robot-simulator.1.gz /usr/share/man/man1/robot-simulator-headless.1.gz
  /usr/share/man/man1/robosim-sweep.1.gz
  "/usr/share/applications/$app_id.desktop" "/usr/share/metainfo/$app_id.metainfo.xml"
  /usr/share/mime/packages/robot-simulator.xml
  /usr/share/icons/hicolor/scalable/apps/robot-simulator.svg
  /usr/share/icons/hicolor/48x48/apps/robot-simulator.png
  /usr/share/bash-completion/completions/robot-simulator
  /usr/share/bash-completion/completions/robot-simulator-headless
  /usr/share/bash-completion/completions/robosim-sweep
  /usr/share/doc/robot-simulator/copyright /usr/share/doc/robot-simulator/changelog.gz
  /usr/share/doc/robot-simulator/README.md
  /usr/share/robot-simulator/examples/python/plot_path.py
  /usr/share/robot-simulator/web/robot-simulator.js
)
for world in "$SOURCE"/worlds/*.dat "$SOURCE"/maps/*.yaml; do
  wanted+=("/usr/share/robot-simulator/$(basename "$(dirname "$world")")/$(basename "$world")")
done
# The web page: its own files, the module, and every shipped world beside it.
for page_file in "$SOURCE"/src/web/*.html "$SOURCE"/src/web/*.js; do
  wanted+=("/usr/share/robot-simulator/web/$(basename "$page_file")")
done
for world in "$SOURCE"/worlds/*.dat; do
  wanted+=("/usr/share/robot-simulator/web/worlds/$(basename "$world")")
done
for file in "${wanted[@]}"; do
  grep -qxF -- "$file" <<<"$files" || fail "the package has no $file"
done
strays=$(grep -vE '^/usr/(bin|lib/python3/dist-packages/robosim|share/(man/man1|applications|metainfo|mime/packages|icons/hicolor|bash-completion/completions|doc/robot-simulator|robot-simulator))/' <<<"$files" || true)
[[ -z $strays ]] || fail "files outside the expected folders: $strays"
! grep -qE '__pycache__|\.pyc$' <<<"$files" || fail "the package holds byte code"
[[ $version == "$(sed -n 's/^project(RobotSimulator VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")" ]] ||
  fail "the package's version $version is not the project's"

step "the dependencies"
depends=$(dpkg-deb -f "$DEB" Depends)
echo "$depends"
for needed in "python3 (>= $pyver~)" python3-numpy python3-distributed python3-matplotlib \
  python3-scipy python3-tqdm libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6 libgif7 \
  libpng16-16 libyaml-cpp; do
  [[ $depends == *"$needed"* ]] || fail "the package does not depend on $needed"
done
[[ $depends != *-dev* ]] || fail "the package depends on a -dev package"
apt-get install --simulate --no-install-recommends "$DEB" >/dev/null 2>&1 ||
  fail "apt cannot meet the package's dependencies here"

step "unpacked into a throwaway root"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$DEB" "$root"
mkdir "$root/work"
cd "$root/work"
unset PYTHONPATH
[[ $("$root/usr/bin/robot-simulator-headless" --version) == "robot-simulator-headless $version" ]] ||
  fail "robot-simulator-headless --version"
"$root/usr/bin/robot-simulator-headless" --world "$root/usr/share/robot-simulator/worlds/maze.dat" \
  --seed 4 --ticks 500 --json >summary.json || fail "a headless run"
/usr/bin/python3 -c 'import json; assert json.load(open("summary.json"))["ticks"] == 500' ||
  fail "the headless run's summary"
[[ $(env -u DISPLAY "$root/usr/bin/robot-simulator" --version) == "robot-simulator $version" ]] ||
  fail "robot-simulator --version"
imported=$(PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c 'import robosim; print(robosim.__file__)')
[[ $imported == "$root$package/__init__.py" ]] || fail "import robosim gave $imported"
[[ $(PYTHONPATH=$root/usr/lib/python3/dist-packages "$root/usr/bin/robosim-sweep" --version) == "robosim-sweep $version" ]] ||
  fail "robosim-sweep --version"
man --warnings -l "$root/usr/share/man/man1/robot-simulator-headless.1.gz" 2>&1 >/dev/null | grep . &&
  fail "man warns about robot-simulator-headless(1)"
echo "ok: $(basename "$DEB")"
