"""robosim.generate_world and robosim.import_map: the runner's files byte for byte,
whether or not a Simulation is open, and bad input refused with nothing written."""

import os
import subprocess
import sys

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
    for name in ("floor-plan", "cave"):
        out = tmp_path / f"{name}.dat"
        walls = robosim.import_map(MAPS / f"{name}.yaml", out)
        shipped = SOURCE_DIR / "worlds" / f"{name}.dat"
        assert out.read_bytes() == shipped.read_bytes(), name
        assert walls == int(shipped.read_text().split("\n")[3])


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
    for yaml in ("unknown.yaml", "no-image.yaml", "deep.yaml"):
        with pytest.raises(ValueError, match="cannot import the map"):
            robosim.import_map(tmp_path / yaml, old)
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
