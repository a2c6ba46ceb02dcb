"""robosim.generate_world and robosim.import_map: the runner's files byte for byte,
whether or not a Simulation is open, how an imported map lies in the world, and
bad input refused with nothing written."""

import errno
import json
import os
import subprocess
import sys
import warnings

import pytest

import robosim
from conftest import SOURCE_DIR, run_headless

MAPS = SOURCE_DIR / "maps"


def test_generated_worlds_are_the_runners_files(tmp_path):
    for description in ("maze:7x5:3", "pillars:500:11"):
        ours = tmp_path / "ours.dat"
        walls = robosim.generate_world(description, ours)
        run_headless("--generate", description, "--save", tmp_path / "runner.dat")
        assert ours.read_bytes() == (tmp_path / "runner.dat").read_bytes(), description
        assert int(ours.read_text().split("\n")[3]) == walls
    assert robosim.generate_world("pillars:500:11", str(tmp_path / "p.dat")) == 504


def test_imported_maps_are_the_shipped_worlds(tmp_path):
    for name in ("floor-plan", "cave", "warehouse"):
        out = tmp_path / f"{name}.dat"
        made = robosim.import_map(MAPS / f"{name}.yaml", out)
        shipped = SOURCE_DIR / "worlds" / f"{name}.dat"
        assert out.read_bytes() == shipped.read_bytes(), name
        assert made.walls == int(shipped.read_text().split("\n")[3])


def test_an_import_tells_how_the_map_lies_in_the_world(tmp_path):
    made = robosim.import_map(MAPS / "warehouse.yaml", tmp_path / "w.dat")
    # 30 x 15 m with the frame's origin in the middle: 3 m a unit, centred.
    assert made.metres_per_unit == 3.0
    assert made.origin == (5.0, 5.0)
    assert made.flip_y is True
    assert made.region == (-15.0, -7.5, 15.0, 7.5)
    assert made.to_world(15, 7.5) == (10.0, 2.5)
    assert made.to_map(*made.to_world(-4.5, 2.25)) == pytest.approx((-4.5, 2.25))
    lines = (tmp_path / "w.dat").read_text().split("\n")
    assert made.robot == (float(lines[0]), float(lines[1]))
    assert made.warnings == ()
    assert "stands for 1.5 m" in str(made) and repr(made).startswith("MapImport(walls=")
    # The runner prints the same lines after its first one.
    printed = run_headless("--import-map", MAPS / "warehouse.yaml", "--save", tmp_path / "r.dat")
    assert printed.stdout.split("\n", 1)[1].rstrip("\n") == str(made)

    part = robosim.import_map(MAPS / "warehouse.yaml", tmp_path / "p.dat",
                              region=[-2.5, -2.5, 2.5, 2.5], unknown="wall")
    assert part.metres_per_unit == 0.5 and part.origin == (5.0, 5.0)
    for region, error in (([0, 0, 1], ValueError), ([1, 0, 0, 1], ValueError),
                          ([0, 0, float("inf"), 1], ValueError), ("0,0,1,1", TypeError),
                          ([100, 100, 101, 101], ValueError)):
        with pytest.raises(error):
            robosim.import_map(MAPS / "warehouse.yaml", tmp_path / "x.dat", region=region)
    for unknown, error in (("maybe", ValueError), (True, TypeError)):
        with pytest.raises(error):
            robosim.import_map(MAPS / "warehouse.yaml", tmp_path / "x.dat", unknown=unknown)
    assert not (tmp_path / "x.dat").exists()


def test_a_yaw_warns_and_a_warning_made_an_error_writes_nothing(tmp_path):
    (tmp_path / "m.pgm").write_bytes(b"P2 2 2 255 0 254 254 254\n")
    (tmp_path / "m.yaml").write_text(
        "image: m.pgm\nresolution: 0.05\norigin: [0, 0, 0.5]\nnegate: 0\n"
        "occupied_thresh: 0.65\nfree_thresh: 0.196\n"
    )
    with pytest.warns(UserWarning, match="yaw of 0.5 radians is ignored"):
        made = robosim.import_map(tmp_path / "m.yaml", tmp_path / "a.dat")
    assert len(made.warnings) == 1 and (tmp_path / "a.dat").exists()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning):
            robosim.import_map(tmp_path / "m.yaml", tmp_path / "b.dat")
    assert not (tmp_path / "b.dat").exists()


