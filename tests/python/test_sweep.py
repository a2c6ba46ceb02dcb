"""The sweep tool: its rows against the headless runner's summaries, resuming,
failed runs, bad command lines, configuration files, its statistics against
numbers computed here, its figures, report and reproduction from a
configuration, and a cluster started by hand. Sweeps run as the user runs them,
in their own process."""

import csv
import math
import os
import pathlib
import re
import signal
import socket
import subprocess
import sys
import threading

import pytest

from conftest import SOURCE_DIR, WORLDS, headless_summary
from robosim import sweep, sweep_rows

TIMEOUT = 180


def run_sweep(*arguments, cwd, expect=0):
    """Runs python3 -m robosim.sweep with a temporary folder of its own, which
    must be empty again when it ends; returns (stdout, stderr)."""
    scratch = pathlib.Path(cwd) / "tmp-of-the-sweep"
    scratch.mkdir(exist_ok=True)
    result = subprocess.run([sys.executable, "-m", "robosim.sweep", *map(str, arguments)],
                            capture_output=True, text=True, timeout=TIMEOUT, cwd=cwd,
                            env={**os.environ, "TMPDIR": str(scratch)})
    assert result.returncode == expect, result.stderr
    assert "Traceback" not in result.stderr
    assert list(scratch.iterdir()) == [], "the sweep left files in its temporary folder"
    scratch.rmdir()
    return result.stdout, result.stderr


def read_rows(path):
    with open(path, newline="") as stream:
        return list(csv.DictReader(stream))


