"""robosim.env.VectorNavigationEnv: each environment is the NavigationEnv of its seed,
bit for bit, with Gymnasium's next-step autoreset; shapes, dtypes, spaces, threads."""

import numpy as np
import pytest

from conftest import WORLDS
from robosim.env import NavigationEnv, VectorNavigationEnv


def steering(observations, rng):
    """Toward the target most of the time, at random now and then: episodes that end
    both ways, reached and truncated."""
    speed = np.full(len(observations), 0.03)
    turn = np.clip(observations[:, 13] * 0.2, -0.03, 0.03)
    noisy = rng.random(len(observations)) < 0.3
    turn[noisy] = rng.uniform(-0.03, 0.03, noisy.sum())
    return np.stack([speed, turn], axis=1)


def vector_run(num_envs, seed, steps, **options):
    env = VectorNavigationEnv(num_envs, **options)
    rng = np.random.default_rng(99)
    observations, infos = env.reset(seed=seed)
    record = [(observations, None, None, None, infos["seed"])]
    actions = []
    for _ in range(steps):
        a = steering(observations, rng)
        actions.append(a)
        observations, rewards, terminated, truncated, infos = env.step(a)
        record.append((observations, rewards, terminated, truncated, infos["seed"]))
    env.close()
    return record, actions


def single_run(k, seed, actions, **options):
    """Environment k as a NavigationEnv, reset as the vector's autoreset resets it."""
    env = NavigationEnv(**options)
    observation, info = env.reset(seed=seed)
    record = [(observation, None, None, None, info["seed"])]
    ended = False
    for a in actions:
        if ended:
            observation, info = env.reset()
            reward, terminated, truncated, ended = 0.0, False, False, False
        else:
            observation, reward, terminated, truncated, _ = env.step(a[k])
            ended = terminated or truncated
            info = {"seed": env.episode_seed}
        record.append((observation, reward, terminated, truncated, env.episode_seed))
    env.close()
    return record


@pytest.mark.parametrize(
    "options",
    [
        {"max_ticks": 150},
        {"max_ticks": 150, "frame_skip": 3},
        {"max_ticks": 120, "world": WORLDS / "maze.dat"},
    ],
    ids=["default world", "frame skip", "world file"],
)
def test_each_environment_is_the_navigation_env_of_its_seed(options):
    n, seed, steps = 6, 40, 400
    record, actions = vector_run(n, seed, steps, **options)
    outcomes = {"reached": 0, "truncated": 0}
    for k in range(n):
        alone = single_run(k, seed + k, actions, **options)
        for t, (mine, theirs) in enumerate(zip(record, alone)):
            assert mine[0][k].tobytes() == theirs[0].tobytes(), (k, t)
            assert mine[4][k] == theirs[4], (k, t)
            if t > 0:
                assert (mine[1][k], mine[2][k], mine[3][k]) == theirs[1:4], (k, t)
                outcomes["reached"] += bool(theirs[2])
                outcomes["truncated"] += bool(theirs[3])
    assert outcomes["reached"] + outcomes["truncated"] > n, outcomes
    if "world" not in options:  # the file's pose makes every episode alike
        assert outcomes["reached"] > 0 and outcomes["truncated"] > 0, outcomes


def test_shapes_dtypes_spaces_and_seeds():
    env = VectorNavigationEnv(4, max_ticks=50, num_threads=2)
    assert env.num_envs == 4 and env.num_threads == 2
    assert env.observation_space.shape == (4, 15) and env.action_space.shape == (4, 2)
    assert env.single_observation_space.shape == (15,)
    assert env.single_action_space.shape == (2,)
    observations, infos = env.reset(seed=[7, 7, 9, 11])
    assert observations.dtype == np.float32 and observations.shape == (4, 15)
    assert list(infos["seed"]) == [7, 7, 9, 11] and infos["_seed"].all()
    assert observations[0].tobytes() == observations[1].tobytes()
    result = env.step(np.zeros((4, 2)))
    observations, rewards, terminated, truncated, infos = result
    assert rewards.dtype == np.float64 and rewards.shape == (4,)
    assert terminated.dtype == bool and truncated.dtype == bool
    assert infos["tick"].shape == (4,) and (infos["tick"] == 1).all()
    for bad in (np.zeros((3, 2)), np.zeros((4, 3)), np.full((4, 2), np.nan), [[0, 0]] * 3):
        with pytest.raises(ValueError):
            env.step(bad)
    with pytest.raises(ValueError):
        env.reset(seed=[1, 2])
    with pytest.raises(ValueError):
        env.reset(seed=2**32 - 2)  # the fourth environment's seed would not fit
    env.close()
    with pytest.raises(RuntimeError, match="closed"):
        env.step(np.zeros((4, 2)))


def test_the_number_of_threads_changes_nothing():
    one, _ = vector_run(9, 5, 200, max_ticks=120, num_threads=1)
    three, _ = vector_run(9, 5, 200, max_ticks=120, num_threads=3)
    for a, b in zip(one, three):
        assert a[0].tobytes() == b[0].tobytes()
        assert all(np.array_equal(x, y) for x, y in zip(a[1:], b[1:]) if x is not None)


def test_render_and_step_before_reset():
    env = VectorNavigationEnv(2, render_mode="rgb_array")
    with pytest.raises(RuntimeError, match="reset"):
        env.step(np.zeros((2, 2)))
    env.reset(seed=1)
    frames = env.render()
    assert len(frames) == 2 and frames[0].shape == (480, 640, 3) and frames[0].dtype == np.uint8
    assert VectorNavigationEnv(1).render() is None


def test_a_vector_env_is_a_gymnasium_vector_env_when_gymnasium_is_there():
    gymnasium = pytest.importorskip("gymnasium")
    assert isinstance(VectorNavigationEnv(2), gymnasium.vector.VectorEnv)
