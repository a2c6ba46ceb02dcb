"""Speed of the Python interface, side by side with the headless runner.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--repetitions 5]

Figures (medians of the repetitions, runs interleaved so that both sides see the
same machine load):
  - ticks per second of the headless runner (--ticks 100000) and of
    Simulation.step(100000), same seed and world;
  - NavigationEnv.step with frame_skip=1, steps per second, with the 15 values
    as the observation and with a 64 x 64 image (the top view), and what the
    image adds to a step, microseconds (a build without image observations
    shows "-");
  - Simulation.render() at 640 x 480 without the lattice, milliseconds per frame.
"""

import argparse
import pathlib
import re
import statistics
import subprocess
import time

import numpy as np

import robosim
from robosim.env import NavigationEnv

ROOT = pathlib.Path(__file__).resolve().parents[1]


def headless_ticks_per_second(runner, ticks, seed, world):
    arguments = [str(runner), "--ticks", str(ticks), "--seed", str(seed)]
    if world:
        arguments += ["--world", str(world)]
    out = subprocess.run(arguments, capture_output=True, text=True, check=True).stdout
    return float(re.search(r"ticks per wall second: ([0-9.]+)", out).group(1))


def simulation_ticks_per_second(ticks, seed, world):
    with robosim.Simulation(seed=seed, world=world) as sim:
        start = time.perf_counter()
        sim.step(ticks)
        return ticks / (time.perf_counter() - start)


def env_steps_per_second(steps, seed, **options):
    try:
        env = NavigationEnv(max_ticks=10**12, frame_skip=1, **options)
    except TypeError:  # a build before image observations
        return float("nan")
    try:
        env.reset(seed=seed)
        actions = np.random.default_rng(seed).uniform(
            env.action_space.low, env.action_space.high, size=(steps, 2)
        )
        step = env.step
        start = time.perf_counter()
        for action in actions:
            if step(action)[2]:
                env.reset()
        return steps / (time.perf_counter() - start)
    finally:
        env.close()


def render_milliseconds(frames, seed):
    with robosim.Simulation(seed=seed, world=ROOT / "worlds" / "maze.dat") as sim:
        sim.step(1000)
        sim.render()
        start = time.perf_counter()
        for _ in range(frames):
            sim.render()
        return (time.perf_counter() - start) / frames * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--ticks", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--world", default=None, help="world file (default: the default world)")
    parser.add_argument("--runner", default=ROOT / "build" / "bin" / "robot-simulator-headless")
    args = parser.parse_args()

    runner, python, env, image, render = [], [], [], [], []
    for _ in range(args.repetitions):
        runner.append(headless_ticks_per_second(args.runner, args.ticks, args.seed, args.world))
        python.append(simulation_ticks_per_second(args.ticks, args.seed, args.world))
        env.append(env_steps_per_second(args.ticks, args.seed))
        image.append(env_steps_per_second(args.ticks // 4, args.seed, observation="image"))
        render.append(render_milliseconds(1000, args.seed))

    def show(name, values, unit, digits=0):
        median = statistics.median(values)
        runs = ", ".join(f"{v:,.{digits}f}" for v in values)
        print(f"{name:42} {median:>12,.{digits}f} {unit}   ({runs})")
        return median

    world = args.world or "the default world"
    print(f"seed {args.seed}, {world}, {args.ticks:,} ticks; medians of {args.repetitions} runs")
    a = show("headless runner", runner, "ticks/s")
    b = show("Simulation.step", python, "ticks/s")
    print(f"{'Simulation.step / headless runner':42} {b / a:>12.3f}")
    vector = show("NavigationEnv.step (frame_skip=1)", env, "steps/s")
    if all(v == v for v in image):  # no NaN: the build has image observations
        pictures = show("NavigationEnv.step, 64 x 64 image", image, "steps/s")
        print(f"{'  the image adds':42} {1e6 / pictures - 1e6 / vector:>12.2f} us/step")
    else:
        print(f"{'NavigationEnv.step, 64 x 64 image':42} {'-':>12}")
    show("Simulation.render() 640 x 480, no lattice", render, "ms/frame", 3)


if __name__ == "__main__":
    main()
