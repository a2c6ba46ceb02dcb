"""PPO (Stable-Baselines3) learns to drive the robot to its targets, then drives
against the automatic mode on the same episodes.

Needs Stable-Baselines3 (`pip install .[sb3]`; PyTorch from Debian's python3-torch):

    python3 examples/python/train_ppo.py --steps 60000 --out ppo

trains on robosim.sb3.VecEnv (with --vec-env dummy, on SB3's DummyVecEnv of
NavigationEnvs: the same episodes step for step, so the same training), prints
one line per rollout (env steps, episodes, success rate and mean return over the
last 100 episodes), then the wall time split between the environments and the
network, the learned policy and the automatic mode on the same evaluation
episodes, and writes OUT/learning-curve.png (the success rate and the return
against env steps) and OUT/episodes.csv (one row per training episode). Fixed
seeds and one PyTorch thread make a run repeat exactly.
"""

import argparse
import csv
import pathlib
import sys
import time

import numpy as np

from robosim.env import NavigationEnv

try:
    import torch
    from stable_baselines3 import PPO
    from stable_baselines3.common.callbacks import BaseCallback
    from stable_baselines3.common.env_util import make_vec_env
    from stable_baselines3.common.vec_env import VecEnvWrapper, VecMonitor

    import robosim.sb3
except ImportError as missing:  # pragma: no cover - depends on what is installed
    sys.exit(f"train_ppo.py needs Stable-Baselines3 and PyTorch ({missing}): pip install .[sb3]")

# Ten ticks a step: a decision every tenth of a simulated second. An episode ends
# at the target or after 30 simulated seconds.
ENV_SETTINGS = {"frame_skip": 10, "max_ticks": 3000, "action_scale": "normalized"}
EVALUATION_SEEDS = range(100_000, 100_050)
WINDOW = 100  # episodes in the moving success rate


class TimedVecEnv(VecEnvWrapper):
    """Adds up the wall time spent stepping and resetting the environments."""

    def __init__(self, venv):
        super().__init__(venv)
        self.seconds = 0.0

    def reset(self):
        start = time.perf_counter()
        observations = self.venv.reset()
        self.seconds += time.perf_counter() - start
        return observations

    def step_wait(self):
        start = time.perf_counter()
        result = self.venv.step_wait()
        self.seconds += time.perf_counter() - start
        return result


class EpisodeLog(BaseCallback):
    """Records every finished training episode and prints a line per rollout."""

    def __init__(self):
        super().__init__()
        self.episodes = []  # (env steps, success, return, steps)
        self.rollout_seconds = 0.0
        self._rollout_start = None

    def _on_rollout_start(self):
        self._rollout_start = time.perf_counter()

    def _on_rollout_end(self):
        self.rollout_seconds += time.perf_counter() - self._rollout_start
        success, returns = self.recent()
        print(f"{self.num_timesteps:7d} steps {len(self.episodes):5d} episodes  "
              f"success {success:6.1%}  return {returns:7.3f}", flush=True)

    def _on_step(self):
        for done, info in zip(self.locals["dones"], self.locals["infos"]):
            if done:
                stats = info["robosim_episode"]
                self.episodes.append((self.num_timesteps, bool(info["is_success"]),
                                      float(stats["r"]), int(stats["l"])))
        return True

    def recent(self):
        last = self.episodes[-WINDOW:]
        if not last:
            return 0.0, 0.0
        return float(np.mean([e[1] for e in last])), float(np.mean([e[2] for e in last]))


def evaluate(policy=None):
    """Success rate and mean steps to the target on the evaluation episodes, driven
    by the policy (deterministic) or, without one, by the automatic mode."""
    driver = "automatic" if policy is None else "action"
    reached, steps = 0, []
    with NavigationEnv(**ENV_SETTINGS, driver=driver) as env:
        for seed in EVALUATION_SEEDS:
            observation, _ = env.reset(seed=seed)
            done, length = False, 0
            while not done:
                action = (0.0, 0.0) if policy is None else policy.predict(observation, deterministic=True)[0]
                observation, _, terminated, truncated, _ = env.step(action)
                length += 1
                done = terminated or truncated
            if terminated:
                reached += 1
                steps.append(length)
    return reached / len(EVALUATION_SEEDS), float(np.mean(steps)) if steps else float("nan")


def plot(episodes, out):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    at = np.array([e[0] for e in episodes])
    success = np.array([e[1] for e in episodes], dtype=float)
    returns = np.array([e[2] for e in episodes])
    moving = lambda values: np.array([values[max(0, i - WINDOW + 1):i + 1].mean() for i in range(len(values))])
    figure, left = plt.subplots(figsize=(7, 4), dpi=100)
    left.plot(at, 100 * moving(success), color="tab:blue", label="success rate")
    left.set_xlabel("environment steps")
    left.set_ylabel(f"episodes reaching the target, last {WINDOW} (%)", color="tab:blue")
    left.set_ylim(0, 100)
    right = left.twinx()
    right.plot(at, moving(returns), color="tab:orange", label="return")
    right.set_ylabel(f"mean return, last {WINDOW} episodes", color="tab:orange")
    left.set_title("PPO on the navigation environment (default world)")
    figure.tight_layout()
    figure.savefig(out)
    plt.close(figure)


def environments(kind, count, seed):
    """The training environments: robosim's own vector environment (one C++ call
    per step) or SB3's DummyVecEnv of NavigationEnvs. Both give the same episodes
    step for step, so the training is the same."""
    if kind == "robosim":
        venv = VecMonitor(robosim.sb3.VecEnv(count, **ENV_SETTINGS))
        venv.seed(seed)
        return venv
    return make_vec_env(NavigationEnv, n_envs=count, seed=seed, env_kwargs=ENV_SETTINGS)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=60_000, help="environment steps to train")
    parser.add_argument("--envs", type=int, default=8, help="environments stepped together")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--vec-env", choices=("robosim", "dummy"), default="robosim",
                        help="robosim.sb3.VecEnv, or SB3's DummyVecEnv of NavigationEnvs")
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path("ppo"))
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)

    torch.set_num_threads(1)  # the same run on any machine, and no fight for the cores
    venv = TimedVecEnv(environments(args.vec_env, args.envs, args.seed))
    model = PPO("MlpPolicy", venv, n_steps=256, batch_size=256, seed=args.seed, verbose=0)
    log = EpisodeLog()
    start = time.perf_counter()
    model.learn(total_timesteps=args.steps, callback=log)
    total = time.perf_counter() - start
    venv.close()

    update = total - log.rollout_seconds
    print(f"wall time {total:.1f} s: environments {venv.seconds:.1f} s, "
          f"policy in rollouts {log.rollout_seconds - venv.seconds:.1f} s, updates {update:.1f} s")
    learned, learned_steps = evaluate(model)
    automatic, automatic_steps = evaluate()
    print(f"learned policy: {learned:.0%} of {len(EVALUATION_SEEDS)} evaluation episodes reach "
          f"the target, in {learned_steps:.1f} steps on average")
    print(f"automatic mode: {automatic:.0%} of the same episodes, in {automatic_steps:.1f} steps")

    with open(args.out / "episodes.csv", "w", newline="") as stream:
        writer = csv.writer(stream)
        writer.writerow(["env_steps", "success", "return", "steps"])
        writer.writerows(log.episodes)
    plot(log.episodes, args.out / "learning-curve.png")
    success, _ = log.recent()
    print(f"success over the last {WINDOW} training episodes: {success:.1%}")
    print(f"wrote {args.out / 'learning-curve.png'} and {args.out / 'episodes.csv'}")


if __name__ == "__main__":
    main()
