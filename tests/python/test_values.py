"""Many simulations in one process: independent of each other, on threads at once,
serialised when one is shared, copied, deep-copied and pickled with the same future,
and corrupt pickles refused."""

import copy
import hashlib
import pickle
import signal
import struct
import subprocess
import sys
import threading

import numpy as np
import pytest

import robosim
from conftest import WORLDS


def fingerprint(sim):
    """Every observable part of a simulation's state, hashed."""
    h = hashlib.sha256()
    r = sim.robot
    h.update(
        repr(
            (r.x, r.y, r.heading, r.speed, r.turn, r.sensor_value, r.sensor_hit, r.vision_point,
             r.grad_angle, r.heading_error, sim.tick, sim.time, sim.target, sim.gains,
             sim.manual, sim.cur_waypoint, sim.stats)
        ).encode()
    )
    for array in (sim.walls, sim.impacts, sim.waypoints, sim.grid, sim.render(96, 72, grad=True)):
        h.update(array.tobytes())
    return h.hexdigest()


def started(case):
    """A simulation set up as the case says: the world, manual driving with keys held,
    a driving command, gains."""
    world, manual, seed = case
    sim = robosim.Simulation(seed=seed, world=world, manual=manual)
    if manual:
        sim.key_down("W")
        sim.key_down("A")
    sim.step(700)
    if manual:
        sim.key_up("A")
        sim.drive(0.02, 0.01)
    sim.gains = (0.2, 0.8, 0.15)
    return sim


CASES = [(None, False, 3), (WORLDS / "maze.dat", False, 8), (WORLDS / "pillars.dat", True, 5)]


def test_interleaved_simulations_run_as_each_runs_alone():
    alone = []
    for case in CASES:
        sim = started(case)
        sim.step(3000)
        alone.append(fingerprint(sim))
    sims = [started(case) for case in CASES]
    for _ in range(30):
        for sim in sims:
            sim.step(100)
    assert [fingerprint(sim) for sim in sims] == alone
    assert len(set(alone)) == len(alone)


@pytest.mark.parametrize(
    "make_copy",
    [
        lambda sim: sim.copy(),
        copy.copy,
        copy.deepcopy,
        lambda sim: pickle.loads(pickle.dumps(sim)),
        lambda sim: pickle.loads(pickle.dumps(sim, protocol=0)),
    ],
    ids=["copy", "copy.copy", "deepcopy", "pickle", "pickle protocol 0"],
)
def test_a_copy_has_the_same_future(make_copy):
    for case in CASES:
        original = started(case)
        twin = make_copy(original)
        assert twin is not original
        assert fingerprint(twin) == fingerprint(original)
        for sim in (original, twin):
            sim.step(2500)
            sim.press("N")
            sim.add_wall(2, 2, 0.5, 0.5)
            sim.step(500)
        assert fingerprint(twin) == fingerprint(original)
        twin.step(1)  # and independent
        assert twin.tick == original.tick + 1


def test_a_pickle_has_the_same_future_in_another_process(tmp_path):
    sim = started(CASES[1])
    (tmp_path / "sim.pickle").write_bytes(pickle.dumps(sim))
    sim.step(2000)
    code = (
        "import pickle, sys; sys.path.insert(0, sys.argv[2]); from test_values import fingerprint; "
        "sim = pickle.load(open(sys.argv[1], 'rb')); sim.step(2000); print(fingerprint(sim))"
    )
    result = subprocess.run(
        [sys.executable, "-c", code, str(tmp_path / "sim.pickle"), str(__import__("pathlib").Path(__file__).parent)],
        capture_output=True, text=True, timeout=300, check=True,
    )
    assert result.stdout.strip() == fingerprint(sim)


def test_corrupt_or_foreign_pickles_raise_value_error():
    sim = started(CASES[0])
    snapshot = sim.__reduce__()[1][0]
    restore = robosim._restore_simulation
    assert fingerprint(restore(snapshot)) == fingerprint(sim)
    bad = [b"", b"not a snapshot", snapshot[:-1], snapshot + b"\0", snapshot[:100]]
    bad += [snapshot[:8] + bytes([snapshot[8] + 1]) + snapshot[9:]]  # another version
    rng = np.random.default_rng(1)
    for at in rng.integers(0, len(snapshot), 60):
        flipped = bytearray(snapshot)
        flipped[at] ^= 0xFF
        bad.append(bytes(flipped))
    for data in bad:
        with pytest.raises(ValueError, match="snapshot"):
            restore(data)
    with pytest.raises(TypeError):
        restore("text")


