# bash completion for robot-simulator, robot-simulator-headless and robosim-sweep.
# Installed once under each program's name, so that bash-completion's loader finds
# it whichever program is completed first.

# Sets cur and prev, with "--option=value" read as "--option value".
_robosim_words() {
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  if [[ $cur == "=" ]]; then
    cur=""
  elif [[ $prev == "=" && $COMP_CWORD -ge 2 ]]; then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi
}

# Folders and the files matching a glob ("*" for any file).
_robosim_files() {
  local IFS=$'\n'
  compopt -o filenames 2>/dev/null
  if [[ $1 == "*" ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  else
    COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!$1" -- "$cur"))
  fi
}

_robosim_options() {
  COMPREPLY=($(compgen -W "$1" -- "$cur"))
}

_robot_simulator() {
  local cur prev
  _robosim_words
  if [[ $cur == -* ]]; then
    _robosim_options "--help --version"
  else
    _robosim_files '*.dat'
  fi
}

_robot_simulator_headless() {
  local cur prev
  _robosim_words
  case $prev in
    --world) _robosim_files '*.dat' && return ;;
    --save | --keys | --trace | --events) _robosim_files '*' && return ;;
    --png) _robosim_files '*.png' && return ;;
    --gif) _robosim_files '*.gif' && return ;;
    --import-map) _robosim_files '*.y*ml' && return ;;
    --generate)
      compopt -o nospace 2>/dev/null
      _robosim_options "maze: pillars:"
      return
      ;;
    --unknown) _robosim_options "free wall" && return ;;
    --ticks | --seed | --period-ms | --frame-every | --gif-speed | --size | --trace-every | \
      --scale1 | --scale2 | --scale3 | --require-targets | --max-stuck-seconds | --map-region)
      COMPREPLY=()
      return
      ;;
  esac
  _robosim_options "--help --version --ticks --seed --period-ms --world --save --manual --keys
    --png --gif --frame-every --gif-speed --size --grad --vision --stats --trail --trace
    --trace-every --json --generate --import-map --map-region --unknown --events --scale1
    --scale2 --scale3 --require-targets --max-stuck-seconds"
}

_robosim_sweep() {
  local cur prev
  _robosim_words
  case $prev in
    --world) _robosim_files '*.dat' && return ;;
    --config) _robosim_files '*.toml' && return ;;
    --out) _robosim_files '*.csv' && return ;;
    --report) _robosim_files '*.md' && return ;;
    --metric)
      _robosim_options "$(robosim-sweep --list-metrics 2>/dev/null | awk 'NR > 1 {print $1}')"
      return
      ;;
    --plot-format)
      compopt -o nospace 2>/dev/null
      _robosim_options "png, svg, pdf, png,svg png,svg,pdf"
      return
      ;;
    --controller)
      # MODULE:FUNCTION, the module looked up in the current directory first.
      local IFS=$'\n' module
      compopt -o nospace 2>/dev/null
      COMPREPLY=()
      for module in $(compgen -f -X '!*.py' -- "$cur"); do
        COMPREPLY+=("${module%.py}:")
      done
      return
      ;;
    --seeds | --scale1 | --scale2 | --scale3 | --ticks | --period-ms | --workers | --threads | \
      --scheduler | --wait-for-workers | --baseline)
      COMPREPLY=()
      return
      ;;
  esac
  _robosim_options "--help --version --config --seeds --world --scale1 --scale2 --scale3 --ticks
    --period-ms --controller --metric --list-metrics --baseline --plot-format --shared-y --report
    --out --workers --threads --scheduler --wait-for-workers"
}

complete -F _robot_simulator robot-simulator
complete -F _robot_simulator_headless robot-simulator-headless
complete -F _robosim_sweep robosim-sweep
