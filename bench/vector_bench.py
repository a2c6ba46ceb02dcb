"""The batched environment against a Python loop, quiet and under load.

    PYTHONPATH=build/python /usr/bin/python3 bench/vector_bench.py [--repetitions 5]

Environment steps per second (medians of the repetitions; the ways interleaved so
that all see the same machine; a ratio is the median of the repetitions' own
ratios, each of two ways measured one right after the other), first on the
machine as it is ("quiet"), then with one busy process per core this process may
use ("loaded", each a Python loop doing nothing, as a training process's own
threads would keep the cores):
  - 64 NavigationEnvs stepped one after the other in a Python loop, each reset as
    soon as its episode ends;
  - VectorNavigationEnv(64) with the same seeds and random actions, with its
    default arguments and with num_threads=1 (twice: the ratio of the two runs of
    one thread shows how far two runs of the same way differ on this machine);
  - small batches, VectorNavigationEnv(4) and (8), default against one thread:
    the batches on which threads cost more than they bring.

With --rounds N it measures instead, under load only, N rounds of three long runs
of VectorNavigationEnv(envs) (one thread, default, one thread again, the order
of the two single-thread runs swapped every round) and prints the time of all
rounds of one thread over that of the default, beside the same ratio of the two
single-thread runs: how far apart two runs of the same way come out.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

import numpy as np

from robosim.env import NavigationEnv, VectorNavigationEnv
from robosim._robosim import _usable_cores

SEED = 1


def random_actions(steps, n):
    return np.random.default_rng(SEED).uniform(-0.03, 0.03, size=(steps, n, 2))


def python_loop(n, steps):
    envs = [NavigationEnv(max_ticks=2000) for _ in range(n)]
    for k, env in enumerate(envs):
        env.reset(seed=SEED + k)
    actions = random_actions(steps, n)
    start = time.perf_counter()
    for step in range(steps):
        for k, env in enumerate(envs):
            _, _, terminated, truncated, _ = env.step(actions[step, k])
            if terminated or truncated:
                env.reset()
    seconds = time.perf_counter() - start
    for env in envs:
        env.close()
    return n * steps / seconds


def vector(n, steps, threads=None):
    env = VectorNavigationEnv(n, max_ticks=2000, num_threads=threads)
    env.reset(seed=SEED)
    actions = random_actions(steps, n)
    start = time.perf_counter()
    for step in range(steps):
        env.step(actions[step])
    seconds = time.perf_counter() - start
    env.close()
    return n * steps / seconds


def measures(envs, steps):
    small = max(2, steps * envs // 4)  # as many environment steps as the large batch
    return {
        f"{envs} NavigationEnvs in a Python loop": lambda: python_loop(envs, steps),
        f"VectorNavigationEnv({envs})": lambda: vector(envs, steps),
        f"VectorNavigationEnv({envs}, num_threads=1)": lambda: vector(envs, steps, 1),
        f"VectorNavigationEnv({envs}, num_threads=1) again": lambda: vector(envs, steps, 1),
        "VectorNavigationEnv(4)": lambda: vector(4, small),
        "VectorNavigationEnv(4, num_threads=1)": lambda: vector(4, small, 1),
        "VectorNavigationEnv(8)": lambda: vector(8, small // 2),
        "VectorNavigationEnv(8, num_threads=1)": lambda: vector(8, small // 2, 1),
    }


def run(ways, repetitions):
    """Each way's figure in each repetition."""
    figures = {name: [] for name in ways}
    for _ in range(repetitions):
        for name, way in ways.items():
            figures[name].append(way())
    return figures


def median(figures, name):
    return statistics.median(figures[name])


def ratio(figures, name, other):
    """The median of the repetitions' ratios: the machine's speed, which drifts
    over a run, changes little between two ways measured one after the other."""
    return statistics.median(a / b for a, b in zip(figures[name], figures[other]))


def busy_processes(count):
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]


def quiet_and_loaded(ways, repetitions, cores):
    """The figures of each way (see run), on the machine as it is and then with
    one busy process per core."""
    quiet = run(ways, repetitions)
    busy = busy_processes(cores)
    try:
        time.sleep(1)  # the busy processes are running
        loaded = run(ways, repetitions)
    finally:
        for process in busy:
            process.kill()
            process.wait()
    return quiet, loaded


def seconds_of(envs, steps, threads=None):
    return envs * steps / vector(envs, steps, threads)


def long_runs_under_load(envs, steps, rounds, cores):
    """The total seconds of one thread, the default and one thread again."""
    one, default, again = [], [], []
    busy = busy_processes(cores)
    try:
        time.sleep(1)  # the busy processes are running
        for k in range(rounds):
            first, last = (one, again) if k % 2 == 0 else (again, one)
            first.append(seconds_of(envs, steps, 1))
            default.append(seconds_of(envs, steps))
            last.append(seconds_of(envs, steps, 1))
    finally:
        for process in busy:
            process.kill()
            process.wait()
    return sum(one), sum(default), sum(again)


def print_long_runs(args, cores):
    load_before = os.getloadavg()[0]
    one, default, again = long_runs_under_load(args.envs, args.steps, args.rounds, cores)
    print(f"{cores} usable cores, load average {load_before:.1f} before; a busy process per "
          f"core; {args.rounds} rounds of VectorNavigationEnv({args.envs}), {args.steps} steps")
    print(f"  time of one thread / time of the default        {one / default:.3f}")
    print(f"  time of one thread / time of one thread again   {one / again:.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--envs", type=int, default=64)
    parser.add_argument("--steps", type=int, default=500)
    parser.add_argument("--rounds", type=int, default=0)
    args = parser.parse_args()
    cores = _usable_cores()
    if args.rounds > 0:
        print_long_runs(args, cores)
        return
    ways = measures(args.envs, args.steps)
    load_before = os.getloadavg()[0]
    quiet, loaded = quiet_and_loaded(ways, args.repetitions, cores)
    print(f"{cores} usable cores, load average {load_before:.1f} before; "
          f"medians of {args.repetitions}, env steps/s")
    print(f"{'':46} {'quiet':>12} {'loaded':>12}")
    for name in ways:
        print(f"{name:46} {median(quiet, name):>12,.0f} {median(loaded, name):>12,.0f}")
    loop = f"{args.envs} NavigationEnvs in a Python loop"
    batch = f"VectorNavigationEnv({args.envs})"
    print(f"{'  vector / Python loop':46} {ratio(quiet, batch, loop):>12.2f} "
          f"{ratio(loaded, batch, loop):>12.2f}")
    for n in (args.envs, 4, 8):
        default, alone = f"VectorNavigationEnv({n})", f"VectorNavigationEnv({n}, num_threads=1)"
        print(f"{f'  ({n}) default / one thread':46} {ratio(quiet, default, alone):>12.2f} "
              f"{ratio(loaded, default, alone):>12.2f}")
    alone = f"VectorNavigationEnv({args.envs}, num_threads=1)"
    again = alone + " again"
    print(f"{f'  ({args.envs}) one thread / one thread again':46} "
          f"{ratio(quiet, alone, again):>12.2f} {ratio(loaded, alone, again):>12.2f}")


if __name__ == "__main__":
    main()
