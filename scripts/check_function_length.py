#!/usr/bin/env python3
"""Lists the functions under a project's src/ that are longer than a limit.

Usage: check_function_length.py [--max LINES] [--data-table FILE:NAME]...
                                [--verbose] PROJECT

Universal Ctags (Debian's universal-ctags) parses every .cpp and .h under
PROJECT/src as C++ and gives each function's first line (the line of its name)
and last (its closing brace). A function is every definition of a function,
method, constructor, destructor or operator, and a macro that wraps a function
body (PYBIND11_MODULE); the lambdas and local classes inside it count as its
lines, so a pybind11 class bound in one chain of calls is one function.
Variables are not functions: a table written as an initialiser never counts.

Prints one line per function over the limit, longest first, then a summary,
and exits 1 if there is any (2 when ctags fails). --verbose also lists the ten
longest within the limit. The functions named in DATA_TABLES (plain data
tables written as a function) are left out.
"""
import argparse
import json
import os
import subprocess
import sys

# Functions that are plain data tables (one row a line, no logic), as
# "FOLDER/FILE:NAME" relative to src/, each with the reason. None so far.
DATA_TABLES = {}

def ctags_functions(src):
    """(path relative to src, first line, last line, name) of each outermost function."""
    command = [
        "ctags", "-R", "--languages=C++", "--langmap=C++:+.h", "--kinds-C++=f",
        "--fields=+neZK", "--output-format=json", "-o", "-", ".",
    ]
    try:
        out = subprocess.run(command, cwd=src, capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"check_function_length: ctags failed: {error} (install universal-ctags)",
              file=sys.stderr)
        sys.exit(2)
    functions = []
    for line in out.splitlines():
        tag = json.loads(line)
        # A lambda is a function of its own to ctags, scoped in the function
        # that holds it: its lines are already that function's.
        if tag.get("_type") != "tag" or tag.get("scopeKind") == "function" or "end" not in tag:
            continue
        functions.append((os.path.normpath(tag["path"]), tag["line"], tag["end"], tag["name"]))
    return functions


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("project", help="the project's folder (its src/ is checked)")
    parser.add_argument("--max", type=int, default=120, help="the most lines a function may have")
    parser.add_argument("--data-table", action="append", default=[], metavar="FILE:NAME",
                        help="leave out one more function, a plain data table")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    src = os.path.join(args.project, "src")
    if not os.path.isdir(src):
        sys.exit(f"check_function_length: no folder {src}")
    tables = set(DATA_TABLES) | set(args.data_table)
    checked = [f for f in ctags_functions(src) if f"{f[0]}:{f[3]}" not in tables]
    lengths = sorted(((last - first + 1, path, first, name) for path, first, last, name in checked),
                     key=lambda f: (-f[0], f[1], f[2]))
    too_long = [f for f in lengths if f[0] > args.max]
    for lines, path, first, name in too_long:
        print(f"src/{path}:{first}: {name} is {lines} lines (more than {args.max})")
    if args.verbose:
        for lines, path, first, name in [f for f in lengths if f[0] <= args.max][:10]:
            print(f"src/{path}:{first}: {name} is {lines} lines")
    print(f"{len(checked)} functions checked, {len(too_long)} longer than {args.max} lines")
    return 1 if too_long else 0


if __name__ == "__main__":
    sys.exit(main())