def headless_of(row):
    """The runner's JSON summary of the run a sweep row describes."""
    arguments = ["--seed", row["seed"], "--ticks", row["ticks"], "--period-ms", row["period_ms"]]
    if row["world"]:
        arguments += ["--world", row["world"]]
    for placed in ("pose", "target"):
        if row[placed]:
            arguments += [f"--{placed}", row[placed]]
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

    def test_poses_and_targets(self):
        assert sweep.parse_placements(["2,8", "8, 2;random", " 2.0,8 "], "target") == [
            "2.0,8.0", "8.0,2.0", "random"]
        assert sweep.parse_placements(["5,4,1.5;random"], "pose") == ["5.0,4.0,1.5", "random"]

    @pytest.mark.parametrize("option, text", [("target", ""), ("target", "2"),
                                              ("target", "2,8,0"), ("target", "x,1"),
                                              ("target", "nan,1"), ("pose", "5,5"),
                                              ("pose", "5,5,inf"), ("pose", "2,8;Random")])
    def test_bad_poses_and_targets(self, option, text):
        with pytest.raises(sweep.UsageError, match=f"--{option}: .* nor random"):
            sweep.parse_placements([text], option)

    def test_worlds(self, tmp_path):
        with pytest.raises(sweep.UsageError, match="matches no file"):
            sweep.expand_worlds([str(tmp_path / "*.dat")])
        found = sweep.expand_worlds([str(WORLDS / "[mp]*.dat"), "missing.dat"])
        assert found == [str(WORLDS / "maze.dat"), str(WORLDS / "pillars.dat"), "missing.dat"]

    def test_runs_cover_every_combination_once(self):
        s = sweep.Sweep({"seeds": "1-3", "scale1": "0.1,0.2", "scale3": "0:1:2",
                         "world": [str(WORLDS / "maze.dat")]})
        keys = [sweep_rows.inputs_key(run) for run in s.runs()]
        assert len(keys) == len(set(keys)) == 12
        assert s.swept_gains() == ["scale1", "scale3"]
        placed = sweep.Sweep({"seeds": "1-2", "pose": ["random"], "target": ["2,8", "8,2;5,5"]})
        assert sorted((run["pose"], run["target"], run["seed"]) for run in placed.runs()) == [
            ("random", target, seed) for target in ("2.0,8.0", "5.0,5.0", "8.0,2.0")
            for seed in ("1", "2")]

    @pytest.mark.parametrize("arguments, message", [
        (["--ticks", "-1"], "--ticks"),
        (["--ticks", "ten"], "--ticks"),
        (["--ticks", "7" * 5_000], f"--ticks: {'7' * 40}… (5000 characters) lies outside"),
        (["--wait-for-workers", "-1"], "--wait-for-workers"),
        (["--period-ms", "0"], "--period-ms"),
        (["--workers", "0"], "--workers"),
        (["--workers", "2", "--scheduler", "tcp://127.0.0.1:1"], "--workers"),
        (["--threads", "0"], "--threads"),
        (["--controller", "nocolon"], "module:function"),
        (["--controller", "no_such_module_here:f"], "cannot load"),
        (["--seeds", "1-3", "--scale1", "0:1:1000", "--scale2", "0:1:1000"], "more than"),
        (["--config", "missing.toml"], "cannot read"),
        (["--metric", "speed"], "--metric: 'speed' is not a metric"),
        (["--plot-format", "png,gif"], "--plot-format: 'gif'"),
        (["--baseline", "scale1=0.11"], "scale1 is not swept"),
        (["--scale1", "0.05,0.2", "--baseline", "scale1=0.1"], "0.1 is not one of the values"),
        (["--scale1", "0.05,0.2", "--baseline", "world=maze.dat"], "is not GAIN=VALUE"),
        (["--target", "5"], "--target: '5' is neither X,Y (2 finite numbers) nor random"),
    ])
    def test_bad_command_lines(self, tmp_path, arguments, message):
        _, err = run_sweep(*arguments, "--out", tmp_path / "out.csv", cwd=tmp_path, expect=2)
        assert message in err
        assert not (tmp_path / "out.csv").exists()

    def test_bad_configurations(self, tmp_path):
        for text, message in [("seeds = [", "not valid TOML"), ("speed = 3", "unknown key"),
                              ("ticks = true", "'ticks' must be"), ("world = 3", "'world' must be"),
                              ("scale1 = []", "at least one"),
                              ("world = " + "[" * 100_000 + "]" * 100_000, "nested too deeply"),
                              ("x = " + "{a = " * 5_000 + "1" + "}" * 5_000, "nested too deeply"),
                              ("ticks = " + "1" * 5_000, "more digits than can be read"),
                              ("ticks = " + "9" * 4_000, "lies outside 0 to")]:
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
        assert {sweep_rows.inputs_key(row) for row in rows} == {
            sweep_rows.inputs_key(run) for run in sweep.Sweep(
                {"world": [str(WORLDS / "maze.dat"), str(WORLDS / "pillars.dat")], "seeds": "1-2",
                 "scale1": "0.05,0.2", "scale3": "0.01", "ticks": "1500"}).runs()}
        for row in rows[::3]:
            assert_row_is_the_summary(row)
        # Two runs at once on threads of one worker give the same rows.
        threaded = tmp_path / "threaded.csv"
        run_sweep(*arguments[:-4], "--workers", 1, "--threads", 2, "--out", threaded, cwd=tmp_path)
        def simulated(table):
            return sorted(tuple(sorted((k, v) for k, v in row.items() if k != "wall_seconds"))
                          for row in table)
        assert simulated(read_rows(threaded)) == simulated(rows)

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
        out, _ = run_sweep("--config", "sweep.toml", "--ticks", 900, "--world", "default",
                           cwd=tmp_path)
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


