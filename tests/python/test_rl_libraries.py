"""The environments with the real Gymnasium and Stable-Baselines3, as a user runs
them: Gymnasium's and SB3's checkers in every mode, Gymnasium's wrappers (single and
vector) and SB3's Monitor and VecMonitor on both environments, and make_vec's sync
and async vector environments step for step against VectorNavigationEnv.

Run by ctest with the virtual environment of scripts/setup.sh, where both libraries
are installed: a missing one is a failure here, not a skip."""

import itertools
import warnings

import gymnasium
import gymnasium.wrappers as wrappers
import gymnasium.wrappers.vector as vector_wrappers
import numpy as np
import pytest
from gymnasium.utils.env_checker import check_env as gymnasium_check_env
from stable_baselines3.common.env_checker import check_env as sb3_check_env
from stable_baselines3.common.monitor import Monitor
from stable_baselines3.common.vec_env import DummyVecEnv, VecMonitor

from conftest import WORLDS
from robosim.env import ENV_ID, NavigationEnv, VectorNavigationEnv

SCALES = ("manual", "automatic", "normalized", "normalized-automatic")
OBSERVATIONS = ("vector", "image", "both")
RENDER_MODES = (None, "rgb_array")
EVERY_MODE = [
    {"action_scale": a, "observation": o, "render_mode": r, "image_size": 24}
    for a, o, r in itertools.product(SCALES, OBSERVATIONS, RENDER_MODES)
]


def mode_id(mode):
    return "-".join(str(mode[key]) for key in ("action_scale", "observation", "render_mode"))


@pytest.mark.parametrize("mode", EVERY_MODE, ids=mode_id)
def test_the_checkers_of_gymnasium_and_sb3_pass_in_every_mode(mode):
    for extra in ({}, {"driver": "automatic", "frame_skip": 5, "world": WORLDS / "maze.dat"}):
        env = gymnasium.make(ENV_ID, **mode, **extra)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            gymnasium_check_env(env.unwrapped)
        # SB3's checker raises on faults and warns with advice (a normalized action
        # space, larger images for its CNN), which the modes leave to the user.
        sb3_check_env(env.unwrapped, warn=True)
        env.close()


def test_sb3_checker_on_the_image_observation():
    with NavigationEnv(observation="image", image_size=36) as env:
        sb3_check_env(env, warn=False)


def driven(env, steps, seed=3):
    """Steps with actions from the seeded action space; yields each step's result."""
    env.action_space.seed(seed)
    env.reset(seed=seed)
    for _ in range(steps):
        result = env.step(env.action_space.sample())
        yield result
        if not hasattr(env, "num_envs") and (result[2] or result[3]):
            env.reset()


SHORT = {"max_ticks": 40, "frame_skip": 2}
SINGLE_WRAPPERS = {
    "RecordEpisodeStatistics": (wrappers.RecordEpisodeStatistics, {}),
    "TimeLimit": (lambda e: wrappers.TimeLimit(e, 7), {}),
    "NormalizeObservation": (wrappers.NormalizeObservation, {}),
    "NormalizeReward": (wrappers.NormalizeReward, {}),
    "FlattenObservation": (wrappers.FlattenObservation, {"observation": "both"}),
    "FrameStackObservation": (lambda e: wrappers.FrameStackObservation(e, 4), {}),
    "RescaleAction": (lambda e: wrappers.RescaleAction(e, np.float32(-1), np.float32(1)), {}),
    "ClipAction": (wrappers.ClipAction, {}),
    "ClipReward": (lambda e: wrappers.ClipReward(e, -0.01, 0.01), {}),
    "TransformReward": (lambda e: wrappers.TransformReward(e, lambda r: 2 * r), {}),
    "DtypeObservation": (lambda e: wrappers.DtypeObservation(e, np.float64), {}),
    "RescaleObservation": (lambda e: wrappers.RescaleObservation(e, np.float32(-1), np.float32(1)), {}),
    "ReshapeObservation": (lambda e: wrappers.ReshapeObservation(e, (3, 5)), {}),
    "FilterObservation": (lambda e: wrappers.FilterObservation(e, ["vector"]), {"observation": "both"}),
    "GrayscaleObservation": (wrappers.GrayscaleObservation, {"observation": "image"}),
    "DelayObservation": (lambda e: wrappers.DelayObservation(e, 2), {}),
    # It asks for a TimeLimit (or a spec's max_episode_steps) to know the episodes' length.
    "TimeAwareObservation": (lambda e: wrappers.TimeAwareObservation(wrappers.TimeLimit(e, 20)), {}),
    "MaxAndSkipObservation": (lambda e: wrappers.MaxAndSkipObservation(e, 2), {}),
    "StickyAction": (lambda e: wrappers.StickyAction(e, 0.5), {}),
    "AddRenderObservation": (wrappers.AddRenderObservation, {"render_mode": "rgb_array"}),
    "RenderCollection": (wrappers.RenderCollection, {"render_mode": "rgb_array"}),
    "Monitor": (Monitor, {}),
}


