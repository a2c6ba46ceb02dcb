"""Simulation.render draws what the headless runner's picture shows, pixel for pixel."""

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
