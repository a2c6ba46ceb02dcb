#!/usr/bin/env bash
# Checks that the libraries of the core, the drawing layer and the shell hold no
# mutable state of their own: every object with static storage they define (the
# symbols nm lists in .data and .bss) must be one of the constants named below.
# The simulation's state lives in the simulation object its caller owns.
# Prints each other such object and exits 1 if there is any.
# Usage: check_no_globals.sh LIBRARY...
set -euo pipefail

# Constants that nm still lists in .data or .bss, because they are set up when the
# program starts (or on first use) or hold pointers: named constants (kName),
# the planner's table of neighbour directions, the C locale of the world-file
# reader, whether the processor has AVX; the compiler's guard variables of
# function-local constants, and the type information of the thread pool's threads.
allowed='(::k[A-Z][A-Za-z]*$|::directions$|::c_locale$|::avx$|^guard variable for |^typeinfo |^vtable )'

found=0
for library in "$@"; do
  while IFS= read -r name; do
    if ! grep -Eq "$allowed" <<<"$name"; then
      echo "$library: mutable state at namespace scope or in a static: $name"
      found=1
    fi
  done < <(nm -C --defined-only "$library" | awk '$2 ~ /^[bBdDgGsS]$/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }' | sort -u)
done
exit $found
