"""Runs one seeded episode of NavigationEnv, for tests that compare it with episodes
run beside others or in other processes."""

import numpy as np

from robosim.env import NavigationEnv


def run_episode(seed, steps=400, world=None, frame_skip=1):
    """The episode's observations, rewards and flags as plain values; the actions
    come from their own generator seeded with the same seed."""
    actions = np.random.default_rng(seed)
    env = NavigationEnv(world=world, max_ticks=steps * frame_skip, frame_skip=frame_skip)
    try:
        observation, info = env.reset(seed=seed)
        record = [(observation.tobytes(), info["seed"])]
        for _ in range(steps):
            action = actions.uniform(env.action_space.low, env.action_space.high)
            observation, reward, terminated, truncated, info = env.step(action)
            record.append((observation.tobytes(), reward, terminated, truncated, info["tick"]))
            if terminated or truncated:
                break
        return record
    finally:
        env.close()
