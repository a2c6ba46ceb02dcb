"""Stable-Baselines3's vector environments of 8 NavigationEnvs, env steps per second.

    PYTHONPATH=build/python build/venv/bin/python bench/sb3_bench.py [--repetitions 5]

Run with the virtual environment scripts/setup.sh makes (Stable-Baselines3 and
Gymnasium over Debian's Python and PyTorch). Medians of the repetitions, the ways
interleaved so that all see the same machine, first quiet, then with one busy
process per core this process may use (as a training process's own threads keep
the cores busy):
  - robosim.sb3.VecEnv(8): the 8 environments stepped in one C++ call;
  - SB3's DummyVecEnv of 8 NavigationEnvs: stepped one after the other in Python;
  - SB3's SubprocVecEnv of 8 NavigationEnvs: one process each, steps through pipes.
Every way steps the same random actions from the same seeds.
"""

import argparse
import os
import time

import numpy as np
from stable_baselines3.common.vec_env import DummyVecEnv, SubprocVecEnv

import robosim.sb3
from robosim._robosim import _usable_cores
from robosim.env import NavigationEnv
from vector_bench import median, quiet_and_loaded, ratio  # bench/, beside this script

SEED = 1
ENVS = 8
SETTINGS = {"max_ticks": 2000}


def random_actions(steps):
    return np.random.default_rng(SEED).uniform(-0.03, 0.03, size=(steps, ENVS, 2)).astype(np.float32)


def steps_per_second(make, steps):
    envs = make()
    try:
        envs.seed(SEED)
        envs.reset()
        actions = random_actions(steps)
        start = time.perf_counter()
        for step in range(steps):
            envs.step(actions[step])
        return ENVS * steps / (time.perf_counter() - start)
    finally:
        envs.close()


def one_env():
    return lambda: NavigationEnv(**SETTINGS)


def ways(steps):
    return {
        "robosim.sb3.VecEnv(8)": lambda: steps_per_second(
            lambda: robosim.sb3.VecEnv(ENVS, **SETTINGS), steps),
        "DummyVecEnv(8 NavigationEnvs)": lambda: steps_per_second(
            lambda: DummyVecEnv([one_env() for _ in range(ENVS)]), steps),
        "SubprocVecEnv(8 NavigationEnvs)": lambda: steps_per_second(
            lambda: SubprocVecEnv([one_env() for _ in range(ENVS)], start_method="fork"),
            max(1, steps // 4)),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--steps", type=int, default=2000)
    args = parser.parse_args()
    cores = _usable_cores()
    measured = ways(args.steps)
    load_before = os.getloadavg()[0]
    quiet, loaded = quiet_and_loaded(measured, args.repetitions, cores)
    print(f"{cores} usable cores, load average {load_before:.1f} before; "
          f"medians of {args.repetitions}, env steps/s")
    print(f"{'':34} {'quiet':>12} {'loaded':>12}")
    for name in measured:
        print(f"{name:34} {median(quiet, name):>12,.0f} {median(loaded, name):>12,.0f}")
    ours = "robosim.sb3.VecEnv(8)"
    for other in ("DummyVecEnv(8 NavigationEnvs)", "SubprocVecEnv(8 NavigationEnvs)"):
        label = f"  ours / {other.split('(')[0]}"
        print(f"{label:34} {ratio(quiet, ours, other):>12.2f} {ratio(loaded, ours, other):>12.2f}")


if __name__ == "__main__":
    main()
