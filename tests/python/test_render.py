"""Simulation.render draws what the headless runner's picture shows, pixel for pixel."""

import pickle

import numpy as np
import pytest
from PIL import Image

import robosim
from conftest import WORLDS, run_headless


def headless_picture(tmp_path, *arguments):
    png = tmp_path / "frame.png"
    run_headless(*arguments, "--png", png)
    with Image.open(png) as image:
        return np.asarray(image.convert("RGB"))


@pytest.mark.parametrize(
    "seed, world, ticks, width, height, grad, vision",
    [
        (5, None, 500, 640, 480, False, False),
        (2024, "maze.dat", 3000, 640, 480, False, True),
        (7, "pillars.dat", 1200, 333, 201, True, False),
        (3, "room-with-doorway.dat", 800, 1280, 960, True, True),
        (9, None, 0, 1, 1, False, False),
    ],
)
def test_render_matches_the_headless_picture(tmp_path, seed, world, ticks, width, height, grad,
                                             vision):
    arguments = ["--seed", seed, "--ticks", ticks, "--size", f"{width}x{height}"]
    if world:
        arguments += ["--world", WORLDS / world]
    if grad:
        arguments.append("--grad")
    if vision:
        arguments.append("--vision")
    expected = headless_picture(tmp_path, *arguments)

    with robosim.Simulation(seed=seed, world=WORLDS / world if world else None) as sim:
        sim.step(ticks)
        frame = sim.render(width, height, grad=grad, vision=vision)
    assert frame.shape == expected.shape == (height, width, 3)
    differing = np.argwhere(np.any(frame != expected, axis=2))
    assert len(differing) == 0, f"{len(differing)} pixels differ, first at {differing[:5].tolist()}"


def test_keys_that_switch_the_picture_are_honoured(tmp_path):
    script = tmp_path / "show.keys"
    script.write_text("100 down G\n100 up G\n100 down T\n100 up T\n")
    expected = headless_picture(tmp_path, "--seed", 4, "--ticks", 200, "--keys", script)
    with robosim.Simulation(seed=4) as sim:
        sim.step(100)
        sim.press("G")
        sim.press("T")
        sim.step(100)
        frame = sim.render()
    assert np.array_equal(frame, expected)


def test_pictures_at_other_sizes_leave_the_run_as_it_was():
    with robosim.Simulation(seed=11, world=WORLDS / "maze.dat") as drawn, \
            robosim.Simulation(seed=11, world=WORLDS / "maze.dat") as alone:
        for _ in range(4):
            drawn.step(150)
            alone.step(150)
            drawn.render(97, 61, grad=True, vision=True)
            drawn.render(1280, 960)
            # The whole state, byte for byte: size, switches, drawing objects.
            assert pickle.dumps(drawn) == pickle.dumps(alone)
        assert np.array_equal(drawn.render(), alone.render())


def test_every_front_end_takes_the_same_picture_limits():
    from robosim import _robosim
    from robosim.env import NavigationEnv

    assert (_robosim.MAX_IMAGE_SIDE, _robosim.MAX_IMAGE_PIXELS) == (16384, 64 * 1024 * 1024)
    assert _robosim.picture_size_allowed(16384, 4096)
    with robosim.Simulation(seed=1) as sim:
        for width, height in ((16384, 4097), (8193, 8193)):
            assert not _robosim.picture_size_allowed(width, height)
            with pytest.raises(ValueError, match="too large"):
                sim.render(width, height)
            with pytest.raises(ValueError, match="too large"):
                NavigationEnv(image_size=(width, height))
            runner = run_headless("--ticks", 0, "--size", f"{width}x{height}", check=False)
            assert runner.returncode == 2 and "too large" in runner.stderr
