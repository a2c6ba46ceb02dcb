"""The sweep tool: its rows against the headless runner's summaries, resuming,
failed runs, bad command lines, configuration files, plots, and a cluster
started by hand. Sweeps run as the user runs them, in their own process."""

import csv
import os
import pathlib
import signal
import socket
import subprocess
import sys

import pytest

from conftest import SOURCE_DIR, WORLDS, headless_summary
from robosim import sweep, sweep_rows

TIMEOUT = 180


def run_sweep(*arguments, cwd, expect=0):
    """Runs python3 -m robosim.sweep; returns (stdout, stderr)."""
    result = subprocess.run([sys.executable, "-m", "robosim.sweep", *map(str, arguments)],
                            capture_output=True, text=True, timeout=TIMEOUT, cwd=cwd)
    assert result.returncode == expect, result.stderr
    assert "Traceback" not in result.stderr
    return result.stdout, result.stderr


def read_rows(path):
    with open(path, newline="") as stream:
        return list(csv.DictReader(stream))


def headless_of(row):
    """The runner's JSON summary of the run a sweep row describes."""
    arguments = ["--seed", row["seed"], "--ticks", row["ticks"], "--period-ms", row["period_ms"]]
    if row["world"]:
        arguments += ["--world", row["world"]]
    for gain in sweep.GAINS:
        if row[gain]:
            arguments += [f"--{gain}", row[gain]]
    return headless_summary(*arguments)


def assert_row_is_the_summary(row):
    summary = headless_of(row)
    expected = {name: summary[name] for name in sweep_rows.METRICS
                if name in summary and name != "wall_seconds"}
    expected["ticks_run"] = summary["ticks"]
    for axis in ("x", "y", "heading"):
        expected[f"final_{axis}"] = summary["final_pose"][axis]
    for name, value in expected.items():
        cell = row[name]
        assert (None if cell == "" else float(cell)) == value, (name, row)


class TestParsing:
    def test_seeds(self):
        assert sweep.parse_seeds("1-4") == [1, 2, 3, 4]
        assert sweep.parse_seeds("1,5,9") == [1, 5, 9]
        assert sweep.parse_seeds("3, 1-2,3") == [3, 1, 2]
        assert sweep.parse_seeds("4294967295") == [4294967295]

    @pytest.mark.parametrize("text", ["", "a", "1-", "-3", "5-2", "1,,2", "4294967296", "1.5",
                                      "0-99999999999"])
    def test_bad_seeds(self, text):
        with pytest.raises(sweep.UsageError, match="--seeds"):
            sweep.parse_seeds(text)

    def test_gains(self):
        assert sweep.parse_gains("0.05,0.11") == [0.05, 0.11]
        assert sweep.parse_gains("0.05:0.2:4") == [0.05, 0.1, 0.15, 0.2]
        assert sweep.parse_gains("1:0:3") == [1.0, 0.5, 0.0]
        assert sweep.parse_gains("-1e-3") == [-0.001]

    @pytest.mark.parametrize("text", ["", "x", "0.1,", "nan", "inf,1", "0:1", "0:1:1", "0:1:x",
                                      "0:1:2:3", "0:nan:3", "0:1:100000"])
    def test_bad_gains(self, text):
        with pytest.raises(sweep.UsageError, match="--scale2"):
            sweep.parse_gains(text, "scale2")

    def test_worlds(self, tmp_path):
        with pytest.raises(sweep.UsageError, match="matches no file"):
            sweep.expand_worlds([str(tmp_path / "*.dat")])
        found = sweep.expand_worlds([str(WORLDS / "[mp]*.dat"), "missing.dat"])
        assert found == [str(WORLDS / "maze.dat"), str(WORLDS / "pillars.dat"), "missing.dat"]

    def test_runs_cover_every_combination_once(self):
        s = sweep.Sweep({"seeds": "1-3", "scale1": "0.1,0.2", "scale3": "0:1:2",
                         "world": [str(WORLDS / "maze.dat")]})
        keys = [sweep.run_key(run) for run in s.runs()]
        assert len(keys) == len(set(keys)) == 12
        assert s.swept_gains() == ["scale1", "scale3"]

    @pytest.mark.parametrize("arguments, message", [
        (["--ticks", "-1"], "--ticks"),
        (["--ticks", "ten"], "--ticks"),
        (["--period-ms", "0"], "--period-ms"),
        (["--workers", "0"], "--workers"),
        (["--workers", "2", "--scheduler", "tcp://127.0.0.1:1"], "--workers"),
        (["--controller", "nocolon"], "module:function"),
        (["--controller", "no_such_module_here:f"], "cannot load"),
        (["--seeds", "1-3", "--scale1", "0:1:1000", "--scale2", "0:1:1000"], "more than"),
        (["--config", "missing.toml"], "cannot read"),
    ])
    def test_bad_command_lines(self, tmp_path, arguments, message):
        _, err = run_sweep(*arguments, "--out", tmp_path / "out.csv", cwd=tmp_path, expect=2)
        assert message in err
        assert not (tmp_path / "out.csv").exists()

    def test_bad_configurations(self, tmp_path):
        for text, message in [("seeds = [", "not valid TOML"), ("speed = 3", "unknown key"),
                              ("ticks = true", "'ticks' must be"), ("world = 3", "'world' must be"),
                              ("scale1 = []", "at least one")]:
            (tmp_path / "bad.toml").write_text(text)
            _, err = run_sweep("--config", "bad.toml", cwd=tmp_path, expect=2)
            assert message in err, text

    def test_a_foreign_csv_is_left_alone(self, tmp_path):
        out = tmp_path / "mine.csv"
        out.write_text("a,b\n1,2\n")
        _, err = run_sweep("--ticks", "10", "--out", out, cwd=tmp_path, expect=2)
        assert "line 1: the columns are not this tool's" in err
        assert out.read_text() == "a,b\n1,2\n"


