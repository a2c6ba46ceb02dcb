"""Simulation.record_gif films a run as the headless runner's --gif does."""

import os

import numpy as np
import pytest
from PIL import Image

import robosim
from conftest import WORLDS, run_headless


@pytest.mark.parametrize(
    "seed, world, ticks, every, size, grad, vision, trail",
    [
        (5, None, 95, 10, (160, 120), False, False, False),
        (11, "maze.dat", 400, 7, (240, 180), False, True, True),
        (7, "pillars.dat", 60, 20, (200, 150), True, False, False),
        (3, None, 0, 10, (32, 24), False, False, True),
    ],
)
def test_the_film_is_the_headless_runners_byte_for_byte(tmp_path, seed, world, ticks, every,
                                                         size, grad, vision, trail):
    width, height = size
    arguments = ["--seed", seed, "--ticks", ticks, "--frame-every", every,
                 "--size", f"{width}x{height}", "--gif", tmp_path / "runner.gif"]
    if world:
        arguments += ["--world", WORLDS / world]
    for name, on in (("--grad", grad), ("--vision", vision), ("--trail", trail)):
        if on:
            arguments.append(name)
    run_headless(*arguments)

    film = tmp_path / "python.gif"
    with robosim.Simulation(seed=seed, world=WORLDS / world if world else None) as sim:
        assert sim.record_gif(film, ticks, every=every, width=width, height=height, grad=grad,
                              vision=vision, trail=trail) == ticks
        assert sim.tick == ticks
        last = sim.render(width, height, grad=grad, vision=vision)
    assert film.read_bytes() == (tmp_path / "runner.gif").read_bytes()

    with Image.open(film) as gif:
        assert gif.size == (width, height)
        assert gif.n_frames == -(-ticks // every) + 1
        if not trail:  # the trail is drawn only in the film's frames
            gif.seek(gif.n_frames - 1)
            shown = np.asarray(gif.convert("RGB")).astype(int)
            # Exact, but for the lattice's levels, which the palette keeps to 1 off.
            assert np.abs(shown - last.astype(int)).max() <= (1 if grad else 0)


def test_delays_are_the_simulated_time_between_frames(tmp_path):
    film = tmp_path / "film.gif"
    with robosim.Simulation(seed=1, period_ms=15) as sim:
        sim.record_gif(film, 25, every=2, width=40, height=30)
    with Image.open(film) as gif:
        delays = []
        for i in range(gif.n_frames):
            gif.seek(i)
            delays.append(gif.info["duration"])
    # 30 ms a frame, the last from tick 24 to 25 (15 ms, rounded as the total
    # stays right: 360 to 375 ms is 36 to 38 hundredths), then one more interval.
    assert delays == [30] * 12 + [20, 30]


def test_bad_arguments_are_refused_and_nothing_is_written(tmp_path):
    film = tmp_path / "film.gif"
    (tmp_path / "folder").mkdir()
    with robosim.Simulation(seed=1) as sim:
        with pytest.raises(ValueError, match="every"):
            sim.record_gif(film, 10, every=0)
        with pytest.raises(ValueError, match="use every=11 or more"):
            sim.record_gif(film, 1_000_000, every=1)
        with pytest.raises(ValueError, match="width"):
            sim.record_gif(film, 10, width=0)
        with pytest.raises(ValueError, match="too large"):
            sim.record_gif(film, 10, width=16384, height=16384)
        with pytest.raises(TypeError):
            sim.record_gif(film, 10, trail=1)
        with pytest.raises(OSError, match="folder"):
            sim.record_gif(tmp_path / "folder", 10)
        with pytest.raises(OSError):
            sim.record_gif(tmp_path / "missing" / "film.gif", 10)
        assert sim.tick == 0, "nothing ran"
    assert sorted(os.listdir(tmp_path)) == ["folder"]


def test_a_film_over_an_old_file_replaces_it_whole(tmp_path):
    film = tmp_path / "film.gif"
    film.write_bytes(b"old film")
    with robosim.Simulation(seed=2) as sim:
        sim.record_gif(film, 30, width=64, height=48)
        # The trail of one recording is not drawn in the next or in render().
        sim.record_gif(tmp_path / "trail.gif", 30, width=64, height=48, trail=True)
        plain = sim.render(64, 48)
    assert film.read_bytes().startswith(b"GIF89a")
    assert sorted(os.listdir(tmp_path)) == ["film.gif", "trail.gif"]
    trail_rgb = np.array([255, 128, 0], dtype=np.uint8)
    assert not (plain == trail_rgb).all(axis=2).any()