def test_an_import_never_overwrites_its_inputs_and_says_what_a_file_is(tmp_path):
    (tmp_path / "m.pgm").write_bytes(b"P2 2 2 255 0 254 254 254\n")
    (tmp_path / "m.yaml").write_text(
        "image: m.pgm\nresolution: 0.05\norigin: [0, 0, 0]\nnegate: 0\n"
        "occupied_thresh: 0.65\nfree_thresh: 0.196\n"
    )
    (tmp_path / "link").symlink_to("m.pgm")
    for output in ("m.pgm", "m.yaml", "link"):
        with pytest.raises(ValueError, match="nothing written"):
            robosim.import_map(tmp_path / "m.yaml", tmp_path / output)
    assert (tmp_path / "m.pgm").read_bytes() == b"P2 2 2 255 0 254 254 254\n"
    (tmp_path / "folder.yaml").mkdir()
    os.mkfifo(tmp_path / "fifo.yaml")
    with pytest.raises(IsADirectoryError, match="folder.yaml: Is a directory"):
        robosim.import_map(tmp_path / "folder.yaml", tmp_path / "o.dat")
    with pytest.raises(OSError, match=r"fifo.yaml: not a regular file but a named pipe \(FIFO\)$"):
        robosim.import_map(tmp_path / "fifo.yaml", tmp_path / "o.dat")


def test_making_worlds_leaves_an_open_simulation_as_it_was(tmp_path):
    with robosim.Simulation(seed=5) as sim:
        sim.step(100)
        before = (sim.robot.x, sim.robot.y, sim.walls.tolist())
        robosim.generate_world("maze:30x30:1", tmp_path / "m.dat")
        robosim.import_map(MAPS / "cave.yaml", tmp_path / "c.dat")
        assert (sim.robot.x, sim.robot.y, sim.walls.tolist()) == before
        sim.load(tmp_path / "m.dat")
        sim.step(10)


def test_bad_descriptions_and_maps_raise_and_write_nothing(tmp_path):
    old = tmp_path / "old.dat"
    old.write_text("old")
    (tmp_path / "unknown.yaml").write_text(
        "image: x.pgm\nresolution: 0.05\norigin: [0, 0, 0]\nnegate: 0\n"
        "occupied_thresh: 0.65\nfree_thresh: 0.196\ncolour: red\n"
    )
    (tmp_path / "no-image.yaml").write_text(
        "image: missing.pgm\nresolution: 0.05\norigin: [0, 0, 0]\nnegate: 0\n"
        "occupied_thresh: 0.65\nfree_thresh: 0.196\n"
    )
    (tmp_path / "deep.yaml").write_text("image: " + "[" * 100000 + "\n")
    for description in ("maze:0x3:1", "maze:3x3", "towers:1:1", "pillars:-4:1", "", "pillars:1:1\0"):
        with pytest.raises(ValueError):
            robosim.generate_world(description, old)
    for yaml in ("unknown.yaml", "deep.yaml"):
        with pytest.raises(ValueError, match="cannot import the map"):
            robosim.import_map(tmp_path / yaml, old)
    # A missing image is the file system's fault, as a missing YAML file is.
    with pytest.raises(FileNotFoundError, match="image .*missing.pgm: No such file or directory"):
        robosim.import_map(tmp_path / "no-image.yaml", old)
    with pytest.raises(FileNotFoundError):
        robosim.import_map(tmp_path / "missing.yaml", old)
    with pytest.raises(TypeError):
        robosim.generate_world(3, old)
    with pytest.raises(TypeError):
        robosim.import_map(None, old)
    assert old.read_text() == "old"
    assert sorted(p.name for p in tmp_path.iterdir()) == [
        "deep.yaml",
        "no-image.yaml",
        "old.dat",
        "unknown.yaml",
    ]


def test_unwritable_targets_raise_oserror(tmp_path):
    with pytest.raises(OSError):
        robosim.generate_world("maze:3x3:1", tmp_path)
    with pytest.raises(OSError):
        robosim.import_map(MAPS / "cave.yaml", tmp_path / "no-such-folder" / "c.dat")


def test_a_fresh_interpreter_makes_the_same_world(tmp_path):
    script = (
        "import robosim, sys; robosim.generate_world('pillars:2000:7', sys.argv[1]); "
        "robosim.import_map(sys.argv[2], sys.argv[3])"
    )
    for run in ("a", "b"):
        subprocess.run(
            [sys.executable, "-c", script, tmp_path / f"{run}.dat",
             MAPS / "floor-plan.yaml", tmp_path / f"{run}-map.dat"],
            check=True, env=dict(os.environ), timeout=120,
        )
    assert (tmp_path / "a.dat").read_bytes() == (tmp_path / "b.dat").read_bytes()
    assert (tmp_path / "a-map.dat").read_bytes() == (tmp_path / "b-map.dat").read_bytes()


