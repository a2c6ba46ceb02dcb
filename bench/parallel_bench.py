"""Simulations side by side: threads, the batched environment and processes.

    PYTHONPATH=build/python /usr/bin/python3 bench/parallel_bench.py [--repetitions 5]

Figures (medians of the repetitions, the ways interleaved so that all see the same
machine load):
  - two Simulations stepped 100,000 ticks each, one after the other and on two
    threads at once: the seconds, and threads / one after the other;
  - one NavigationEnv, steps per second (frame_skip=1), through the same episodes
    as the vector below (seeds 1 to 64, 500 steps each, the same random actions);
  - VectorNavigationEnv(64), environment steps per second, on one thread and on
    the cores of this process;
  - a vector of four NavigationEnvs in four processes, each step sent to all four
    through pipes and the answers gathered (as Gymnasium's AsyncVectorEnv does, random actions),
    environment steps per second.
"""

import argparse
import multiprocessing
import os
import statistics
import threading
import time

import numpy as np

import robosim
from robosim.env import NavigationEnv, VectorNavigationEnv

ACTION = np.array([0.03, 0.004])
STEPS = 500


def random_actions(n, seed):
    low, high = [-0.03, -0.03], [0.03, 0.03]
    return np.random.default_rng(seed).uniform(low, high, size=(STEPS, n, 2))


def two_simulations(ticks, seed, on_threads):
    sims = [robosim.Simulation(seed=seed + k) for k in range(2)]
    start = time.perf_counter()
    if on_threads:
        threads = [threading.Thread(target=s.step, args=(ticks,)) for s in sims]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    else:
        for s in sims:
            s.step(ticks)
    return time.perf_counter() - start


def single_env(n, seed):
    env = NavigationEnv(max_ticks=10**12)
    actions = random_actions(n, seed)
    start = time.perf_counter()
    for k in range(n):
        env.reset(seed=seed + k)
        for step in range(STEPS):
            if env.step(actions[step, k])[2]:
                env.reset()
    seconds = time.perf_counter() - start
    env.close()
    return n * STEPS / seconds


def vector_env(n, seed, threads):
    env = VectorNavigationEnv(n, max_ticks=10**12, num_threads=threads)
    actions = random_actions(n, seed)
    env.reset(seed=seed)
    start = time.perf_counter()
    for step in range(STEPS):
        env.step(actions[step])
    seconds = time.perf_counter() - start
    env.close()
    return n * STEPS / seconds


def _env_worker(connection, seed):
    env = NavigationEnv(max_ticks=10**12)
    env.reset(seed=seed)
    while True:
        action = connection.recv()
        if action is None:
            break
        result = env.step(np.random.uniform(-0.03, 0.03, 2) if action is True else action)
        if result[2]:
            env.reset()
        connection.send(result)
    env.close()


def process_vector(n, steps, seed):
    context = multiprocessing.get_context("spawn")
    pipes, workers = [], []
    for k in range(n):
        mine, theirs = context.Pipe()
        worker = context.Process(target=_env_worker, args=(theirs, seed + k), daemon=True)
        worker.start()
        pipes.append(mine)
        workers.append(worker)
    for p in pipes:  # one step each first, so that start-up is not timed
        p.send(ACTION)
    for p in pipes:
        p.recv()
    start = time.perf_counter()
    for _ in range(steps):
        for p in pipes:
            p.send(True)
        for p in pipes:
            p.recv()
    seconds = time.perf_counter() - start
    for p in pipes:
        p.send(None)
    for w in workers:
        w.join()
    return n * steps / seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--ticks", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--envs", type=int, default=64)
    args = parser.parse_args()
    cores = len(os.sched_getaffinity(0))

    rows = {k: [] for k in ("sequential", "threads", "single", "vector1", "vectorN", "processes")}
    for _ in range(args.repetitions):
        rows["sequential"].append(two_simulations(args.ticks, args.seed, False))
        rows["threads"].append(two_simulations(args.ticks, args.seed, True))
        rows["single"].append(single_env(args.envs, args.seed))
        rows["vector1"].append(vector_env(args.envs, args.seed, 1))
        rows["vectorN"].append(vector_env(args.envs, args.seed, cores))
        rows["processes"].append(process_vector(4, args.ticks // 20, args.seed))

    def show(name, key, unit, digits=0):
        median = statistics.median(rows[key])
        runs = ", ".join(f"{v:,.{digits}f}" for v in rows[key])
        print(f"{name:52} {median:>12,.{digits}f} {unit}   ({runs})")
        return median

    print(f"{cores} cores, seed {args.seed}; medians of {args.repetitions} runs")
    seq = show("two Simulations, one after the other", "sequential", "s", 3)
    par = show("two Simulations on two threads", "threads", "s", 3)
    print(f"{'  threads / one after the other':52} {par / seq:>12.3f}")
    single = show("one NavigationEnv", "single", "steps/s")
    show(f"VectorNavigationEnv({args.envs}), 1 thread", "vector1", "env steps/s")
    vector = show(f"VectorNavigationEnv({args.envs}), {cores} threads", "vectorN", "env steps/s")
    processes = show("four NavigationEnvs in four processes", "processes", "env steps/s")
    print(f"{'  vector / one NavigationEnv':52} {vector / single:>12.2f}")
    print(f"{'  vector / four processes':52} {vector / processes:>12.1f}")


if __name__ == "__main__":
    main()
