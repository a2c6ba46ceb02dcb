"""Speed of the sweep tool: the same sweep of 40 runs (20 seeds x 2 values of
scale1 in the maze, 60,000 ticks each) on a local cluster of one worker, of two
workers, and the same 40 runs one after another in this one process (bare).

    PYTHONPATH=build/python /usr/bin/python3 bench/sweep_bench.py [--repetitions 3]

Each repetition runs the three in turn, so that all three see the same machine
load. A sweep's time is taken three ways: the whole command (Python's start-up, the
cluster's start-up and shut-down, the summary and the plot), the tool's own
figure, from the first run's submission to the last run's row, and the time the
simulations themselves took inside the worker (the rows' wall_seconds), which
tells the tool's own share apart from a slower machine. The figures are
medians over the repetitions; the machine's load average is printed before and
after, as other work on the machine slows everything down.

Then the sweep's results alone: the same command again, every run already in the
CSV, writing the summary, the figures in PNG, SVG and PDF, those of the paired
differences and the report; and how long a sweep takes to end after SIGINT
mid-stream (from the signal to its exit, the cluster's shut-down included).
"""

import argparse
import csv
import os
import pathlib
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import robosim

ROOT = pathlib.Path(__file__).resolve().parents[1]
WORLD = ROOT / "worlds" / "maze.dat"
SEEDS = "1-20"
GAINS = (0.05, 0.2)
TICKS = 60_000


def load():
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def bare():
    start = time.perf_counter()
    for scale1 in GAINS:
        for seed in range(1, 21):
            with robosim.Simulation(seed=seed, world=str(WORLD)) as sim:
                sim.gains = (scale1, *sim.gains[1:])
                sim.step(TICKS)
                sim.stats  # noqa: B018 - read as a sweep reads it
    return time.perf_counter() - start


def swept(workers, directory):
    out = pathlib.Path(directory) / f"bench-{workers}.csv"
    for path in out.parent.glob(f"bench-{workers}*"):
        path.unlink()
    command = [sys.executable, "-m", "robosim.sweep", "--world", str(WORLD), "--seeds", SEEDS,
               "--scale1", ",".join(map(str, GAINS)), "--ticks", str(TICKS),
               "--workers", str(workers), "--out", str(out)]
    start = time.perf_counter()
    result = subprocess.run(command, capture_output=True, text=True, check=True)
    whole = time.perf_counter() - start
    runs = float(re.search(r"40 runs done in ([0-9.]+) s", result.stderr).group(1))
    with open(out, newline="") as rows:
        simulating = sum(float(row["wall_seconds"]) for row in csv.DictReader(rows))
    return whole, runs, simulating


def results_only(directory):
    """Seconds of a command whose runs are all done: start-up and the results."""
    out = pathlib.Path(directory) / "bench-1.csv"
    command = [sys.executable, "-m", "robosim.sweep", "--world", str(WORLD), "--seeds", SEEDS,
               "--scale1", ",".join(map(str, GAINS)), "--ticks", str(TICKS), "--out", str(out),
               "--baseline", f"scale1={GAINS[0]}", "--plot-format", "png,svg,pdf",
               "--report", str(pathlib.Path(directory) / "bench.md")]
    start = time.perf_counter()
    subprocess.run(command, capture_output=True, check=True)
    return time.perf_counter() - start


def stop_latency(directory):
    """Seconds from SIGINT, sent once a few rows are in, to the sweep's exit."""
    out = pathlib.Path(directory) / "bench-stop.csv"
    out.unlink(missing_ok=True)
    command = [sys.executable, "-m", "robosim.sweep", "--world", str(WORLD), "--seeds", SEEDS,
               "--scale1", ",".join(map(str, GAINS)), "--ticks", str(TICKS), "--workers", "2",
               "--out", str(out)]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not out.exists() or len(out.read_text().splitlines()) < 4:
        time.sleep(0.01)
    start = time.perf_counter()
    process.send_signal(signal.SIGINT)
    assert process.wait(timeout=120) == 130
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=3)
    arguments = parser.parse_args()
    print(f"load average before: {load()}", flush=True)
    times = {"bare": [], "one": [], "one_runs": [], "one_simulating": [],
             "two": [], "two_runs": [], "two_simulating": []}
    with tempfile.TemporaryDirectory() as directory:
        for repetition in range(arguments.repetitions):
            times["bare"].append(bare())
            for name, workers in (("one", 1), ("two", 2)):
                whole, runs, simulating = swept(workers, directory)
                times[name].append(whole)
                times[f"{name}_runs"].append(runs)
                times[f"{name}_simulating"].append(simulating)
            print(f"repetition {repetition + 1}: " + ", ".join(
                f"{name} {values[-1]:.2f} s" for name, values in times.items()), flush=True)
        for _ in range(arguments.repetitions):
            times.setdefault("results", []).append(results_only(directory))
            times.setdefault("stop", []).append(stop_latency(directory))
    median = {name: statistics.median(values) for name, values in times.items()}
    print(f"load average after: {load()}")
    print(f"medians of {arguments.repetitions}:")
    print(f"  bare, 40 runs in one process:  {median['bare']:.2f} s")
    print(f"  one worker:  {median['one']:.2f} s the command, {median['one_runs']:.2f} s the runs, "
          f"{median['one_simulating']:.2f} s inside the runs' simulations")
    print(f"  two workers: {median['two']:.2f} s the command, {median['two_runs']:.2f} s the runs")
    print(f"  two workers / one worker: {median['two'] / median['one']:.3f} the command, "
          f"{median['two_runs'] / median['one_runs']:.3f} the runs")
    print(f"  one worker over bare: {100 * (median['one'] / median['bare'] - 1):+.1f} % the "
          f"command, {100 * (median['one_runs'] / median['bare'] - 1):+.1f} % the runs")
    print(f"  the tool's own share of one worker's runs: "
          f"{100 * (median['one_runs'] / median['one_simulating'] - 1):+.1f} %")
    print(f"  the results alone (summary, PNG, SVG, PDF, paired figures, report): "
          f"{median['results']:.2f} s the command")
    print(f"  from SIGINT mid-stream to the exit: {median['stop']:.2f} s")


if __name__ == "__main__":
    main()
