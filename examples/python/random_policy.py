"""The navigation environment with a random policy: a few episodes, their returns.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/random_policy.py
"""

import argparse

from robosim.env import NavigationEnv


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--episodes", type=int, default=3)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--max-ticks", type=int, default=2000)
    args = parser.parse_args()

    env = NavigationEnv(max_ticks=args.max_ticks, frame_skip=4)
    env.action_space.seed(args.seed)
    try:
        observation, info = env.reset(seed=args.seed)
        for episode in range(args.episodes):
            total, steps, done = 0.0, 0, False
            while not done:
                action = env.action_space.sample()
                observation, reward, terminated, truncated, info = env.step(action)
                total += reward
                steps += 1
                done = terminated or truncated
            ending = "reached the target" if terminated else "ran out of time"
            print(f"episode {episode}: {steps} steps, return {total:.3f}, {ending}")
            observation, info = env.reset()
    finally:
        env.close()


if __name__ == "__main__":
    main()
