"""robosim.Simulation: the same runs as the headless runner, every member, and the
errors that change nothing."""

import errno
import math
import os
import signal
import pickle
import subprocess
import sys

import numpy as np
import pytest

import robosim
from conftest import WORLDS, headless_summary, headless_trace, run_headless, trace_row

CELL = 10 / 75


def run_trace(sim, ticks, every, events=()):
    """Steps the simulation as the runner's trace sees it; events are (tick, "down"|"up", key)."""
    rows = [trace_row(sim)]
    pending = sorted(events, key=lambda e: e[0])
    while True:
        while pending and pending[0][0] == sim.tick:
            _, kind, key = pending.pop(0)
            (sim.key_down if kind == "down" else sim.key_up)(key)
        if sim.tick == ticks:
            break
        sim.step(1)
        if sim.tick % every == 0:
            rows.append(trace_row(sim))
    return rows


# ---------------------------------------------------------------- the runner's runs


class TestSameRunAsTheHeadlessRunner:
    def test_automatic_run_in_the_maze(self, tmp_path):
        expected = headless_trace(
            tmp_path, "--seed", 7, "--world", WORLDS / "maze.dat", "--ticks", 3000,
            "--trace-every", 50,
        )
        with robosim.Simulation(seed=7, world=WORLDS / "maze.dat") as sim:
            assert run_trace(sim, 3000, 50) == expected

    def test_manual_run_with_keys_and_a_slower_tick(self, tmp_path):
        events = [
            (0, "down", "W"), (40, "down", "a"), (90, "up", "A"), (120, "down", "Down"),
            (120, "up", "Down"), (200, "down", "s"), (200, "down", "d"), (260, "up", "S"),
            (260, "up", "D"), (261, "up", "w"), (300, "down", "space"), (300, "up", "space"),
        ]
        script = tmp_path / "drive.keys"
        script.write_text("".join(f"{t} {kind} {key}\n" for t, kind, key in events))
        expected = headless_trace(
            tmp_path, "--seed", 11, "--manual", "--keys", script, "--ticks", 400,
            "--period-ms", 20, "--trace-every", 10,
        )
        with robosim.Simulation(seed=11, manual=True, period_ms=20) as sim:
            assert run_trace(sim, 400, 10, events) == expected

    def test_the_summary_counters(self):
        summary = headless_summary("--seed", 3, "--world", WORLDS / "pillars.dat", "--ticks", 20000)
        with robosim.Simulation(seed=3, world=WORLDS / "pillars.dat") as sim:
            assert sim.step(20000) == 20000
            stats = sim.stats
        for name in ("targets_reached", "planning_runs", "planning_failures", "planning_gave_up",
                     "console_messages"):
            assert stats[name] == summary[name], name
        assert summary["targets_reached"] > 0
        assert isinstance(stats["console"], list)

    # Every run metric of the table, to the summary's decimals, in runs that
    # exercise each one: contacts and a close wall in the maze, other gains, and a
    # stuck spell of a robot left standing in manual mode.

    @pytest.mark.parametrize("seed, world, gains, ticks, manual", [
        (3, "maze.dat", (None, None, None), 30000, False),
        (2, "maze.dat", (0.01, 0.5, 0.5), 4000, False),
        (2, "pillars.dat", (0.0, 0.02, 0.0), 4000, False),
        (2, "maze.dat", (None, None, None), 1234, True),
    ])
    def test_the_run_metrics_equal_the_summary(self, seed, world, gains, ticks, manual):
        options = [a for i, g in enumerate(gains, 1) if g is not None for a in (f"--scale{i}", g)]
        if manual:
            options.append("--manual")
        summary = headless_summary("--seed", seed, "--world", WORLDS / world, "--ticks", ticks,
                                   *options)
        assert summary["contacts"] > 0 or summary["stuck_spells"] > 0
        with robosim.Simulation(seed=seed, world=WORLDS / world, manual=manual) as sim:
            sim.gains = tuple(old if new is None else new for old, new in zip(sim.gains, gains))
            sim.step(ticks)
            stats = sim.stats
        from robosim import _robosim

        for metric in _robosim.RUN_METRICS:
            name, decimals = metric["name"], metric["decimals"]
            value = stats[name]
            if decimals is not None and value is not None:  # None: no value, JSON's null
                value = round(value, decimals)
            assert value == summary[name], name

    def test_no_push_back_distance_without_walls(self, tmp_path):
        world = tmp_path / "no-walls.dat"
        world.write_text("5.0\n5.0\n0.0\n0\n")
        summary = headless_summary("--seed", 4, "--world", world, "--ticks", 500)
        with robosim.Simulation(seed=4, world=world) as sim:
            sim.step(500)
            stats = sim.stats
        assert summary["least_push_distance"] is None and stats["least_push_distance"] is None
        assert stats["contacts"] == summary["contacts"] == 0

    def test_esc_ends_the_run_as_in_the_runner(self, tmp_path):
        script = tmp_path / "quit.keys"
        script.write_text("30 down Esc\n")
        summary = headless_summary("--seed", 1, "--ticks", 100, "--keys", script)
        with robosim.Simulation(seed=1) as sim:
            sim.step(30)
            sim.key_down("Esc")
            assert sim.step(50) == 0
            assert sim.tick == summary["ticks"] == 30


