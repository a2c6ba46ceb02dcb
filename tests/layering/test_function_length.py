"""The function-length check (scripts/check_function_length.py) on small projects
written for each case: what it counts as a function, how it measures one, and
what it leaves out."""
import os
import subprocess
import sys

import pytest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "check_function_length.py")


def body(lines):
    """`lines` statements, one a line."""
    return "".join(f"  total += {i};\n" for i in range(lines))


def plain(name, lines):
    """A function of exactly `lines` lines, its name's line to its closing brace."""
    return f"int {name}(int total) {{\n{body(lines - 3)}  return total;\n}}\n"


def method(lines):
    return (
        "struct counter {\n  int add(int total) const {\n"
        + body(lines - 3)
        + "    return total;\n  }\n};\n"
    )


def with_lambdas(lines):
    """A function whose lines are mostly lambdas, as a pybind11 chain is."""
    count = (lines - 3) // 3
    inner = "".join(f"  auto f{i} = [](int v) {{\n    return v + {i};\n  }};\n" for i in range(count))
    rest = lines - 3 - 3 * count
    return "int chain() {\n" + inner + "  int total = 0;\n" * rest + "  return 0;\n}\n"


def macro_body(lines):
    return "#define MODULE(name, m) void init_##name(int m)\nMODULE(mod, m) {\n" + body(
        lines - 2) + "}\n"


def table(rows):
    return "const int kTable[] = {\n" + "".join(f"    {i},\n" for i in range(rows)) + "};\n"


def in_namespace(text):
    return "namespace {\n" + text + "}  // namespace\n"


CASES = [
    # (case, files {path under src: text}, extra options, functions reported)
    ("at the limit", {"core/a.cpp": plain("fits", 120)}, [], []),
    ("one line over", {"core/a.cpp": plain("too_long", 121)}, [], [("core/a.cpp", "too_long", 121)]),
    ("in a namespace", {"core/a.cpp": in_namespace(plain("hidden", 130))}, [],
     [("core/a.cpp", "hidden", 130)]),
    ("a method", {"shell/b.h": method(125)}, [], [("shell/b.h", "add", 125)]),
    ("lambdas count as their function's lines", {"python/c.cpp": with_lambdas(150)}, [],
     [("python/c.cpp", "chain", 150)]),
    ("short lambdas in a short function", {"python/c.cpp": with_lambdas(60)}, [], []),
    ("a macro around a body", {"python/m.cpp": macro_body(200)}, [], [("python/m.cpp", "MODULE", 200)]),
    ("a table as an initialiser", {"core/t.cpp": table(400)}, [], []),
    ("a function named as a data table", {"core/t.cpp": plain("colour_table", 200)},
     ["--data-table", "core/t.cpp:colour_table"], []),
    ("only the named function is a table",
     {"core/t.cpp": plain("colour_table", 200) + plain("other", 200)},
     ["--data-table", "core/t.cpp:colour_table"], [("core/t.cpp", "other", 200)]),
    ("longest first",
     {"core/a.cpp": plain("second", 130) + plain("first", 140), "draw/d.cpp": plain("third", 122)},
     [], [("core/a.cpp", "first", 140), ("core/a.cpp", "second", 130), ("draw/d.cpp", "third", 122)]),
]


@pytest.mark.parametrize("files,options,expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_reports_exactly_the_long_functions(tmp_path, files, options, expected):
    for path, text in files.items():
        target = tmp_path / "src" / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(text)
    result = subprocess.run([sys.executable, SCRIPT, *options, str(tmp_path)],
                            capture_output=True, text=True)
    reported = [line for line in result.stdout.splitlines() if "(more than 120)" in line]
    assert result.returncode == (1 if expected else 0), result.stdout + result.stderr
    assert len(reported) == len(expected), result.stdout
    for line, (path, name, lines) in zip(reported, expected):
        assert line.startswith(f"src/{path}:") and f": {name} is {lines} lines" in line, line


def test_without_ctags_the_check_fails_with_its_own_status(tmp_path):
    (tmp_path / "src" / "core").mkdir(parents=True)
    (tmp_path / "src" / "core" / "a.cpp").write_text(plain("fits", 10))
    result = subprocess.run([sys.executable, SCRIPT, str(tmp_path)], capture_output=True, text=True,
                            env={"PATH": str(tmp_path)})
    assert result.returncode == 2 and "install universal-ctags" in result.stderr


def test_a_missing_source_folder_is_an_error(tmp_path):
    result = subprocess.run([sys.executable, SCRIPT, str(tmp_path)], capture_output=True, text=True)
    assert result.returncode != 0 and "no folder" in result.stderr