# The failures a fresh interpreter sees, one line of JSON each: the exception's
# class, errno, file name and message, from real failures of every kind.
FAILURES_SCRIPT = r"""
import json, os, sys, robosim
folder = sys.argv[1]
def failure(call):
    try:
        call()
    except (OSError, ValueError) as e:
        text = e.strerror if isinstance(e, OSError) and e.errno is not None else str(e)
        return [type(e).__name__, getattr(e, "errno", None), getattr(e, "filename", None), text]
    return None
at = lambda *names: os.path.join(folder, *names)
found = {}
with robosim.Simulation(seed=1) as sim:
    found["load a missing file"] = failure(lambda: sim.load(at("missing.dat")))
    found["load a folder"] = failure(lambda: sim.load(folder))
    found["load bad content"] = failure(lambda: sim.load(at("bad.dat")))
    found["save into a missing folder"] = failure(lambda: sim.save(at("no", "w.dat")))
    found["save over a folder"] = failure(lambda: sim.save(folder))
    found["film into a folder"] = failure(lambda: sim.record_gif(folder, 5, width=8, height=8))
    found["film into a missing folder"] = failure(
        lambda: sim.record_gif(at("no", "f.gif"), 5, width=8, height=8))
found["import a map without its image"] = failure(
    lambda: robosim.import_map(at("no-image.yaml"), at("o.dat")))
found["import a bad map"] = failure(lambda: robosim.import_map(at("bad.yaml"), at("o.dat")))
found["generate over a folder"] = failure(lambda: robosim.generate_world("maze:3x3:1", folder))
for target in sys.argv[2:]:
    with robosim.Simulation(seed=1) as sim2:
        found["save into " + target] = failure(lambda: sim2.save(target))
print(json.dumps(found))
"""


def fresh_failures(folder, *extra, wrap=()):
    result = subprocess.run(
        [*wrap, sys.executable, "-c", FAILURES_SCRIPT, str(folder), *map(str, extra)],
        capture_output=True, text=True, env=dict(os.environ), timeout=120,
    )
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def test_failures_carry_the_errno_and_file_or_are_value_errors(tmp_path):
    (tmp_path / "bad.dat").write_text("1\n2\nthree\n")
    (tmp_path / "no-image.yaml").write_text(
        "image: missing.pgm\nresolution: 0.05\norigin: [0, 0, 0]\nnegate: 0\n"
        "occupied_thresh: 0.65\nfree_thresh: 0.196\n")
    (tmp_path / "bad.yaml").write_text("image: x.pgm\nresolution: -1\n")
    found = fresh_failures(tmp_path)
    d = str(tmp_path)
    missing = f"{d}/no/w.dat"
    assert found == {
        "load a missing file": ["FileNotFoundError", errno.ENOENT, f"{d}/missing.dat",
                                f'cannot load "{d}/missing.dat": No such file or directory'],
        "load a folder": ["IsADirectoryError", errno.EISDIR, d,
                          f'cannot load "{d}": it is a folder, not a world file'],
        "load bad content": ["ValueError", None, None,
                             f'cannot load "{d}/bad.dat": line 3: expected a number for the '
                             'robot\'s heading, found "three"'],
        "save into a missing folder": ["FileNotFoundError", errno.ENOENT, missing,
                                       f'cannot save "{missing}": No such file or directory'],
        "save over a folder": ["IsADirectoryError", errno.EISDIR, d,
                               f'cannot save "{d}": it is a folder'],
        "film into a folder": ["IsADirectoryError", errno.EISDIR, d,
                               f"cannot write {d}: it is a folder"],
        "film into a missing folder": ["FileNotFoundError", errno.ENOENT, f"{d}/no/f.gif",
                                       f"cannot write {d}/no/f.gif: No such file or directory"],
        "import a map without its image": [
            "FileNotFoundError", errno.ENOENT, f"{d}/missing.pgm",
            f"cannot import the map {d}/no-image.yaml: image {d}/missing.pgm: "
            "No such file or directory"],
        "import a bad map": ["ValueError", None, None,
                             found["import a bad map"][3]],
        "generate over a folder": ["IsADirectoryError", errno.EISDIR, d,
                                   f'cannot save "{d}": it is a folder'],
    }
    assert found["import a bad map"][3].startswith(f"cannot import the map {d}/bad.yaml: ")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.dat", "bad.yaml", "no-image.yaml"]


def test_a_read_only_file_system_is_called_so(tmp_path):
    # A file system mounted read-only in a mount namespace of the test's own.
    (tmp_path / "ro").mkdir()
    probe = subprocess.run(["unshare", "-m", "sh", "-c",
                            f"mount -t tmpfs -o ro tmpfs '{tmp_path}/ro'"], capture_output=True)
    if probe.returncode != 0:
        pytest.skip("no read-only file system can be mounted here")
    wrap = ["unshare", "-m", "sh", "-c", f"mount -t tmpfs -o ro tmpfs '{tmp_path}/ro' && exec \"$@\"",
            "sh"]
    target = f"{tmp_path}/ro/w.dat"
    found = fresh_failures(tmp_path, target, wrap=wrap)
    assert found["save into " + target] == [
        "OSError", errno.EROFS, target, f'cannot save "{target}": Read-only file system']