# ---------------------------------------------------------------- the planner's example


def test_wavefront_example_through_the_interface():
    with robosim.Simulation(seed=1) as sim:
        sim.set_pose(1.5, 2.9, 0)
        sim.clear_impacts()
        assert len(sim.impacts) == 0
        sim.target = (5, 5)
        waypoints = sim.waypoints
        assert waypoints.shape == (26, 4)
        assert sim.cur_waypoint == 25
        # The head (index 0) is the target's cell, the tail the first step out.
        assert list(waypoints[:, 3]) == list(range(26))
        assert waypoints[0, 0] == pytest.approx(37 * CELL) and waypoints[0, 1] == pytest.approx(37 * CELL)
        assert waypoints[25, 0] == pytest.approx(12 * CELL)
        assert waypoints[25, 1] == pytest.approx(22 * CELL)
        grid = sim.grid
        assert grid[11, 21] & 0xFFF == 42
        assert grid[37, 37] & 0xFFF == 0
        assert grid[37, 37] & 0x4000


# ---------------------------------------------------------------- reproducibility


def trace_of(seed, ticks=2000, **options):
    with robosim.Simulation(seed=seed, **options) as sim:
        rows = []
        for _ in range(ticks // 100):
            sim.step(100)
            r = sim.robot
            rows.append((r.x, r.y, r.heading, sim.target, len(sim.impacts)))
        return rows


def test_the_same_seed_gives_the_same_run_and_another_seed_another():
    first = trace_of(5)
    assert trace_of(5) == first
    assert trace_of(6) != first


def test_a_new_simulation_starts_from_a_full_reset(tmp_path):
    # A run that changes everything it can: mode, gains, walls, period, target.
    with robosim.Simulation(seed=9, world=WORLDS / "maze.dat") as sim:
        sim.step(500)
        sim.press("M")
        sim.drive(0.03, 0.01)
        sim.press("Down")
        sim.press("G")
        sim.press("V")
        sim.gains = (1, 2, 3)
        sim.add_wall(2, 2, 1, 1)
        sim.target = (8, 8)
        sim.step(300)
    expected = headless_trace(tmp_path, "--seed", 9, "--ticks", 1000, "--trace-every", 100)
    with robosim.Simulation(seed=9) as sim:
        assert run_trace(sim, 1000, 100) == expected
        assert not sim.manual
        assert sim.gains == (0.11, 0.86, 0.193)


# ---------------------------------------------------------------- one per process


def test_a_closed_simulation_refuses_every_use_and_others_stay_open():
    first = robosim.Simulation(seed=1)
    second = robosim.Simulation(seed=2)
    first.close()
    assert first.closed and not second.closed
    assert second.step(10) == 10  # the other one is untouched
    with pytest.raises(RuntimeError, match="closed"):
        first.step(1)
    with pytest.raises(RuntimeError, match="closed"):
        _ = first.robot
    for use in (first.copy, lambda: pickle.dumps(first), lambda: first.render(8, 8)):
        with pytest.raises(RuntimeError, match="closed"):
            use()
    first.close()  # closing again does nothing
    with second:
        assert second.tick == 10
    assert second.closed


# Sends SIGINT to process PID once its main thread has run for a fifth of a second
# of its own processor time from now: what it does outside step() takes far less,
# so by then it is inside step(), however loaded the machine.
INTERRUPT_INSIDE_STEP = """
import os, signal, sys, time
pid = int(sys.argv[1])
def cpu_ticks():
    with open(f"/proc/{pid}/task/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime and stime
start = cpu_ticks()
while cpu_ticks() - start < os.sysconf("SC_CLK_TCK") / 5:
    time.sleep(0.01)
os.kill(pid, signal.SIGINT)
"""


def test_ctrl_c_interrupts_a_long_step_and_keeps_the_ticks_run():
    # The interrupt comes from another process, as a terminal's Ctrl-C does: step()
    # holds the interpreter's lock, so no thread of this process could send it.
    # Ctrl-C raises KeyboardInterrupt here even when the tests were started with
    # SIGINT ignored, as a script's background job is.
    old = signal.signal(signal.SIGINT, signal.default_int_handler)
    with robosim.Simulation(seed=1) as sim:
        killer = subprocess.Popen([sys.executable, "-c", INTERRUPT_INSIDE_STEP, str(os.getpid())])
        try:
            with pytest.raises(KeyboardInterrupt):
                sim.step(10**12)
        finally:
            killer.wait()
            signal.signal(signal.SIGINT, old)
        ticks = sim.tick
        assert 0 < ticks < 10**12
        assert sim.step(10) == 10 and sim.tick == ticks + 10


def test_a_dropped_simulation_frees_the_process():
    robosim.Simulation(seed=1)  # never bound: closed when collected
    robosim.Simulation(seed=1).close()


def test_a_failed_open_leaves_nothing_open(tmp_path):
    with pytest.raises(OSError):
        robosim.Simulation(world=tmp_path / "missing.dat")
    robosim.Simulation(seed=0).close()


# ---------------------------------------------------------------- members


class TestMembers:
    def test_clock_and_ticks(self):
        with robosim.Simulation(seed=1, period_ms=20) as sim:
            assert (sim.tick, sim.time) == (0, 0.0)
            assert sim.step() == 1
            assert sim.step(0) == 0
            assert sim.step(99) == 99
            assert sim.tick == 100
            assert sim.time == pytest.approx(2.0)

    def test_robot_snapshot(self):
        with robosim.Simulation(seed=4) as sim:
            sim.step(10)
            r = sim.robot
            assert len(r.sensor_hit) == len(r.sensor_value) == len(r.vision_seen) == 6
            assert all(isinstance(v, bool) for v in r.sensor_hit + r.vision_seen)
            assert all(len(p) == 2 for p in r.vision_point)
            for name in ("x", "y", "heading", "speed", "turn", "grad_angle", "grad_mag",
                         "heading_error"):
                assert math.isfinite(getattr(r, name))
            sim.step(10)
            assert (r.x, r.y) != (sim.robot.x, sim.robot.y)  # a copy, not a view
            with pytest.raises(AttributeError):
                r.x = 1.0

    def test_manual_mode_and_drive(self):
        with robosim.Simulation(seed=2) as sim:
            with pytest.raises(RuntimeError, match="manual"):
                sim.drive(0.01, 0)
            sim.press("m")
            assert sim.manual
            sim.set_pose(5, 5, 0)
            sim.clear_walls()
            sim.drive(0.03, 0)
            sim.step(10)
            r = sim.robot
            assert (r.speed, r.turn) == (0.03, 0)
            assert r.x == pytest.approx(5.3)
            assert r.y == pytest.approx(5.0)
            # The command holds until the next drive(); the driving keys are not read.
            sim.key_down("S")
            sim.step(1)
            assert sim.robot.speed == 0.03
            sim.manual = False
            assert not sim.manual
            sim.manual = True
            sim.step(1)  # with the command dropped, the held S drives backward
            assert sim.robot.speed == -0.03

    def test_keys(self):
        with robosim.Simulation(seed=2) as sim:
            before = sim.gains
            sim.press("2")
            sim.press("4")
            sim.press("6")
            assert sim.gains == pytest.approx((before[0] + 0.01, before[1] + 0.01, before[2] + 0.001))
            # A held key with an action runs again with every other key's press.
            sim.key_down("1")
            sim.press("3")
            sim.key_up("1")
            assert sim.gains[0] == pytest.approx(before[0] + 0.01 - 0.02)
            for name in ("W", "w", "space", "Space", "Up", "DOWN", "Esc", "escape", "left",
                         "right", "enter", "tab", "backspace", "0", "9"):
                sim.key_up(name)

    def test_pose_target_and_gains(self):
        with robosim.Simulation(seed=3) as sim:
            runs = sim.stats["planning_runs"]
            sim.set_pose(2.5, 7.25, 1.5)
            r = sim.robot
            assert (r.x, r.y, r.heading) == (2.5, 7.25, 1.5)
            assert sim.stats["planning_runs"] == runs  # no planning run
            # Headings as a world file gives them: as written up to 1000 radians,
            # beyond that the same direction within half a turn of 0.
            sim.set_pose(2.5, 7.25, 999.5)
            assert sim.robot.heading == 999.5
            sim.set_pose(2.5, 7.25, 1e300)
            assert sim.robot.heading == math.remainder(1e300, 2 * math.pi)
            sim.set_pose(2.5, 7.25, 1.5)
            sim.target = [6, 4]
            assert sim.target == (6.0, 4.0)
            assert sim.stats["planning_runs"] > runs
            sim.gains = np.array([0.2, 0.3, 0.4])
            assert sim.gains == (0.2, 0.3, 0.4)
            runs = sim.stats["planning_runs"]
            sim.plan()
            assert sim.stats["planning_runs"] == runs + 1

    def test_walls_impacts_and_grid(self):
        with robosim.Simulation(seed=3) as sim:
            walls = sim.walls
            assert walls.dtype == np.float64
            np.testing.assert_array_equal(
                walls,
                [[9.95, 0, 0.05, 10], [0, 0, 0.05, 10], [0, 9.95, 10, 0.05], [0, 0, 10, 0.05]],
            )
            sim.add_wall(3, 4, 1.5, 0)
            assert sim.walls.shape == (5, 4)
            np.testing.assert_array_equal(sim.walls[0], [3, 4, 1.5, 0])  # newest first
            sim.clear_walls()
            assert sim.walls.shape == (0, 4)
            sim.step(1)  # without walls nothing is seen
            assert sim.robot.sensor_value == (3.0,) * 6

        with robosim.Simulation(seed=3, world=WORLDS / "maze.dat") as sim:
            sim.step(300)
            impacts = sim.impacts
            assert impacts.ndim == 2 and impacts.shape[1] == 2 and len(impacts) > 0
            grid = sim.grid
            assert grid.shape == (75, 75) and grid.dtype == np.int32
            i, j = (min(int(v / 10 * 75), 74) for v in impacts[0])
            assert grid[i, j] == -1  # blocked, indexed [i along x, j along y]
            grid[:] = 0  # a copy
            assert sim.grid[i, j] == -1
            sim.clear_impacts()
            assert sim.impacts.shape == (0, 2)

    def test_stats_and_console(self):
        with robosim.Simulation(seed=1) as sim:
            stats = sim.stats
            assert set(stats) == {"targets_reached", "planning_runs", "planning_failures",
                                  "planning_gave_up", "console_messages", "console",
                                  "targets_per_minute", "distance_travelled", "contacts",
                                  "least_push_distance", "largest_step",
                                  "wall_crossings_prevented", "steps_shortened",
                                  "stuck_spells", "stuck_seconds",
                                  "longest_stuck_seconds", "time_to_first_target",
                                  "trapped_seconds"}
            assert stats["time_to_first_target"] is None  # no tick yet
            assert stats["planning_runs"] >= 1

    def test_the_table_of_run_metrics_gives_the_stats_and_their_docstring(self):
        from robosim import _robosim, sweep_rows

        names = [m["name"] for m in _robosim.RUN_METRICS]
        with robosim.Simulation(seed=2, world=WORLDS / "maze.dat") as sim:
            sim.step(3000)
            stats = sim.stats
        assert list(stats) == [*names, "console_messages", "console"]
        doc = robosim.Simulation.stats.__doc__
        for metric in _robosim.RUN_METRICS:
            value = stats[metric["name"]]
            assert isinstance(value, int if metric["decimals"] is None else float), metric
            line = f"{metric['name']}: {metric['description']}"
            assert (line + (f" [{metric['unit']}]" if metric["unit"] else "")) in doc, metric
        # A sweep's columns: its ticks and time, the run metrics, what the run left.
        columns = list(sweep_rows.METRICS)
        assert columns[2:2 + len(names)] == names and columns[:2] == ["ticks_run", "simulated_seconds"]

    def test_render_is_an_observation_only(self):
        with robosim.Simulation(seed=8) as sim:
            sim.step(100)
            frame = sim.render(320, 240, grad=True, vision=True)
            assert frame.shape == (240, 320, 3) and frame.dtype == np.uint8
            sim.render()
            sim.step(100)
            drawn = trace_row(sim)
        with robosim.Simulation(seed=8) as sim:
            sim.step(200)
            assert trace_row(sim) == drawn


# ---------------------------------------------------------------- world files


class TestWorldFiles:
    def test_save_then_load(self, tmp_path):
        path = tmp_path / "w.dat"
        with robosim.Simulation(seed=1) as sim:
            sim.set_pose(2.5, 7.25, 1.5)
            sim.save(path)
            assert path.read_text().splitlines() == [
                "2.500000", "7.250000", "1.500000", "4",
                "9.950000 0.000000 0.050000 10.000000",
                "0.000000 0.000000 0.050000 10.000000",
                "0.000000 9.950000 10.000000 0.050000",
                "0.000000 0.000000 10.000000 0.050000",
            ]
            sim.add_wall(1, 1, 1, 1)
            sim.load(str(path))
            r = sim.robot
            assert (r.x, r.y, r.heading) == (2.5, 7.25, 1.5)
            np.testing.assert_array_equal(sim.walls[:, 0], [0, 0, 0, 9.95])  # reversed
            sim.load(os.fsencode(path))

    def world_state(self, sim):
        return trace_row(sim), sim.walls.tolist(), sim.gains

    def test_load_failures_leave_the_world_as_it_was(self, tmp_path):
        garbage = tmp_path / "garbage.dat"
        garbage.write_text("1\n2\n3\nfour\n")
        with robosim.Simulation(seed=1) as sim:
            sim.add_wall(1, 2, 3, 4)
            sim.step(20)
            before = self.world_state(sim)
            with pytest.raises(FileNotFoundError, match="missing.dat"):
                sim.load(tmp_path / "missing.dat")
            with pytest.raises(IsADirectoryError):
                sim.load(tmp_path)
            with pytest.raises(ValueError, match="line 4") as refused:
                sim.load(garbage)
            assert self.world_state(sim) == before
        # The message is the one the other front ends give.
        runner = run_headless("--world", garbage, "--ticks", 0, check=False)
        assert str(refused.value) in runner.stderr

    def test_save_failures(self, tmp_path):
        with robosim.Simulation(seed=1) as sim:
            with pytest.raises(FileNotFoundError) as missing:
                sim.save(tmp_path / "no" / "such" / "folder.dat")
            assert missing.value.errno == errno.ENOENT
            with pytest.raises(IsADirectoryError, match="folder"):
                sim.save(tmp_path)
            with pytest.raises(ValueError, match="zero byte"):
                sim.save("a\0b")
            with pytest.raises(TypeError, match="path"):
                sim.save(12)
        assert list(tmp_path.iterdir()) == []


# ---------------------------------------------------------------- bad arguments


BAD_CALLS = [
    (lambda s: s.step("10"), TypeError, "ticks"),
    (lambda s: s.step(1.5), TypeError, "ticks"),
    (lambda s: s.step(True), TypeError, "ticks"),
    (lambda s: s.step(-1), ValueError, "ticks"),
    (lambda s: s.step(2**70), ValueError, "ticks"),
    (lambda s: s.set_pose(math.nan, 1, 1), ValueError, "x"),
    (lambda s: s.set_pose(1, math.inf, 1), ValueError, "y"),
    (lambda s: s.set_pose(1, 1, "0"), TypeError, "heading"),
    (lambda s: s.set_pose(10**400, 1, 1), ValueError, "x must be a finite number"),
    (lambda s: s.add_wall(1, 1, 1, -(10**400)), ValueError, "height"),
    (lambda s: s.set_pose(1, True, 1), TypeError, "y"),
    (lambda s: setattr(s, "target", (1, math.nan)), ValueError, "target"),
    (lambda s: setattr(s, "target", (1, 2, 3)), ValueError, "target"),
    (lambda s: setattr(s, "target", 5), TypeError, "target"),
    (lambda s: setattr(s, "gains", (1, 2)), ValueError, "gains"),
    (lambda s: setattr(s, "gains", "abc"), TypeError, "gains"),
    (lambda s: setattr(s, "manual", 1), TypeError, "manual"),
    (lambda s: s.drive(math.nan, 0), ValueError, "speed"),
    (lambda s: s.key_down("F13"), ValueError, "unknown key"),
    (lambda s: s.key_down(""), ValueError, "unknown key"),
    (lambda s: s.press(87), TypeError, "key"),
    (lambda s: s.add_wall(1, 1, -1, 1), ValueError, "negative"),
    (lambda s: s.add_wall(1, 1, 1, math.inf), ValueError, "height"),
    (lambda s: s.render(0, 10), ValueError, "width"),
    (lambda s: s.render(10, 16385), ValueError, "height"),
    (lambda s: s.render(16384, 16384), ValueError, "too large"),
    (lambda s: s.render(10, 10, grad=1), TypeError, "grad"),
]


@pytest.mark.parametrize("call, error, words", BAD_CALLS)
def test_bad_arguments_change_nothing(call, error, words):
    with robosim.Simulation(seed=12, manual=True) as sim:
        sim.step(5)
        before = (trace_row(sim), sim.walls.tolist(), sim.gains, sim.manual)
        with pytest.raises(error, match=words):
            call(sim)
        assert (trace_row(sim), sim.walls.tolist(), sim.gains, sim.manual) == before


@pytest.mark.parametrize(
    "options, error",
    [
        ({"seed": -1}, ValueError), ({"seed": 2**32}, ValueError), ({"seed": "1"}, TypeError),
        ({"period_ms": 0}, ValueError), ({"period_ms": 60001}, ValueError),
        ({"manual": "yes"}, TypeError), ({"world": 3.5}, TypeError),
    ],
)
def test_bad_options_open_nothing(options, error):
    with pytest.raises(error):
        robosim.Simulation(**options)
    robosim.Simulation(seed=0).close()


TRAP_WORLD = """5.0
4.0
1.570796
3
3.0 3.0 0.1 4.0
6.9 3.0 0.1 4.0
3.0 7.0 4.0 0.1
"""


def test_a_pose_and_a_target_are_placed_as_the_runner_places_them(tmp_path):
    world = tmp_path / "trap.dat"
    world.write_text(TRAP_WORLD)
    with robosim.Simulation(seed=3, world=world, pose=(8, 2, 3.5), target=(5, 8.5)) as sim:
        assert (sim.robot.x, sim.robot.y, sim.robot.heading) == (8, 2, 3.5)
        assert tuple(sim.target) == (5, 8.5)
        assert sim.tick == 0 and sim.stats["planning_runs"] >= 1
        sim.step(1000)
        runner = headless_summary("--world", world, "--pose", "8,2,3.5", "--target", "5,8.5",
                                  "--seed", 3, "--ticks", 1000)
        assert sim.stats["time_to_first_target"] == runner["time_to_first_target"] is not None
        assert round(sim.robot.x, 6) == runner["final_pose"]["x"]
    draws = []
    for seed in (1, 1, 2):
        with robosim.Simulation(seed=seed, world=world, pose="random", target="random") as sim:
            draws.append((sim.robot.x, sim.robot.y, sim.robot.heading, tuple(sim.target)))
    assert draws[0] == draws[1] != draws[2]
    assert draws[0][:2] != (5.0, 4.0) and draws[0][3] != (5.0, 5.0)


@pytest.mark.parametrize(
    "options, error, says",
    [
        ({"pose": (0.1, 5, 0)}, ValueError,
         "the pose's x must be from 0.25 to 9.75 (where a tick keeps the robot), got 0.1"),
        ({"pose": (5, 12, 0)}, ValueError, "the pose's y must be from 0.25 to 9.75"),
        ({"target": (5, 7.05)}, ValueError, "the target (5, 7.05) lies on a wall"),
        ({"target": (10.5, 5)}, ValueError, "the target's x must be from 0 to 10"),
        ({"target": (5, math.nan)}, ValueError, "target must be a finite number, got nan"),
        ({"pose": (5, 5)}, ValueError, "pose must hold 3 numbers, got 2"),
        ({"pose": "anywhere"}, ValueError, "pose must be (x, y, heading) or \"random\", got 'anywhere'"),
        ({"target": "5,8"}, ValueError, "target must be (x, y) or \"random\", got '5,8'"),
        ({"target": 5}, TypeError, "target must be a sequence of 2 numbers, not int"),
        ({"target": (5, "8")}, TypeError, "target must be a number, not str"),
    ],
)
def test_placements_that_cannot_be_raise_and_open_nothing(tmp_path, options, error, says):
    world = tmp_path / "trap.dat"
    world.write_text(TRAP_WORLD)
    with pytest.raises(error) as refused:
        robosim.Simulation(seed=1, world=world, **options)
    assert says in str(refused.value)
    robosim.Simulation(seed=0).close()


@pytest.mark.parametrize(
    "setup",
    [
        # A program's turn is at most half a turn a tick, so driving alone no
        # longer overflows; gains still can.
        lambda sim: setattr(sim, "gains", (-1e308, 1e308, -1e308)),
        lambda sim: (sim.load(WORLDS / "maze.dat"), setattr(sim, "gains", (1e308, 1e308, 1e308))),
    ],
    ids=["gains -1e308", "gains 1e308"],
)
def test_a_state_that_overflows_stops_the_run_with_runtime_error(tmp_path, setup):
    sim = robosim.Simulation(seed=1)
    setup(sim)
    with pytest.raises(RuntimeError, match="no longer a finite number after tick"):
        sim.step(5000)
    stopped_at = sim.tick
    assert 0 < stopped_at < 5000
    for again in (lambda: sim.step(1), lambda: sim.record_gif(tmp_path / "f.gif", 10)):
        with pytest.raises(RuntimeError, match="finite"):
            again()
    assert sim.tick == stopped_at
    assert not (tmp_path / "f.gif").exists()


# ---------------------------------------------------------------- as documented


KEYWORD_CALLS = [
    ("step", {"ticks": 2}), ("drive", {"speed": 0.01, "turn": -0.002}),
    ("key_down", {"name": "W"}), ("key_up", {"name": "W"}), ("press", {"name": "g"}),
    ("set_pose", {"x": 5, "y": 4, "heading": 1}), ("add_wall", {"x": 1, "y": 1, "width": 2, "height": 0.1}),
    ("render", {"width": 8, "height": 6, "grad": True, "vision": True}),
    ("save", {"path": "PATH"}), ("load", {"path": "PATH"}),
    ("record_gif", {"path": "GIF", "ticks": 3, "every": 1, "width": 8, "height": 6, "grad": False,
                    "vision": False, "trail": True}),
]


def test_every_argument_can_be_given_by_its_documented_name(tmp_path):
    with robosim.Simulation(seed=5, world=None, period_ms=10, manual=True) as sim:
        for name, arguments in KEYWORD_CALLS:
            arguments = {k: tmp_path / "w.dat" if v == "PATH" else tmp_path / "f.gif" if v == "GIF"
                         else v for k, v in arguments.items()}
            getattr(sim, name)(**arguments)
        assert sim.tick == 5 and (tmp_path / "f.gif").exists()
    assert robosim.generate_world(description="pillars:3:1", path=tmp_path / "p.dat") == 7


def test_help_shows_a_docstring_for_every_member():
    import pydoc

    for cls in (robosim.Simulation, robosim.RobotState):
        members = [n for n in dir(cls) if not n.startswith("_") or n in ("__enter__", "__exit__")]
        for name in members:
            doc = getattr(cls, name).__doc__ or ""
            words = [line for line in doc.splitlines() if line and not line.startswith(name + "(")]
            assert words, f"{cls.__name__}.{name} has no docstring"
    text = pydoc.render_doc(robosim.Simulation.drive, renderer=pydoc.plaintext)
    assert "speed" in text and "radians per tick" in text and "clockwise" in text
    assert ("Simulation(seed=None, world=None, period_ms=10, manual=False, pose=None,\n"
            "           target=None)") in robosim.Simulation.__doc__


def test_the_type_stubs_name_every_member():
    import ast
    import pathlib

    stub = pathlib.Path(robosim.__file__).with_name("_robosim.pyi")
    assert stub.with_name("py.typed").exists()
    tree = ast.parse(stub.read_text())
    classes = {node.name: {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
               for node in tree.body if isinstance(node, ast.ClassDef)}
    for cls in (robosim.Simulation, robosim.RobotState):
        public = {n for n in dir(cls) if not n.startswith("_")}
        assert public <= classes[cls.__name__], public - classes[cls.__name__]
    functions = {node.name for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert {"generate_world", "import_map"} <= functions


@pytest.mark.parametrize(
    "call",
    [lambda d: robosim.Simulation(world=d + b"/missing\xff.dat"),
     lambda d: robosim.Simulation(seed=1).load(d + b"/missing\xff.dat"),
     lambda d: robosim.Simulation(seed=1).save(d + b"/no\xff/world.dat"),
     lambda d: robosim.import_map(d + b"/missing\xff.yaml", d + b"/out.dat"),
     lambda d: robosim.Simulation(seed=1).record_gif(d + b"/no\xff/film.gif", 1)],
    ids=["open", "load", "save", "import_map", "record_gif"],
)
def test_names_that_are_not_utf8_fail_as_os_errors_that_name_them(tmp_path, call):
    with pytest.raises(FileNotFoundError) as failure:
        call(os.fsencode(tmp_path))
    assert "\\xff" in str(failure.value) and failure.value.errno == errno.ENOENT


def test_the_grid_is_read_as_documented():
    with robosim.Simulation(seed=3, world=WORLDS / "maze.dat") as sim:
        sim.step(400)
        grid = sim.grid
        blocked = grid == -1
        on_path = ~blocked & (grid & 0x4000 != 0)
        values = np.where(blocked, -1, grid & 0xFFF)
        assert blocked.any() and on_path.any()
        assert ((values[~blocked] >= 0) & (values[~blocked] <= 255)).all()
        assert (values[~blocked] == 0).sum() == 1  # the target's cell
        assert ((grid[blocked] & 0xFFF) == 0xFFF).all()  # why -1 is tested first


def test_the_sensor_values_are_as_documented():
    with robosim.Simulation(seed=1, manual=True) as sim:
        sim.set_pose(5, 5, 0)  # every wall farther than 2
        assert sim.robot.sensor_value == (0.0,) * 6 and not any(sim.robot.vision_seen)
        sim.set_pose(1.0, 5.0, math.pi)  # sensor 1 looks ahead, at the left wall 0.95 away
        assert sim.robot.sensor_value[1] == pytest.approx(2 - 0.95)
        sim.set_pose(5.0, 1.0, 0)  # sensor 0 looks 60 degrees left of ahead: up the screen
        sensor_0 = sim.robot.vision_point[0]
        assert sim.robot.vision_seen[0] and sensor_0[1] < 1.0 and sensor_0[0] > 5.0
        sim.clear_walls()
        assert sim.robot.sensor_value == (3.0,) * 6  # no walls at all


def test_ctrl_c_takes_effect_within_a_frame_and_within_a_fraction_of_a_second(tmp_path):
    # A timer's signal raising, as Ctrl-C raises KeyboardInterrupt: taken within a
    # few tens of milliseconds, long before the 4,096 ticks at which it used to be
    # looked at. The timer counts the process's own processor time, which only the
    # call takes, so the signal comes inside the call however loaded the machine.
    class Alarm(Exception):
        pass

    def ring(signum, frame):
        raise Alarm

    pillars = tmp_path / "pillars.dat"
    robosim.generate_world("pillars:3000:1", pillars)
    old = signal.signal(signal.SIGVTALRM, ring)
    try:
        with robosim.Simulation(seed=1, world=pillars) as sim:
            signal.setitimer(signal.ITIMER_VIRTUAL, 0.05)
            with pytest.raises(Alarm):
                sim.step(10**6)
            assert 0 < sim.tick < 4096
        film = tmp_path / "film.gif"
        with robosim.Simulation(seed=1) as sim:
            signal.setitimer(signal.ITIMER_VIRTUAL, 0.2)
            with pytest.raises(Alarm):
                sim.record_gif(film, 99_999, every=1, width=640, height=480)
            assert 0 < sim.tick < 4096 and not film.exists()
    finally:
        signal.setitimer(signal.ITIMER_VIRTUAL, 0)
        signal.signal(signal.SIGVTALRM, old)