class TestResume:
    def test_rows_are_tied_to_the_world_the_controller_and_the_build(self, tmp_path):
        world = tmp_path / "w.dat"
        world.write_bytes((WORLDS / "room-with-doorway.dat").read_bytes())
        out = tmp_path / "runs.csv"
        common = ["--world", "w.dat", "--seeds", "1-2", "--ticks", 400, "--workers", 1,
                  "--out", "runs.csv"]
        run_sweep(*common, cwd=tmp_path)
        first = read_rows(out)
        assert {row["world_sha256"] for row in first} == {sha256_of(world)}

        # The maze under the old name: the old rows stay, unused, and the runs run again.
        world.write_bytes((WORLDS / "maze.dat").read_bytes())
        _, err = run_sweep(*common, cwd=tmp_path)
        assert "2 rows of runs.csv were made from another content of w.dat" in err
        assert "2 runs done" in err and "0 skipped" in err
        rows = read_rows(out)
        assert rows[:2] == first and len(rows) == 4
        for row in rows[2:]:
            assert row["world_sha256"] == sha256_of(world)
            assert_row_is_the_summary({**row, "world": str(world)})
        summary = read_rows(tmp_path / "runs.summary.csv")
        assert [line["n"] for line in summary] == ["2"]
        expected = sum(float(row["targets_per_minute"]) for row in rows[2:]) / 2
        assert float(summary[0]["mean"]) == pytest.approx(expected, rel=1e-5)
        _, err = run_sweep(*common, cwd=tmp_path)
        assert "2 of 2 runs are already in runs.csv; skipped" in err and "made from" not in err

        # Another content of the controller's module, then rows of another build.
        drivers = tmp_path / "drivers.py"
        drivers.write_text("def drive(sim):\n    sim.drive(0.03, 0.0)\n")
        run_sweep(*common, "--controller", "drivers:drive", cwd=tmp_path)
        drivers.write_text("def drive(sim):\n    sim.drive(0.02, 0.01)\n")
        _, err = run_sweep(*common, "--controller", "drivers:drive", cwd=tmp_path)
        assert ("2 rows of runs.csv were made with another content of the module of the "
                "controller drivers:drive") in err and "2 runs done" in err
        rows = read_rows(out)
        assert len({row["controller_sha256"] for row in rows[4:]}) == 2
        for row in rows[-2:]:
            row["build"] = "0.9.0+0123456789abcdef"
        with open(out, "w", newline="") as stream:
            writer = csv.DictWriter(stream, fieldnames=sweep_rows.COLUMNS, lineterminator="\n")
            writer.writeheader()
            writer.writerows(rows)
        _, err = run_sweep(*common, "--controller", "drivers:drive", cwd=tmp_path)
        assert "2 rows of runs.csv were made by robosim 0.9.0+0123456789abcdef, not by this build" \
            in err and "2 runs done" in err
        assert len(read_rows(out)) == 10

    def test_a_worker_refuses_a_run_whose_world_controller_or_build_differs(self, tmp_path):
        from robosim import sweep_cluster, sweep_origin

        world = tmp_path / "w.dat"
        world.write_bytes((WORLDS / "maze.dat").read_bytes())
        run = {"world": "w.dat", "pose": "", "target": "", "seed": "1", "scale1": "", "scale2": "",
               "scale3": "", "ticks": "20", "period_ms": "10", "controller": "", "world_sha256": sha256_of(world),
               "controller_sha256": "", "build": sweep_origin.build_identity()}
        task = {"inputs": run, "directory": str(tmp_path), "world_path": str(world)}
        assert sweep_cluster.run_one(task)["row"]["world_sha256"] == sha256_of(world)
        for change, message in [({"world_sha256": "0" * 64}, "the world file w.dat has changed"),
                                ({"controller_sha256": "0" * 64}, "the module of the controller"),
                                ({"build": "0.9.0+0123456789abcdef"}, "this worker runs robosim")]:
            result = sweep_cluster.run_one({**task, "inputs": {**run, **change}})
            assert result["error"].startswith("OriginMismatch: " + message), result

    def test_the_robot_escapes_the_trap_on_every_seed(self, tmp_path, monkeypatch):
        # A U of three walls around the robot, the target behind its bottom; a
        # strong impact repulsion keeps the robot circling inside for a while.
        (tmp_path / "trap.dat").write_text("5.0\n4.0\n1.570796\n3\n3.0 3.0 0.1 4.0\n"
                                          "6.9 3.0 0.1 4.0\n3.0 7.0 4.0 0.1\n")
        out = tmp_path / "trap.csv"
        run_sweep("--world", "trap.dat", "--target", "5,8.5;1,1", "--scale1", "0.8",
                  "--seeds", "1-2", "--ticks", 3000, "--workers", 1, "--plot-format", "png",
                  "--metric", "time_to_first_target,trapped_seconds", "--out", out, cwd=tmp_path)
        rows = read_rows(out)
        assert sorted((row["target"], row["seed"]) for row in rows) == [
            ("1.0,1.0", "1"), ("1.0,1.0", "2"), ("5.0,8.5", "1"), ("5.0,8.5", "2")]
        for row in rows:
            if row["target"] == "5.0,8.5":
                assert float(row["time_to_first_target"]) > 10.0, row
                assert float(row["trapped_seconds"]) > 10.0, row
        monkeypatch.chdir(tmp_path)  # the rows name the world as given
        assert_row_is_the_summary(rows[0])
        summary = (tmp_path / "trap.summary.csv").read_text()
        assert "5.0,8.5" in summary and "1.0,1.0" in summary

    def test_a_file_of_an_older_sweep_is_refused_and_left_alone(self, tmp_path):
        old_columns = [c for c in sweep_rows.COLUMNS if c not in sweep_rows.ORIGIN_COLUMNS]
        text = ",".join(old_columns) + "\n"
        (tmp_path / "old.csv").write_text(text)
        _, err = run_sweep("--ticks", 10, "--out", "old.csv", cwd=tmp_path, expect=2)
        assert "old.csv, line 1: the columns are those of an older robosim-sweep" in err
        assert (tmp_path / "old.csv").read_text() == text