class TestSweeps:
    def test_rows_equal_the_runner_and_a_rerun_skips_them(self, tmp_path):
        out = tmp_path / "runs.csv"
        arguments = ["--world", WORLDS / "maze.dat", "--world", WORLDS / "pillars.dat",
                     "--seeds", "1-2", "--scale1", "0.05,0.2", "--scale3", "0.01",
                     "--ticks", 1500, "--workers", 2, "--out", out]
        run_sweep(*arguments, cwd=tmp_path)
        rows = read_rows(out)
        assert len(rows) == 8
        assert {sweep.run_key(row) for row in rows} == {
            sweep.run_key(run) for run in sweep.Sweep(
                {"world": [str(WORLDS / "maze.dat"), str(WORLDS / "pillars.dat")], "seeds": "1-2",
                 "scale1": "0.05,0.2", "scale3": "0.01", "ticks": "1500"}).runs()}
        for row in rows[::3]:
            assert_row_is_the_summary(row)

        # Three more seeds: only their runs run; a row broken by an interrupted
        # write is dropped from the file and its run done again.
        with open(out, "a") as stream:
            stream.write(",".join(rows[0][c] for c in sweep.INPUT_COLUMNS))
        _, err = run_sweep(*arguments[:-6], "--seeds", "1-3", *arguments[-6:], "--metric",
                           "targets_reached", "--metric", "contacts", cwd=tmp_path)
        assert "8 of 12 runs are already" in err and "4 runs done" in err
        assert "1 row of" in err and "broken or repeated (line 10) dropped" in err
        rows = read_rows(out)
        keys = [sweep.run_key(row) for row in rows]
        assert len(keys) == len(set(keys)) == 12
        summary = read_rows(tmp_path / "runs.summary.csv")
        assert [row["metric"] for row in summary] == ["targets_reached", "contacts"] * 4
        assert {row["n"] for row in summary} == {"3"}
        assert (tmp_path / "runs.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    def test_the_default_world_and_a_configuration_file(self, tmp_path):
        (tmp_path / "sweep.toml").write_text(
            'seeds = [4, 9]\nscale2 = "0.1:0.3:2"\nticks = 700\nperiod-ms = 20\n'
            'out = "from-config.csv"\nworkers = 1\n')
        out, _ = run_sweep("--config", "sweep.toml", "--ticks", 900, cwd=tmp_path)
        rows = read_rows(tmp_path / "from-config.csv")
        assert [(r["seed"], r["scale2"], r["ticks"], r["period_ms"], r["world"]) for r in rows] \
            == [(s, g, "900", "20", "") for g in ("0.1", "0.3") for s in ("4", "9")]
        for row in rows[1:3]:
            assert_row_is_the_summary(row)
        assert "scale2 0.3" in out and "95 % CI of the mean (t, n − 1)" in out

    def test_failed_runs_are_reported_and_the_others_kept(self, tmp_path):
        (tmp_path / "drivers.py").write_text(
            "def forward(sim):\n    sim.drive(0.03, 0.0)\n\n"
            "def failing(sim):\n    if sim.tick == 50:\n        raise ValueError('controller gave up')\n"
            "    sim.drive(0.03, 0.01)\n")
        out = tmp_path / "failing.csv"
        _, err = run_sweep("--world", WORLDS / "maze.dat", "--world", "no-such-world.dat",
                           "--seeds", "1,2", "--ticks", 300, "--workers", 1,
                           "--controller", "drivers:failing", "--out", out, cwd=tmp_path, expect=1)
        assert "world=no-such-world.dat seed=2" in err
        assert "ValueError: controller gave up" in err and "4 failed" in err
        assert read_rows(out) == []

        _, err = run_sweep("--world", WORLDS / "maze.dat", "--world", "no-such-world.dat",
                           "--seeds", "1", "--ticks", 300, "--workers", 1,
                           "--controller", "drivers:forward", "--out", out, cwd=tmp_path, expect=1)
        assert "1 failed" in err and "no-such-world.dat" in err and "FileNotFoundError" in err
        rows = read_rows(out)
        assert len(rows) == 1 and rows[0]["controller"] == "drivers:forward"
        assert float(rows[0]["distance_travelled"]) > 0

    def test_plots(self, tmp_path):
        base = ["--seeds", "1-2", "--ticks", 400, "--workers", 1]
        for name, arguments in [("two", ["--scale1", "0.05,0.1", "--scale2", "0.1,0.2"]),
                                ("one", ["--scale1", "0.05:0.15:3", "--world", WORLDS / "maze.dat",
                                         "--world", WORLDS / "pillars.dat"]),
                                ("none", [])]:
            run_sweep(*base, *arguments, "--out", f"{name}.csv", cwd=tmp_path)
            png = (tmp_path / f"{name}.png").read_bytes()
            assert png[:8] == b"\x89PNG\r\n\x1a\n" and len(png) < 200_000, name
        _, err = run_sweep(*base[:2], "--ticks", 10, "--scale1", "1,2", "--scale2", "1,2",
                           "--scale3", "1,2", "--out", "three.csv", cwd=tmp_path)
        assert "no figure" in err and not (tmp_path / "three.png").exists()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def dask_command(name):
    """The dask command line program, or Debian's module form of it."""
    return ["/usr/bin/dask", name] if os.path.exists("/usr/bin/dask") else \
        [sys.executable, "-m", f"distributed.cli.dask_{name}"]


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGINT)
        try:
            process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=15)


