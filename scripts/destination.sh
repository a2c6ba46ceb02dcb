# What make install and make uninstall share (sourced): PREFIX and DESTDIR
# checked and made plain absolute paths, and where the list of installed files
# is kept under the prefix.
INSTALLED_LIST=share/robot-simulator/installed-files.txt

# Checks ROBOSIM_PREFIX and ROBOSIM_DESTDIR from the environment, as make passes
# its PREFIX and DESTDIR, and sets PREFIX and DESTDIR to them as plain absolute
# paths (no "..", ".", "//" or trailing "/"; a relative DESTDIR is taken from the
# current folder, as cmake would). Refuses, with what
# to do instead, what cannot be installed into: a relative or empty PREFIX, a
# line break or other control character (the list holds a path a line), a
# backslash (cmake takes it for a folder separator and would write beside the
# prefix), and a "$" that make has read as one of its own variables (the value
# as written comes in ROBOSIM_PREFIX_AS_WRITTEN, ROBOSIM_DESTDIR_AS_WRITTEN).
check_destination() { # install|uninstall
  local what="make $1"
  PREFIX=$(checked_path "$what" PREFIX "${ROBOSIM_PREFIX-}" "${ROBOSIM_PREFIX_AS_WRITTEN-}") ||
    exit 2
  DESTDIR=$(checked_path "$what" DESTDIR "${ROBOSIM_DESTDIR-}" "${ROBOSIM_DESTDIR_AS_WRITTEN-}") ||
    exit 2
  [[ $DESTDIR != / ]] || DESTDIR=
  export PREFIX DESTDIR
}

# Prints VALUE as a plain absolute path, or says why it cannot be NAME and fails.
checked_path() { # WHAT NAME VALUE AS_WRITTEN
  local what=$1 name=$2 value=$3 written=$4 reference
  if [[ $name == PREFIX && -z $value ]]; then
    echo "$what: PREFIX is empty; give a folder, e.g. PREFIX=/usr/local" >&2
    return 1
  fi
  [[ -n $value ]] || return 0
  if reference=$(make_reference "$written"); then
    echo "$what: make read '$reference' in $name=$written as one of its variables;" \
      "write \$\$ for each \$ of a folder's name" >&2
    return 1
  fi
  if [[ $value == *[[:cntrl:]]* ]]; then
    echo "$what: $name holds a line break or another control character; choose a folder" \
      "without one" >&2
    return 1
  fi
  if [[ $value == *\\* ]]; then
    echo "$what: $name=$value holds a backslash, which cmake takes for a folder separator;" \
      "choose a folder without one" >&2
    return 1
  fi
  if [[ $name == PREFIX && $value != /* ]]; then
    echo "$what: PREFIX must be an absolute path, not '$value'" >&2
    return 1
  fi
  realpath -m -s -- "$value"
}

# Prints the first "$x" of TEXT that make reads as its one-letter variable x
# ("$$" is a dollar sign, "$(...)" and "${...}" are meant as make's own); fails
# when there is none.
make_reference() { # TEXT
  local text=$1 i
  for ((i = 0; i < ${#text} - 1; i++)); do
    [[ ${text:i:1} == '$' ]] || continue
    case ${text:i+1:1} in
    '$') i=$((i + 1)) ;;
    '(' | '{') ;;
    *) printf '%s' "${text:i:2}" && return 0 ;;
    esac
  done
  return 1
}
