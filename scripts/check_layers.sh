#!/usr/bin/env bash
# Checks that every source under src/ includes only what its layer may use:
#   core     core; the standard library only (no Qt)
#   draw     core, draw (no Qt)
#   shell    core, draw, shell (no Qt)
#   tools    core, tools (no Qt): the world generator and the map import
#   qtdraw   core, draw, qtdraw
#   python   core, draw, shell, tools, python (the Python module: no Qt in the Python process)
#   web      core, draw, shell, web (the web page, compiled to WebAssembly: no Qt, nor
#            the tools' libraries)
#   others   (the front ends: qt, headless, ...) core, draw, shell, tools, qtdraw and
#            their own folder, never another front end
# draw/recording_context.h is for tests only. Prints one line per offending
# include and exits 1 if there is any. Usage: check_layers.sh [project folder]
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

allowed_for() {
  case $1 in
    core) echo "core" ;;
    draw) echo "core draw" ;;
    shell) echo "core draw shell" ;;
    tools) echo "core tools" ;;
    qtdraw) echo "core draw qtdraw" ;;
    python) echo "core draw shell tools python" ;;
    web) echo "core draw shell web" ;;
    *) echo "core draw shell tools qtdraw $1" ;;
  esac
}

no_qt() {
  case $1 in core | draw | shell | tools | python | web) return 0 ;; *) return 1 ;; esac
}

faults=0
fault() {
  echo "$1"
  faults=$((faults + 1))
}

while IFS= read -r -d '' file; do
  layer=${file#src/}
  layer=${layer%%/*}
  allowed=" $(allowed_for "$layer") "
  while IFS= read -r match; do
    number=${match%%:*}
    line=${match#*:}
    if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      header=${BASH_REMATCH[1]}
      folder=${header%%/*}
      if [[ $header != */* || $header == ../* ]]; then
        fault "$file:$number: include \"$header\" by its path from src/ (e.g. \"$layer/...\")"
      elif [[ $allowed != *" $folder "* ]]; then
        fault "$file:$number: $layer may not use $folder (\"$header\"); it may use:${allowed% }"
      elif [[ $header == draw/recording_context.h && $file != src/draw/recording_context.* ]]; then
        fault "$file:$number: the recording context is for tests only"
      fi
    elif [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*)[^\>]*\> ]] && no_qt "$layer"; then
      fault "$file:$number: $layer may not use Qt (<${BASH_REMATCH[1]}>)"
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if ((faults > 0)); then
  echo "check_layers: $faults include(s) reach past their layer (see docs/architecture.md)"
  exit 1
fi
echo "check_layers: every include stays within its layer"