@pytest.mark.parametrize("name", SINGLE_WRAPPERS)
def test_every_single_wrapper_on_navigation_env(name):
    wrap, options = SINGLE_WRAPPERS[name]
    env = wrap(gymnasium.make(ENV_ID, **{**SHORT, **options}))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ends = 0
        for observation, reward, terminated, truncated, info in driven(env, 120):
            assert env.observation_space.contains(observation)
            assert np.isfinite(reward)
            if "robosim_episode" in info:  # ours, beside the wrappers' own keys
                ends += 1
                assert info["is_success"] == info["robosim_episode"]["success"] == terminated
        if name != "TimeLimit":  # which cuts every episode before ours end
            assert ends >= 2
    env.close()


@pytest.mark.parametrize("wrapper", ["gymnasium", "sb3"])
def test_the_wrappers_statistics_stand_beside_ours(wrapper):
    if wrapper == "gymnasium":
        env = wrappers.RecordEpisodeStatistics(NavigationEnv(**SHORT))
    else:
        env = Monitor(NavigationEnv(**SHORT), info_keywords=("is_success",))
    ends = 0
    for *_, terminated, truncated, info in driven(env, 100):
        if terminated or truncated:
            ends += 1
            ours, theirs = info["robosim_episode"], info["episode"]
            # Monitor rounds the return to six decimals.
            assert theirs["r"] == pytest.approx(ours["r"], abs=1e-6) and theirs["l"] == ours["l"]
    assert ends >= 2
    env.close()


def vector_of(kind, n=3, **options):
    options = {**SHORT, **options}
    if kind == "VectorNavigationEnv":
        return VectorNavigationEnv(n, **options)
    return gymnasium.vector.SyncVectorEnv([lambda: NavigationEnv(**options)] * n)


VECTOR_WRAPPERS = {
    "RecordEpisodeStatistics": (vector_wrappers.RecordEpisodeStatistics, {}),
    "DictInfoToList": (vector_wrappers.DictInfoToList, {}),
    "NormalizeObservation": (vector_wrappers.NormalizeObservation, {}),
    "NormalizeReward": (vector_wrappers.NormalizeReward, {}),
    "ClipAction": (vector_wrappers.ClipAction, {}),
    "RescaleAction": (lambda e: vector_wrappers.RescaleAction(e, np.float32(-1), np.float32(1)), {}),
    "FlattenObservation": (vector_wrappers.FlattenObservation, {"observation": "both"}),
    "FilterObservation": (lambda e: vector_wrappers.FilterObservation(e, ["vector"]),
                          {"observation": "both"}),
    "ClipReward": (lambda e: vector_wrappers.ClipReward(e, -0.01, 0.01), {}),
    "DtypeObservation": (lambda e: vector_wrappers.DtypeObservation(e, np.float64), {}),
    "RescaleObservation": (lambda e: vector_wrappers.RescaleObservation(e, np.float32(-1), np.float32(1)), {}),
    "GrayscaleObservation": (vector_wrappers.GrayscaleObservation, {"observation": "image"}),
}