def sha256_of(path):
    import hashlib

    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


SEEDS = 6
RESULTS_OPTIONS = ["--world", WORLDS / "maze.dat", "--world", WORLDS / "pillars.dat",
                   "--seeds", f"1-{SEEDS}", "--scale1", "0.05:0.2:3", "--ticks", 3000,
                   "--period-ms", 20, "--workers", 2, "--baseline", "scale1=0.125",
                   "--metric", "targets_per_minute", "--metric", "distance_travelled",
                   "--plot-format", "png,svg,pdf", "--shared-y", "--report", "report.md",
                   "--out", "results.csv"]
METRICS_SHOWN = ["targets_per_minute", "distance_travelled"]


@pytest.fixture(scope="module")
def results(tmp_path_factory):
    """One sweep with every option of its results; its folder."""
    folder = tmp_path_factory.mktemp("results")
    run_sweep(*RESULTS_OPTIONS, cwd=folder)
    return folder


def close(value, expected):
    """Equal to the six significant digits the summary gives."""
    return value == pytest.approx(expected, rel=6e-6, abs=1e-9)


def png_size_and_dpi(data):
    import struct

    width, height = struct.unpack(">II", data[16:24])
    at = data.index(b"pHYs")
    per_metre, _, unit = struct.unpack(">IIB", data[at + 4:at + 13])
    assert unit == 1
    return width, height, per_metre * 0.0254


def svg_texts(path):
    """(text, font size in points) of every text of an SVG (text kept as text)."""
    import xml.etree.ElementTree as ElementTree

    texts = []
    for element in ElementTree.parse(path).iter("{http://www.w3.org/2000/svg}text"):
        size = re.search(r"font: ([0-9.]+)px", element.get("style", ""))
        texts.append(("".join(element.itertext()), float(size.group(1)) if size else None))
    return texts


