#!/usr/bin/env bash
# Installs the Debian packages the project needs, but only those that are missing.
# Runs apt-get through sudo when not root. Safe to run again and again. apt's
# output goes to the log file (SETUP_LOG, build/setup.log by default); the
# terminal gets one line per stage.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev libxkbcommon-dev libxkbcommon-x11-dev
  libyaml-cpp-dev libpng-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang universal-ctags
  xvfb xdotool x11-utils imagemagick
  fonts-dejavu-core locales
  pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib
  python3-pil python3-distributed python3-tqdm python3-scipy
  python3-torch python3-pandas python3-cloudpickle python3-typing-extensions
  libgif-dev libyaml-cpp-dev libpng-dev
  help2man librsvg2-bin desktop-file-utils appstream shared-mime-info man-db
  dpkg-dev lintian python3-venv python3-pip python3-setuptools python3-wheel python3-build
  emscripten chromium
)

LOG=${SETUP_LOG:-build/setup.log}

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing_of() {
  local pkg
  for pkg in "$@"; do
    is_installed "$pkg" || echo "$pkg"
  done
}

# Root runs commands as they are; anyone else needs sudo.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "setup: packages are missing and sudo is not installed; run scripts/setup.sh as root, or install sudo" >&2
    exit 1
  fi
}

# One line on the terminal; the command's output into the log.
stage() {
  local what=$1
  shift
  echo "setup: $what"
  mkdir -p "$(dirname "$LOG")"
  echo "=== $what" >>"$LOG"
  if ! "$@" >>"$LOG" 2>&1; then
    echo "setup: failed while $what; the last lines of $LOG:" >&2
    tail -n 15 "$LOG" >&2
    exit 1
  fi
}

apt_updated=0
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  if ((apt_updated == 0)); then
    stage "updating the package lists" as_root apt-get update
    apt_updated=1
  fi
  stage "installing $*" as_root apt-get install -y --no-install-recommends "$@"
}

mapfile -t missing < <(missing_of "${PACKAGES[@]}")
if ((${#missing[@]})); then
  as_root true # asks for sudo's password, or says what to do, before output goes to the log
  apt_install "${missing[@]}"
fi

# The fuzz targets need clang's runtime libraries, whose package carries clang's
# major version.
clang_major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1)
if [[ -n $clang_major ]]; then
  mapfile -t missing < <(missing_of "libclang-rt-$clang_major-dev")
  ((${#missing[@]} == 0)) || apt_install "${missing[@]}"
fi

# The web page's tests drive Chromium with Playwright (playwright-core, pinned in
# tests/web/package-lock.json, which downloads no browser). npm comes with the
# machine's node where it has one; Debian's otherwise.
if ! command -v npm >/dev/null; then
  as_root true
  apt_install npm
fi
lock_hash=$(sha256sum tests/web/package-lock.json | cut -d' ' -f1)
stamp=tests/web/node_modules/.robosim-lock-hash
if [[ ! -f $stamp || $(cat "$stamp") != "$lock_hash" ]]; then
  stage "installing the web tests' node packages" env PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 \
    npm ci --prefix tests/web --no-audit --no-fund
  echo "$lock_hash" >"$stamp"
fi

# The world-file tests check that a decimal-comma locale does not change the files.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$' && [[ -f /etc/locale.gen ]]; then
  make_locale() {
    as_root sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen
    as_root locale-gen
  }
  as_root true
  stage "making the de_DE.UTF-8 locale" make_locale
fi

# The tests against the real Gymnasium and Stable-Baselines3 run in a virtual
# environment over Debian's Python (ROBOSIM_VENV, build/venv by default), which sees
# Debian's PyTorch, numpy, pandas and matplotlib (--system-site-packages) and takes
# the pinned packages of scripts/venv-requirements.txt from the package index
# without their dependencies: pip takes Debian's PyTorch (1.13.0a0) for older than
# the 1.13 Stable-Baselines3 asks for, and would download a PyTorch of several
# gigabytes instead. Made again when the requirements change.
VENV=${ROBOSIM_VENV:-build/venv}
venv_hash=$(sha256sum scripts/venv-requirements.txt | cut -d' ' -f1)
venv_stamp=$VENV/.robosim-requirements-hash
if [[ ! -f $venv_stamp || $(cat "$venv_stamp") != "$venv_hash" ]]; then
  make_venv() {
    rm -rf "$VENV"
    /usr/bin/python3 -m venv --system-site-packages "$VENV"
    "$VENV/bin/pip" install --no-input --disable-pip-version-check --no-deps \
      -r scripts/venv-requirements.txt
    # Every import the tests make, and PyTorch the one of Debian.
    "$VENV/bin/python" -c 'import gymnasium, stable_baselines3, torch
assert torch.__file__.startswith("/usr/lib/python3/"), torch.__file__'
  }
  stage "making the Python environment with Gymnasium and Stable-Baselines3 in $VENV" make_venv
  echo "$venv_hash" >"$venv_stamp"
fi