def test_a_cluster_started_by_hand(tmp_path):
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    log = open(tmp_path / "cluster.log", "w")
    processes = []
    try:
        processes.append(subprocess.Popen(
            [*dask_command("scheduler"), "--host", "127.0.0.1", "--port", str(port),
             "--no-dashboard"], stdout=log, stderr=log))
        for _ in range(2):
            processes.append(subprocess.Popen(
                [*dask_command("worker"), address, "--nthreads", "1", "--nworkers", "1",
                 "--no-dashboard", "--host", "127.0.0.1"], stdout=log, stderr=log))
        from distributed import Client

        with Client(address, timeout=60) as client:
            client.wait_for_workers(2, timeout=60)
            assert sorted(client.nthreads().values()) == [1, 1]
        run_sweep("--scheduler", address, "--world", WORLDS / "maze.dat", "--seeds", "1-4",
                  "--scale1", "0.05,0.2", "--ticks", 800, "--out", "cluster.csv", cwd=tmp_path)
        rows = read_rows(tmp_path / "cluster.csv")
        assert len(rows) == 8
        for row in rows[::4]:
            assert_row_is_the_summary(row)
    finally:
        for process in reversed(processes):
            stop(process)
        log.close()


def test_the_launcher_runs_from_anywhere(tmp_path):
    launcher = pathlib.Path(os.environ.get("ROBOSIM_HEADLESS", SOURCE_DIR / "build/bin/x")).parent \
        / "robosim-sweep"
    environment = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    result = subprocess.run([str(launcher), "--seeds", "1", "--ticks", "50", "--workers", "1"],
                            cwd=tmp_path, env=environment, capture_output=True, text=True,
                            timeout=TIMEOUT)
    assert result.returncode == 0, result.stderr
    assert len(read_rows(tmp_path / "sweep.csv")) == 1
