"""robosim.env.VectorNavigationEnv: each environment is the NavigationEnv of its seed,
bit for bit, with Gymnasium's next-step autoreset; shapes, dtypes, spaces, threads."""

import numpy as np
import pytest

from conftest import WORLDS
from robosim.env import NavigationEnv, VectorNavigationEnv


def steering(observations, rng, scale=1.0):
    """Toward the target most of the time, at random now and then: episodes that end
    both ways, reached and truncated. `scale` divides the command (1 / 0.03 for the
    normalized actions)."""
    if isinstance(observations, dict):
        observations = observations["vector"]
    speed = np.full(len(observations), 0.03)
    turn = np.clip(observations[:, 13] * 0.2, -0.03, 0.03)
    noisy = rng.random(len(observations)) < 0.3
    turn[noisy] = rng.uniform(-0.03, 0.03, noisy.sum())
    return np.stack([speed, turn], axis=1) * scale


def row(observations, k):
    """Environment k's observation as bytes (each part of a dict's)."""
    if isinstance(observations, dict):
        return tuple(observations[key][k].tobytes() for key in sorted(observations))
    return observations[k].tobytes()


def whole(observation):
    if isinstance(observation, dict):
        return tuple(observation[key].tobytes() for key in sorted(observation))
    return observation.tobytes()


def vector_run(num_envs, seed, steps, reset_options=None, scale=1.0, **options):
    env = VectorNavigationEnv(num_envs, **options)
    rng = np.random.default_rng(99)
    observations, infos = env.reset(seed=seed, options=reset_options)
    record = [(observations, None, None, None, infos["seed"], None)]
    actions = []
    for _ in range(steps):
        a = steering(observations, rng, scale)
        actions.append(a)
        observations, rewards, terminated, truncated, infos = env.step(a)
        episodes = None
        if "episode" in infos:
            episodes = (infos["_episode"], infos["episode"])
        record.append((observations, rewards, terminated, truncated, infos["seed"], episodes))
    env.close()
    return record, actions


def single_run(k, seed, actions, reset_options=None, **options):
    """Environment k as a NavigationEnv, reset as the vector's autoreset resets it."""
    env = NavigationEnv(**options)
    observation, info = env.reset(seed=seed, options=reset_options)
    record = [(whole(observation), None, None, None, info["seed"], None)]
    ended = False
    for a in actions:
        episode = None
        if ended:
            observation, info = env.reset()
            reward, terminated, truncated, ended = 0.0, False, False, False
        else:
            observation, reward, terminated, truncated, info = env.step(a[k])
            ended = terminated or truncated
            episode = info.get("episode")
        record.append((whole(observation), reward, terminated, truncated, env.episode_seed,
                       episode))
    env.close()
    return record


CASES = [
    ({"max_ticks": 150}, None, 1.0),
    ({"max_ticks": 151, "frame_skip": 3}, None, 1.0),  # the last step of each is shorter
    ({"max_ticks": 120, "world": WORLDS / "maze.dat"}, None, 1.0),
    ({"max_ticks": 150, "action_scale": "normalized"}, None, 1 / 0.03),
    ({"max_ticks": 150, "observation": "both", "image_size": (20, 12)}, None, 1.0),
    ({"max_ticks": 150}, {"world": WORLDS / "pillars.dat", "pose": (5, 5, 0), "target": (8, 5)},
     1.0),
]


@pytest.mark.parametrize(
    "options, reset_options, scale", CASES,
    ids=["default world", "frame skip", "world file", "normalized", "image and vector",
         "reset options"],
)
def test_each_environment_is_the_navigation_env_of_its_seed(options, reset_options, scale):
    n, seed, steps = 6, 40, 400
    record, actions = vector_run(n, seed, steps, reset_options, scale, **options)
    outcomes = {"reached": 0, "truncated": 0}
    for k in range(n):
        alone = single_run(k, seed + k, actions, reset_options, **options)
        for t, (mine, theirs) in enumerate(zip(record, alone)):
            assert row(mine[0], k) == theirs[0], (k, t)
            assert mine[4][k] == theirs[4], (k, t)
            if t == 0:
                continue
            assert (mine[1][k], mine[2][k], mine[3][k]) == theirs[1:4], (k, t)
            outcomes["reached"] += bool(theirs[2])
            outcomes["truncated"] += bool(theirs[3])
            # The episode's statistics, in the step that ends it, as the single env's.
            ended = mine[5] is not None and mine[5][0][k]
            assert ended == (theirs[5] is not None), (k, t)
            if ended:
                stats = mine[5][1]
                assert {key: stats[key][k] for key in stats} == theirs[5], (k, t)
    assert outcomes["reached"] + outcomes["truncated"] > n, outcomes
    if "world" not in options and not reset_options:  # a file's pose makes episodes alike
        assert outcomes["reached"] > 0 and outcomes["truncated"] > 0, outcomes


def test_options_that_cannot_be_taken_leave_every_environment_as_it_was():
    env = VectorNavigationEnv(3, max_ticks=50)
    observations, infos = env.reset(seed=5)
    for options in ({"world": WORLDS / "missing.dat"}, {"pose": (20, 1, 0)}, {"unknown": 1}):
        with pytest.raises(ValueError):
            env.reset(options=options)
    assert env.world is None and env.action_scale == "manual"
    # The episodes go on from where they were.
    after, *_ = env.step(np.zeros((3, 2)))
    twin = VectorNavigationEnv(3, max_ticks=50)
    twin.reset(seed=5)
    assert after.tobytes() == twin.step(np.zeros((3, 2)))[0].tobytes()
    env.reset(options={"action_scale": "normalized-automatic"})
    assert env.action_space.shape == (3, 2) and (env.single_action_space.high == 1).all()
    env.close()
    env.close()
    twin.close()


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
    # Seeds beyond the simulation's (as Gymnasium allows them) seed a generator.
    _, infos = env.reset(seed=2**32 - 2)
    assert list(infos["seed"][:2]) == [2**32 - 2, 2**32 - 1]
    assert infos["seed"][2] != infos["seed"][3]
    for bad in (np.array([[True, False]] * 4), [["a", "b"]] * 4):
        with pytest.raises((TypeError, ValueError)):
            env.step(bad)
    with pytest.raises(ValueError):
        env.reset(seed=-1)
    env.close()
    with pytest.raises(RuntimeError, match="closed"):
        env.step(np.zeros((4, 2)))


def test_the_number_of_threads_changes_nothing():
    one, _ = vector_run(9, 5, 200, max_ticks=120, num_threads=1)
    three, _ = vector_run(9, 5, 200, max_ticks=120, num_threads=3)
    for a, b in zip(one, three):
        assert a[0].tobytes() == b[0].tobytes()
        assert all(np.array_equal(x, y) for x, y in zip(a[1:5], b[1:5]) if x is not None)


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
