"""Shared helpers of the robosim tests: where things are, and the headless runner
run as a separate program for comparisons."""

import csv
import json
import os
import pathlib
import subprocess

import pytest

import robosim

SOURCE_DIR = pathlib.Path(os.environ.get("ROBOSIM_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
HEADLESS = pathlib.Path(
    os.environ.get("ROBOSIM_HEADLESS", SOURCE_DIR / "build" / "bin" / "robot-simulator-headless")
)
WORLDS = SOURCE_DIR / "worlds"


def run_headless(*arguments, check=True):
    """Runs the headless runner; returns the completed process (text output)."""
    result = subprocess.run(
        [str(HEADLESS), *map(str, arguments)], capture_output=True, text=True, timeout=300
    )
    if check and result.returncode != 0:
        raise AssertionError(f"headless runner failed ({result.returncode}): {result.stderr}")
    return result


def headless_summary(*arguments):
    """The runner's JSON summary of a run."""
    return json.loads(run_headless(*arguments, "--json").stdout)


def headless_trace(tmp_path, *arguments):
    """The rows of the runner's trace of a run, as lists of strings (header dropped)."""
    trace = tmp_path / "trace.csv"
    run_headless(*arguments, "--trace", trace)
    with open(trace, newline="") as stream:
        rows = list(csv.reader(stream))
    return rows[1:]


def trace_row(sim):
    """The runner's trace row for the simulation's state, formatted as it formats it."""
    r = sim.robot
    millis = round(sim.time * 1000)
    tx, ty = sim.target
    return [
        str(sim.tick),
        f"{millis // 1000}.{millis % 1000:03d}",
        *(f"{v:.6f}" for v in (r.x, r.y, r.heading, r.speed, r.turn, tx, ty)),
        str(len(sim.impacts)),
        str(len(sim.waypoints)),
        str(sim.cur_waypoint),
        str(sim.stats["planning_runs"]),
    ]


@pytest.fixture(autouse=True)
def no_simulation_left_open():
    """Every test leaves the process's simulation free for the next."""
    yield
    try:
        robosim.Simulation(seed=0).close()
    except RuntimeError:  # pragma: no cover - reports a test that leaked one
        pytest.fail("the test left a robosim.Simulation open")