@pytest.mark.parametrize("kind", ["VectorNavigationEnv", "SyncVectorEnv"])
@pytest.mark.parametrize("name", VECTOR_WRAPPERS)
def test_every_vector_wrapper_on_both_vector_envs(name, kind):
    wrap, options = VECTOR_WRAPPERS[name]
    env = wrap(vector_of(kind, **options))
    ends = 0
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for observations, rewards, terminated, truncated, infos in driven(env, 80):
            # Gymnasium's vector NormalizeObservation keeps the space of the raw values.
            assert name == "NormalizeObservation" or env.observation_space.contains(observations)
            assert np.isfinite(rewards).all()
            ends += int(np.sum(terminated | truncated))
            if name == "DictInfoToList":
                assert isinstance(infos, list) and len(infos) == 3
                for k, info in enumerate(infos):
                    assert ("robosim_episode" in info) == bool(terminated[k] or truncated[k])
    assert ends >= 3
    env.close()


def test_vector_episode_statistics_of_the_wrapper_and_ours_agree():
    env = vector_wrappers.RecordEpisodeStatistics(VectorNavigationEnv(4, **SHORT))
    compared = 0
    for *_, infos in driven(env, 100):
        if "episode" in infos:
            mask = infos["_episode"]
            assert (mask == infos["_robosim_episode"]).all()
            ours, theirs = infos["robosim_episode"], infos["episode"]
            assert np.allclose(theirs["r"][mask], ours["r"][mask])
            assert (theirs["l"][mask] == ours["l"][mask]).all()
            compared += int(mask.sum())
    assert compared >= 4
    env.close()


def test_sb3_vec_monitor_over_dummy_vec_env():
    venv = VecMonitor(DummyVecEnv([lambda: NavigationEnv(**SHORT)] * 2), info_keywords=("is_success",))
    venv.seed(5)
    venv.reset()
    ends = 0
    for _ in range(60):
        _, _, dones, infos = venv.step(np.zeros((2, 2)))
        for done, info in zip(dones, infos):
            if done:
                ends += 1
                assert info["episode"]["l"] == info["robosim_episode"]["l"]
                assert "terminal_observation" in info and "is_success" in info
    assert ends >= 2
    venv.close()


def equivalent(a, b):
    """The same types, dtypes, shapes and values, through dicts."""
    if isinstance(a, dict):
        return isinstance(b, dict) and a.keys() == b.keys() and all(equivalent(a[k], b[k]) for k in a)
    if isinstance(a, np.ndarray):
        return isinstance(b, np.ndarray) and a.dtype == b.dtype and np.array_equal(a, b)
    return type(a) is type(b) and a == b


@pytest.mark.parametrize("mode", ["sync", "async"])
@pytest.mark.parametrize("options", [{}, {"observation": "both", "action_scale": "normalized"}],
                         ids=["vector", "both"])
def test_make_vec_is_vector_navigation_env_step_for_step(mode, options):
    settings = {**SHORT, **options}
    theirs = gymnasium.make_vec(ENV_ID, num_envs=3, vectorization_mode=mode, **settings)
    ours = VectorNavigationEnv(3, **settings)
    results = [env.reset(seed=11) for env in (theirs, ours)]
    assert equivalent(*results[0][:1], *results[1][:1]) and equivalent(results[0][1], results[1][1])
    ours.action_space.seed(2)
    ends = 0
    for step in range(70):
        actions = ours.action_space.sample()
        mine, other = ours.step(actions), theirs.step(actions)
        for part, (a, b) in enumerate(zip(mine, other)):
            assert equivalent(a, b), (step, part, a, b)
        ends += int(np.sum(mine[2] | mine[3]))
    assert ends >= 3
    theirs.close()
    ours.close()
