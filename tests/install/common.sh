# What the install tests share; sourced with the source tree in SOURCE. Makes a
# throwaway folder, $root, removed on exit, and sets $version, the project's.
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "--- $*"; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
version=$(sed -n 's/^project(RobotSimulator VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")
[[ -n $version ]] || fail "no project version in $SOURCE/CMakeLists.txt"
