#!/usr/bin/env bash
# The Python package as the README installs it: `pip install --no-build-isolation .`
# from the source tree into a virtual environment made with --system-site-packages
# (offline: setuptools and the dependencies are Debian's), then the plotted
# example run with the environment's python from another folder; the wheel of
# `python3 -m build --wheel --no-isolation`, with the extension and the command;
# `pip install .[gym]` (Gymnasium from the package index) in a fresh one; and
# `pip install .` with a newer Python, when the machine has one.
# usage: pip_install.sh SOURCE_DIR WORK_DIR
# WORK_DIR keeps the build between runs (ROBOSIM_PIP_BUILD_DIR), so a second run
# only rebuilds what changed.
set -euo pipefail
SOURCE=$(cd "$1" && pwd)
mkdir -p "$2"
WORK=$(cd "$2" && pwd)
export ROBOSIM_PIP_BUILD_DIR=$WORK/build
unset PYTHONPATH

# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

# Runs the pip of the virtual environment VENV in the source tree, its output
# added to $root/LOG.log, whose end is shown when it fails.
pip_in() {
  local venv=$1 log=$root/$2.log
  shift 2
  (cd "$SOURCE" && "$venv/bin/pip" "$@") >>"$log" 2>&1 ||
    { tail -n 30 "$log" >&2; fail "pip $* in $venv"; }
}

step "the wheel"
before=$(git -C "$SOURCE" status --porcelain 2>/dev/null || true)
(cd "$SOURCE" && /usr/bin/python3 -m build --wheel --no-isolation --outdir "$root/dist") \
  >"$root/build.log" 2>&1 || { tail -n 30 "$root/build.log" >&2; fail "python3 -m build"; }
wheel=$(ls "$root"/dist/robosim-"$version"-*.whl) || fail "no wheel of version $version"
/usr/bin/python3 - "$wheel" <<'PY' || fail "the wheel's contents"
import sys
import zipfile

names = zipfile.ZipFile(sys.argv[1]).namelist()
for wanted in ("robosim/__init__.py", "robosim/env.py", "robosim/sweep.py", "robosim/sweep_report.py"):
    assert wanted in names, (wanted, names)
assert any(n.startswith("robosim/_robosim.") and n.endswith(".so") for n in names), names
entry_points = next(n for n in names if n.endswith(".dist-info/entry_points.txt"))
assert "robosim-sweep = robosim.sweep:main" in zipfile.ZipFile(sys.argv[1]).read(entry_points).decode()
PY
[[ $(git -C "$SOURCE" status --porcelain 2>/dev/null || true) == "$before" ]] ||
  fail "the build left files in the source tree: $(git -C "$SOURCE" status --porcelain)"

step "pip install into a virtual environment"
venv=$root/venv
/usr/bin/python3 -m venv --system-site-packages "$venv"
pip_in "$venv" pip install --no-build-isolation .

step "the example and the command from another folder"
mkdir "$root/elsewhere"
cd "$root/elsewhere"
imported=$("$venv/bin/python" -c 'import robosim; print(robosim.__file__, robosim.__version__)')
[[ $imported == "$venv/"*"/robosim/__init__.py $version" ]] || fail "import robosim gave: $imported"
printed=$("$venv/bin/python" "$SOURCE/examples/python/plot_path.py" --ticks 600 --out path.png) ||
  fail "plot_path.py"
[[ $printed =~ ^path\.png:\ [0-9]+\ targets\ reached$ ]] || fail "plot_path.py printed: $printed"
"$venv/bin/python" -c 'from PIL import Image; assert Image.open("path.png").size == (600, 600)' ||
  fail "plot_path.py's picture"
[[ $("$venv/bin/robosim-sweep" --version) == "robosim-sweep $version" ]] || fail "robosim-sweep --version"
step "pip install .[gym] into a fresh virtual environment"
# Gymnasium comes from the package index, the version a user gets today; the
# module is built again from the kept build folder.
gym_venv=$root/gym-venv
/usr/bin/python3 -m venv --system-site-packages "$gym_venv"
pip_in "$gym_venv" pip-gym install --no-build-isolation '.[gym]'
"$gym_venv/bin/python" - <<'PY' || fail "the environments under the installed Gymnasium"
import sys

import gymnasium
from gymnasium.utils.env_checker import check_env

from robosim.env import NavigationEnv, VectorNavigationEnv

assert gymnasium.__file__.startswith(sys.prefix), gymnasium.__file__
check_env(NavigationEnv(max_ticks=300), skip_render_check=True)
envs = gymnasium.wrappers.vector.RecordEpisodeStatistics(VectorNavigationEnv(4, max_ticks=20))
envs.reset(seed=0)
ended = 0
for _ in range(40):
    *_, info = envs.step(envs.action_space.sample())
    if "_episode" in info:
        ended += int(info["_episode"].sum())
assert ended > 0, "no episode statistics in 40 steps of 20-tick episodes"
print("gymnasium", gymnasium.__version__)
PY

step "pip install . with another Python, in the same build folder"
# A newer CPython than Debian's, when the machine has one (pyenv's, say): its own
# build beside the first, with only numpy from the package index.
other_python() {
  local candidates=() python
  if command -v pyenv >/dev/null; then candidates+=("$(pyenv root)"/versions/3.1[2-9]*/bin/python3); fi
  for python in python3.14 python3.13 python3.12; do
    candidates+=("$(command -v "$python" || true)")
  done
  for python in "${candidates[@]}"; do
    # pyenv's shims exist for versions that are installed but not selected.
    if [[ -x $python ]] && "$python" -c 'import sys
assert sys.version_info >= (3, 12) and sys.base_prefix != "/usr"' 2>/dev/null; then
      echo "$python"
      return
    fi
  done
}
other=$(other_python)
if [[ -n $other ]]; then
  other_venv=$root/other-venv
  "$other" -m venv "$other_venv"
  pip_in "$other_venv" pip-other install --no-deps .
  pip_in "$other_venv" pip-other install numpy
  "$other_venv/bin/python" - <<'PY' || fail "robosim under $other"
import sys

import numpy as np

import robosim
from robosim.env import VectorNavigationEnv

assert robosim.__file__.startswith(sys.prefix), robosim.__file__
envs = VectorNavigationEnv(4)
envs.reset(seed=0)
envs.step(np.zeros((4, 2)))
print("robosim under Python", sys.version.split()[0])
PY
else
  echo "no Python but Debian's here"
fi

echo "ok: pip install ., .[gym] and the wheel"