class TestResults:
    def test_the_summary_equals_statistics_computed_here(self, results):
        import numpy as np
        from scipy import stats

        rows = read_rows(results / "results.csv")
        summary = read_rows(results / "results.summary.csv")
        assert [r["metric"] for r in summary] == METRICS_SHOWN * 6
        by = {(r["world"], r["scale1"], r["metric"]): r for r in summary}
        for (world, scale1, metric), line in by.items():
            mine = {r["seed"]: float(r[metric]) for r in rows
                    if r["world"] == world and r["scale1"] == scale1}
            values = np.array(list(mine.values()))
            n = len(values)
            half = stats.t.ppf(0.975, n - 1) * values.std(ddof=1) / np.sqrt(n)
            assert int(line["n"]) == n == SEEDS
            assert close(float(line["mean"]), values.mean())
            # Cut at zero: neither metric can be negative.
            assert close(float(line["ci95_low"]), max(values.mean() - half, 0.0))
            assert close(float(line["ci95_high"]), values.mean() + half)
            assert line["baseline"] == "scale1=0.125"
            if scale1 == "0.125":
                assert line["pairs"] == line["diff_mean"] == line["p_paired"] == ""
                continue
            base = {r["seed"]: float(r[metric]) for r in rows
                    if r["world"] == world and r["scale1"] == "0.125"}
            d = np.array([mine[seed] - base[seed] for seed in mine])
            sd = d.std(ddof=1)
            t = d.mean() / (sd / np.sqrt(n))
            half = stats.t.ppf(0.975, n - 1) * sd / np.sqrt(n)
            assert int(line["pairs"]) == n
            assert close(float(line["diff_mean"]), d.mean())
            assert close(float(line["diff_sd"]), sd)
            assert close(float(line["diff_ci95_low"]), d.mean() - half)
            assert close(float(line["diff_ci95_high"]), d.mean() + half)
            assert close(float(line["p_paired"]), 2 * stats.t.sf(abs(t), n - 1))

    def test_each_figure_format_is_readable_and_its_caption_tells_the_rows(self, results):
        rows = read_rows(results / "results.csv")
        minutes = 3000 * 20 / 60000
        for base in ("results", "results.paired"):
            width, height, dpi = png_size_and_dpi((results / f"{base}.png").read_bytes())
            assert round(dpi) == 200 and width >= 1200 and height >= 1000, (width, height)
            pdf = (results / f"{base}.pdf").read_bytes()
            assert pdf.startswith(b"%PDF") and b"/FontFile2" in pdf
            texts = svg_texts(results / f"{base}.svg")
            assert all(size is not None and size >= 7 for _, size in texts), texts
            caption = " ".join(text for text, _ in texts if "per point" in text
                               or "simulated" in text)
            seeds = {len([r for r in rows if (r["world"], r["scale1"]) == key])
                     for key in {(r["world"], r["scale1"]) for r in rows}}
            unit = "seed pairs" if base.endswith("paired") else "seeds"
            assert seeds == {SEEDS} and f"n = {SEEDS} {unit} per point" in caption, caption
            assert f"each run 3000 ticks of 20 ms = {minutes:g} simulated minute" in caption
            shown = {text for text, _ in texts}
            assert "scale1 (gain of the impact repulsion)" in shown
            assert any("targets reached per simulated" in t and "[1/min]" in t.replace("\n", " ")
                       or "minute [1/min]" in t for t in shown), shown
        legend = {text for text, _ in svg_texts(results / "results.svg")}
        assert "mean ± 95 % CI of the mean (t, n − 1)" in legend
        assert {"maze.dat", "pillars.dat"} <= legend

    def test_markers_error_bars_and_a_shared_axis(self, results):
        from robosim import sweep_figures

        _, pyplot = sweep_figures.pyplot_module()
        rows = read_rows(results / "results.csv")
        limits = {}
        for name, ranges, shared in [("range", {"scale1"}, True), ("list", set(), False)]:
            plan = sweep_figures.FigurePlan(METRICS_SHOWN, ["scale1"], ranges, shared, 3000, 20,
                                            None)
            figure = sweep_figures.means_figure(pyplot, rows, plan)
            panels = [axes for axes in figure.axes if axes.get_visible()]
            assert len(panels) == 4
            marks = panels[0].lines[0]
            assert marks.get_marker() == "o" and len(marks.get_xdata()) == 3
            assert (marks.get_linestyle() == "-") == (name == "range")
            assert len(panels[0].collections) == 1  # the error bars
            limits[name] = [axes.get_ylim() for axes in panels]
            pyplot.close(figure)
        assert limits["range"][0] == limits["range"][1] and limits["range"][2] == limits["range"][3]
        assert limits["list"][0] != limits["list"][1]

    def test_the_report_tells_everything_and_its_configuration_reruns_the_sweep(
            self, results, tmp_path):
        report = (results / "report.md").read_text()
        assert "robosim 1.0.0" in report and "robosim-sweep --world" in report
        summary = read_rows(results / "results.summary.csv")
        for line in summary:
            # Rounded to two significant digits of the standard deviation.
            sd = float(line["sd"])
            decimals = max(0, 1 - math.floor(math.log10(sd)))
            assert f"| {float(line['mean']):.{decimals}f} | {sd:.{decimals}f} |" in report
            if line["p_paired"]:
                assert f"| {line['p_paired']} | {line['pairs']} |" in report
        for link in re.findall(r"\]\(([^)]+)\)", report):
            assert (results / link).is_file(), link
        configuration = report.split("```toml\n")[1].split("```")[0]
        (tmp_path / "again.toml").write_text(configuration)
        run_sweep("--config", "again.toml", "--workers", 1, cwd=tmp_path)
        first = {sweep.run_key(r): {k: v for k, v in r.items() if k != "wall_seconds"}
                 for r in read_rows(results / "results.csv")}
        again = {sweep.run_key(r): {k: v for k, v in r.items() if k != "wall_seconds"}
                 for r in read_rows(tmp_path / "results.csv")}
        assert again == first and len(first) == 2 * 3 * SEEDS
        assert (tmp_path / "report.md").exists() and (tmp_path / "results.paired.svg").exists()

    def test_the_metrics_listed(self, tmp_path):
        out, _ = run_sweep("--list-metrics", cwd=tmp_path)
        for metric in sweep_rows.METRICS.values():
            assert re.search(rf"^{metric.name} +{re.escape(metric.unit or '-')} +"
                             rf"{re.escape(metric.meaning)}$", out, re.M), metric


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


