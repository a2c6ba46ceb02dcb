"""docs/teaching.md as a student follows it: every file it says to save is saved,
every command in its shell blocks runs as written, in order, in a folder of its
own, and each does what the page says."""

import csv
import json
import os
import pathlib
import re
import subprocess
import sys

from conftest import HEADLESS, SOURCE_DIR

PAGE = SOURCE_DIR / "docs" / "teaching.md"
BLOCK = re.compile(r"^```(\w+)\n(.*?)^```\n", re.MULTILINE | re.DOTALL)
SAVE_AS = re.compile(r"Save this as `([^`]+)`")


def steps_of(page):
    """[("file", name, text) or ("command", line, None)] in the page's order: a
    code block right after a "Save this as `NAME`" paragraph is a file, each line
    of a sh block a command."""
    steps = []
    for match in BLOCK.finditer(page):
        language, body = match.groups()
        before = page[:match.start()].rstrip().rsplit("\n\n", 1)[-1]
        saved = SAVE_AS.search(before)
        if saved:
            steps.append(("file", saved.group(1), body))
        elif language == "sh":
            steps += [("command", line, None) for line in body.splitlines() if line.strip()]
    return steps


def test_every_command_on_the_teaching_page_runs_as_written(tmp_path):
    steps = steps_of(PAGE.read_text())
    commands = [line for kind, line, _ in steps if kind == "command"]
    assert [name for kind, name, _ in steps if kind == "file"] == ["controller.py"]
    assert len(commands) >= 7
    # The page's programs as an installed robosim has them: the runner and the
    # sweep from the build, python3 the interpreter that has the module.
    tools = tmp_path / "tools"
    tools.mkdir()
    (tools / "python3").symlink_to(sys.executable)
    environment = dict(os.environ, MPLBACKEND="Agg",
                       PATH=os.pathsep.join([str(tools), str(pathlib.Path(HEADLESS).parent),
                                             os.environ["PATH"]]))
    lab = tmp_path / "lab"
    lab.mkdir()
    printed = {}
    for kind, line, text in steps:
        if kind == "file":
            (lab / line).write_text(text)
            continue
        result = subprocess.run(["bash", "-c", line], cwd=lab, env=environment,
                                capture_output=True, text=True, timeout=300)
        assert result.returncode == 0, (line, result.stderr)
        printed[line] = result.stdout

    def output_of(*words):
        return next(out for line, out in printed.items() if all(w in line for w in words))

    # The plain run gets round the trap at once; the strong repulsion keeps the
    # robot inside for a while, and then it gets out.
    plain = output_of("--seed 1 --ticks 3000", "--world trap.dat --target 5,8.5 --seed")
    assert "trapped: 0.000 s\n" in plain
    trapped = json.loads(output_of("--scale1 0.8", "--json"))
    assert trapped["trapped_seconds"] > 10 and trapped["time_to_first_target"] > 10
    grades = output_of("python3 controller.py")
    assert re.search(r"^seed 3: first target .* s, trapped .* s$", grades, re.MULTILINE)
    assert re.search(r"^exit code [01]$", grades, re.MULTILINE)
    # The template heads straight for the target and stays caught.
    assert "seed 1: first target None s" in grades and "exit code 1" in grades
    with open(lab / "gain.csv", newline="") as stream:
        rows = list(csv.DictReader(stream))
    assert sorted((row["scale1"], row["seed"]) for row in rows) == [
        (gain, seed) for gain in ("0.2", "0.8") for seed in "123"]
    assert {row["target"] for row in rows} == {"5.0,8.5"}
    assert (lab / "gain.png").stat().st_size > 0
    assert sorted(p.name for p in (lab / "frames").iterdir()) == [
        "tick-000000.png", "tick-000500.png", "tick-001000.png", "tick-001500.png",
        "tick-002000.png"]