def framed(payload, head):
    """A snapshot around a payload, with its length and FNV-1a hash, as a crafted
    pickle would carry them (head: the magic and version of a real one)."""
    h = 14695981039346656037
    for byte in payload:
        h = ((h ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return head + struct.pack("<Q", len(payload)) + payload + struct.pack("<Q", h)


def test_crafted_pickles_with_values_no_run_has_raise_value_error():
    sim = robosim.Simulation(seed=4, world=WORLDS / "maze.dat")
    sim.step(300)
    sim.set_pose(2.5, 3.5, 0.123456789)
    snapshot = sim.__reduce__()[1][0]
    head, payload = snapshot[:12], snapshot[20:-8]
    assert framed(payload, head) == snapshot
    restore = robosim._restore_simulation
    heading = struct.pack("<d", 0.123456789)
    assert payload.count(heading) == 1
    wall = struct.pack("<dddd", *sim.walls[0])
    assert payload.count(wall) >= 1
    # The console's part: the message count, the lines, the line being written, a flag.
    stats = sim.stats
    console = struct.pack("<QQ", stats["console_messages"], len(stats["console"]))
    console += b"".join(struct.pack("<Q", len(line)) + line.encode() for line in stats["console"])
    partial = next(n for n in range(4097)
                   if payload[-9 - n:-1 - n] == struct.pack("<Q", n)
                   and payload[:-9 - n].endswith(console))
    run_state = payload[:len(payload) - 9 - partial - len(console)]

    def with_console(lines, partial=b"", messages=None):
        text = struct.pack("<QQ", len(lines) if messages is None else messages, len(lines))
        text += b"".join(struct.pack("<Q", len(line)) + line for line in lines)
        text += struct.pack("<Q", len(partial)) + partial + payload[-1:]
        return framed(run_state + text, head)

    lines = [line.encode() for line in stats["console"]]
    assert with_console(lines, payload[-1 - partial:-1], stats["console_messages"]) == snapshot
    assert restore(with_console([b"fine"])).stats["console"] == ["fine"]
    crafted = {
        "heading": payload.replace(heading, struct.pack("<d", 1e308)),
        "a NaN wall": payload.replace(wall, struct.pack("<dddd", float("nan"), 1, 1, 1), 1),
        "an infinite wall": payload.replace(wall, struct.pack("<dddd", 1, float("inf"), 1, 1), 1),
    }
    bad = [framed(p, head) for p in crafted.values()]
    bad += [with_console([b"x" * 1_000_000]), with_console([], b"x" * 5000),
            with_console([b"two\nlines"]), with_console([b"x"] * 101)]
    for data in bad:
        with pytest.raises(ValueError, match="snapshot is corrupt"):
            restore(data)
    # A program's turn: at most half a turn a tick either way.
    manual = robosim.Simulation(seed=4, manual=True)
    manual.drive(0.01, -3.141592653589793)
    before = fingerprint(manual)
    for turn in (3.2, -4.0, 1e308):
        with pytest.raises(ValueError, match="turn"):
            manual.drive(0.01, turn)
    assert fingerprint(manual) == before


def test_simulations_on_threads_run_at_once_and_as_alone():
    expected = []
    for case in CASES:
        sim = started(case)
        sim.step(20000)
        expected.append(fingerprint(sim))
    sims = [started(case) for case in CASES]
    threads = [threading.Thread(target=sim.step, args=(20000,)) for sim in sims]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert [fingerprint(sim) for sim in sims] == expected


def test_one_simulation_used_from_two_threads_is_used_by_one_at_a_time():
    shared = started(CASES[1])
    alone = started(CASES[1])
    alone.step(8000)
    seen = []
    stepping = threading.Event()
    read_twice = threading.Event()  # the steps wait for it: the reader is under way

    def reader():
        stepping.wait()
        while shared.tick < 8700:
            seen.append(shared.tick)
            _ = shared.robot, shared.impacts, shared.grid
            if len(seen) == 2:
                read_twice.set()

    def stepper():
        stepping.set()
        read_twice.wait(timeout=60)
        for _ in range(40):
            shared.step(100)

    threads = [threading.Thread(target=reader)]
    threads += [threading.Thread(target=stepper) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert fingerprint(shared) == fingerprint(alone)
    assert len(seen) > 1 and seen == sorted(seen)


@pytest.mark.parametrize("call", ["step", "record_gif"])
def test_a_signal_handler_that_closes_the_simulation_ends_the_call(tmp_path, call):
    sim = robosim.Simulation(seed=1)

    def close_it(signum, frame):
        sim.close()

    # After a fifth of a second of the process's own processor time, which only the
    # call itself takes: the signal comes inside it, however loaded the machine.
    old = signal.signal(signal.SIGVTALRM, close_it)
    try:
        signal.setitimer(signal.ITIMER_VIRTUAL, 0.2)
        with pytest.raises(RuntimeError, match="closed"):
            if call == "step":
                sim.step(10**12)
            else:
                sim.record_gif(tmp_path / "film.gif", 10**7, every=1000, width=32, height=24)
    finally:
        signal.setitimer(signal.ITIMER_VIRTUAL, 0)
        signal.signal(signal.SIGVTALRM, old)
    assert sim.closed
    assert not (tmp_path / "film.gif").exists()
    with robosim.Simulation(seed=1) as fresh:  # and the process goes on
        assert fresh.step(10) == 10


def test_the_first_arrays_from_two_threads_at_once_do_not_deadlock():
    # In a fresh interpreter, before anything imported numpy: two threads ask for
    # arrays at the same moment (numpy's C interface is set up at the module's import).
    code = """
import threading, robosim
sims = [robosim.Simulation(seed=k) for k in range(2)]
start = threading.Barrier(2)
def first_arrays(sim):
    start.wait()
    for member in ("walls", "grid", "impacts", "waypoints"):
        getattr(sim, member)
    sim.render(32, 24)
threads = [threading.Thread(target=first_arrays, args=(s,)) for s in sims]
for t in threads: t.start()
for t in threads: t.join()
print("done")
"""
    for _ in range(5):
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                timeout=60)
        assert result.stdout.strip() == "done", result.stderr


MADE_WITHOUT_CONSTRUCTOR = [
    # (case, code run in a fresh interpreter: the last line must raise TypeError)
    ("RobotState's tuples", "robosim.RobotState.__new__(robosim.RobotState).sensor_hit"),
    ("RobotState's numbers", "robosim.RobotState.__new__(robosim.RobotState).x"),
    ("RobotState's repr", "repr(robosim.RobotState.__new__(robosim.RobotState))"),
    ("MapImport",
     "from robosim import _robosim\n_robosim.MapImport.__new__(_robosim.MapImport).to_world(1, 2)"),
    ("Simulation's step", "robosim.Simulation.__new__(robosim.Simulation).step(1)"),
    ("Simulation's tick", "robosim.Simulation.__new__(robosim.Simulation).tick"),
    ("the environment's core",
     "from robosim import _robosim\n_robosim._Navigation.__new__(_robosim._Navigation).step([0, 0], None)"),
    ("the batch's core",
     "from robosim import _robosim\n"
     "_robosim._VectorNavigation.__new__(_robosim._VectorNavigation).num_threads"),
]


@pytest.mark.parametrize("code", [c[1] for c in MADE_WITHOUT_CONSTRUCTOR],
                         ids=[c[0] for c in MADE_WITHOUT_CONSTRUCTOR])
def test_an_object_made_without_its_constructor_raises_type_error(code):
    *setup, last = code.splitlines()
    script = "\n".join(["import robosim", *setup, "try:", f"    {last}",
                        "except TypeError as error:", "    print('TypeError:', error)"])
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    assert "made by __new__ without its constructor" in result.stdout, result.stdout


def test_an_environment_restored_from_none_refuses_and_goes_on():
    env_module = pytest.importorskip("robosim.env")
    env = env_module.NavigationEnv()
    env.reset(seed=3)
    with pytest.raises(TypeError, match="needs a Simulation"):
        env._core.restore(None, 0.0, 0, False)
    _, _, _, _, info = env.step(np.zeros(2, dtype=np.float32))
    assert info["tick"] > 0
    env.close()