def test_a_cluster_without_workers_is_said_to_be_so_and_waited_for_as_long_as_asked(tmp_path):
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    log = open(tmp_path / "cluster.log", "w")
    processes = [subprocess.Popen([*dask_command("scheduler"), "--host", "127.0.0.1", "--port",
                                   str(port), "--no-dashboard"], stdout=log, stderr=log)]
    command = ["--scheduler", address, "--seeds", "1-2", "--ticks", 200, "--out", "runs.csv"]
    watchdog = threading.Timer(0, lambda: None)
    try:
        _, err = run_sweep(*command, "--wait-for-workers", 0, cwd=tmp_path, expect=2)
        assert f"the cluster at {address} has had no workers for 0 s (--wait-for-workers)" in err
        assert "0 of 2 runs are in runs.csv" in err

        sweep_process = subprocess.Popen(
            [sys.executable, "-m", "robosim.sweep", *map(str, command), "--wait-for-workers", "600"],
            cwd=tmp_path, stderr=subprocess.PIPE, text=True)
        processes.append(sweep_process)
        watchdog = threading.Timer(TIMEOUT, sweep_process.kill)  # should the notice never come
        watchdog.start()
        lines = []
        for line in sweep_process.stderr:
            lines.append(line)
            if f"the cluster at {address} has no workers; waiting up to 600 s for one" in line:
                break
        assert lines and "waiting up to 600 s" in lines[-1], "".join(lines)
        processes.append(subprocess.Popen(
            [*dask_command("worker"), address, "--nthreads", "1", "--no-dashboard", "--host",
             "127.0.0.1"], stdout=log, stderr=log))
        rest = sweep_process.stderr.read()
        assert sweep_process.wait(timeout=TIMEOUT) == 0, rest
        assert "a worker has come; the sweep goes on" in rest
        assert len(read_rows(tmp_path / "runs.csv")) == 2
    finally:
        watchdog.cancel()
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


@pytest.mark.parametrize("values, signed, low, high, text", [
    # Counts spread wide (mean 30.47, sd 66.83): the t-interval would reach
    # -52.51; cut at zero, and shown to two significant digits of the sd.
    ([0, 0, 0, 150, 2.35], False, 0.0, 113.44674, "0 to 113"),
    # The same values of a metric that may be negative keep the whole interval.
    ([0, 0, 0, 150, 2.35], True, -52.50674, 113.44674, "-53 to 113"),
    # An interval above zero is not touched; small spreads keep their digits.
    ([1.2345, 1.2351, 1.2339], False, 1.2330095, 1.2359905, "1.23301 to 1.23599"),
    ([3, 5, 4, 6], False, 2.4457397, 6.5542603, "2.4 to 6.6"),
])
def test_intervals_of_metrics_that_cannot_be_negative_stop_at_zero(values, signed, low, high,
                                                                     text):
    from robosim import sweep_report

    d = sweep_report.describe_values(values, non_negative=not signed)
    assert d["ci95_low"] == pytest.approx(low, abs=1e-5)
    assert d["ci95_high"] == pytest.approx(high, abs=1e-5)
    assert sweep_report.interval_text(d) == text
    assert "final_heading" in sweep_report.SIGNED_METRICS
