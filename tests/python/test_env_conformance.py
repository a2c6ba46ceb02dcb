"""NavigationEnv against what Gymnasium's environment checker and API documentation ask
of an environment, in every mode: the spaces and their dtypes, seeding, determinism
over 1,000 steps, reset after termination and after truncation, the return types,
render and close. The checks are made here without Gymnasium; where it can be
imported, its own checker and make() run too. Then the stand-in spaces against
Gymnasium's rules (and Gymnasium's spaces themselves, where it can be imported)."""

import copy
import inspect
import math
import warnings

import numpy as np
import pytest

import robosim.env as env_module
from conftest import WORLDS
from robosim.env import ENV_ID, NavigationEnv, make
from robosim.spaces import Box, Dict, Space, np_random

try:
    import gymnasium
except ImportError:
    gymnasium = None

MODES = [
    {},
    {"world": WORLDS / "maze.dat", "frame_skip": 3, "max_ticks": 400},
    {"action_scale": "normalized", "observation": "image", "image_size": (40, 24)},
    {"action_scale": "normalized-automatic", "observation": "both", "render_mode": "rgb_array"},
    {"action_scale": "automatic", "render_mode": "rgb_array", "max_ticks": 90, "frame_skip": 7},
]
MODE_IDS = ["default", "maze, frame skip", "image, normalized", "both, normalized automatic",
            "automatic, render"]


def spaces_of_gymnasium_or_ours():
    if gymnasium is not None:
        return gymnasium.spaces.Space, gymnasium.spaces.Box, gymnasium.spaces.Dict
    return Space, Box, Dict


def equivalent(a, b):
    """Gymnasium's data_equivalence, exact: the same types, dtypes, shapes and values."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(equivalent(a[k], b[k]) for k in a)
    if isinstance(a, (tuple, list)):
        return len(a) == len(b) and all(equivalent(x, y) for x, y in zip(a, b))
    if isinstance(a, np.ndarray):
        return a.shape == b.shape and a.dtype == b.dtype and np.array_equal(a, b, equal_nan=True)
    return a == b or (isinstance(a, float) and math.isnan(a) and math.isnan(b))


def check_observation(env, observation):
    space_type, box_type, dict_type = spaces_of_gymnasium_or_ours()
    space = env.observation_space
    assert isinstance(space, space_type)
    assert space.contains(observation)
    if isinstance(space, dict_type):
        assert isinstance(observation, dict) and list(observation) == ["image", "vector"]
        parts = [(space["image"], observation["image"]), (space["vector"], observation["vector"])]
    else:
        parts = [(space, observation)]
    for part_space, part in parts:
        assert isinstance(part_space, box_type)
        assert isinstance(part, np.ndarray) and part.dtype == part_space.dtype
        assert part.shape == part_space.shape
        assert not np.any(np.isnan(part)) if part.dtype.kind == "f" else True
        if part.ndim == 3:  # an image: uint8 0 ... 255, H x W x 3
            assert part.dtype == np.uint8 and part.shape[2] == 3
            assert np.all(part_space.low == 0) and np.all(part_space.high == 255)


def check_step_result(env, result):
    assert isinstance(result, tuple) and len(result) == 5
    observation, reward, terminated, truncated, info = result
    check_observation(env, observation)
    assert isinstance(reward, (float, np.floating)) and not math.isnan(reward)
    assert isinstance(terminated, (bool, np.bool_)) and isinstance(truncated, (bool, np.bool_))
    assert isinstance(info, dict)
    return result


@pytest.fixture(params=MODES, ids=MODE_IDS)
def mode(request):
    return request.param


def test_spaces_and_dtypes(mode):
    space_type, box_type, _ = spaces_of_gymnasium_or_ours()
    with NavigationEnv(**mode) as env:
        assert isinstance(env.action_space, box_type) and env.action_space.dtype == np.float32
        assert env.action_space.shape == (2,) and env.action_space.is_bounded("both")
        assert np.all(env.action_space.low < env.action_space.high)
        observation, info = env.reset(seed=1)
        assert isinstance(info, dict)
        check_observation(env, observation)
        for _ in range(50):
            action = env.action_space.sample()
            assert env.action_space.contains(action)
            check_step_result(env, env.step(action))


def test_seeding_as_the_checker_checks_it(mode):
    with NavigationEnv(**mode) as env:
        signature = inspect.signature(env.reset)
        assert signature.parameters["seed"].default is None
        assert not callable(getattr(env, "seed", None))  # the dropped seed() method
        first, _ = env.reset(seed=123)
        rng_after_123 = copy.deepcopy(env.unwrapped._np_random)
        assert env.np_random_seed == 123
        second, _ = env.reset()
        again, _ = env.reset(seed=123)
        assert equivalent(first, again)
        assert env.unwrapped._np_random.bit_generator.state == rng_after_123.bit_generator.state
        env.reset(seed=456)
        assert env.unwrapped._np_random.bit_generator.state != rng_after_123.bit_generator.state
        assert env.reset(options={})[1]["tick"] == 0


def run(mode, seed, steps):
    """Every result of `steps` steps from reset(seed), with actions sampled from the
    action space seeded alike, resetting whenever an episode ends."""
    record = []
    with NavigationEnv(**mode) as env:
        env.action_space.seed(seed)
        record.append(env.reset(seed=seed))
        for _ in range(steps):
            result = env.step(env.action_space.sample())
            record.append(result)
            if result[2] or result[3]:
                record.append(env.reset())
    return record


def test_determinism_over_1000_steps(mode):
    first = run(mode, 5, 1000)
    assert equivalent(first, run(mode, 5, 1000))
    assert not equivalent(first, run(mode, 6, 1000))


@pytest.mark.parametrize("end", ["terminated", "truncated"])
def test_reset_after_the_end_of_an_episode(mode, end):
    with NavigationEnv(**{**mode, "max_ticks": 60}) as env:
        env.reset(seed=9)
        if end == "terminated":  # the target just ahead
            env.reset(seed=9, options={"pose": (5, 5, 0), "target": (5.5, 5)})
        space = env.action_space
        ahead = np.array([space.high[0], (space.low[1] + space.high[1]) / 2], dtype=np.float32)
        result = None
        for _ in range(60):
            result = check_step_result(env, env.step(ahead))
            if result[2] or result[3]:
                break
        assert result[2] == (end == "terminated") and result[3] == (end == "truncated")
        assert set(result[4]["robosim_episode"]) == {"r", "l", "t", "success"}
        observation, info = env.reset()
        check_observation(env, observation)
        assert info["tick"] == 0 and env.simulation.tick == 0
        check_step_result(env, env.step(env.action_space.sample()))


def test_render_and_close(mode):
    env = NavigationEnv(**mode)
    modes = env.metadata["render_modes"]
    assert isinstance(modes, list) and all(isinstance(m, str) for m in modes)
    fps = env.metadata["render_fps"]
    assert isinstance(fps, (int, float)) and fps == 100 / env.frame_skip
    assert env.render_mode is None or env.render_mode in modes
    env.reset(seed=2)
    frame = env.render()
    if env.render_mode == "rgb_array":
        assert isinstance(frame, np.ndarray) and frame.dtype == np.uint8
        assert frame.ndim == 3 and frame.shape[2] == 3
    else:
        assert frame is None
    env.close()
    env.close()  # closing a closed environment is allowed


def test_the_rest_of_the_env_interface():
    env = make(ENV_ID, max_ticks=30)
    try:
        unwrapped = env.unwrapped
        assert isinstance(unwrapped, NavigationEnv) and unwrapped.unwrapped is unwrapped
        assert unwrapped.spec.id == ENV_ID and unwrapped.spec.kwargs["max_ticks"] == 30
        again = unwrapped.spec.make()
        assert isinstance(again.unwrapped, NavigationEnv) and again.unwrapped.max_ticks == 30
        again.close()
        assert env.get_wrapper_attr("max_ticks") == 30
        assert isinstance(unwrapped.np_random, np.random.Generator)
        assert str(unwrapped) == f"<NavigationEnv<{ENV_ID}>>"
    finally:
        env.close()
    with NavigationEnv() as env:
        assert env.spec is None and str(env) == "<NavigationEnv instance>"
        assert isinstance(env.np_random_seed, int)  # seeded on first use
    with pytest.raises(RuntimeError, match="closed"):
        env.step((0, 0))


@pytest.mark.skipif(gymnasium is None, reason="Gymnasium is not installed")
def test_gymnasium_own_checker_and_make(mode):  # pragma: no cover - needs Gymnasium
    from gymnasium.utils.env_checker import check_env

    env = gymnasium.make(ENV_ID, **mode)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        check_env(env.unwrapped)
    env.close()
    vector = gymnasium.make_vec(ENV_ID, num_envs=2, **mode)
    vector.reset(seed=1)
    vector.step(vector.action_space.sample())
    vector.close()


def test_without_gymnasium_the_stand_ins_are_used():
    if gymnasium is None:
        assert env_module._Base is env_module.Env
        assert type(NavigationEnv().action_space) is Box
    else:  # pragma: no cover - needs Gymnasium
        assert isinstance(NavigationEnv().action_space, gymnasium.spaces.Box)
        assert ENV_ID in gymnasium.envs.registry


# -- the stand-in spaces ---------------------------------------------------------


def box_makers():
    makers = [Box]
    if gymnasium is not None:  # pragma: no cover - needs Gymnasium
        makers.append(gymnasium.spaces.Box)
    return makers


@pytest.mark.parametrize("make_box", box_makers(), ids=lambda b: b.__module__)
def test_a_box_casts_and_compares_as_gymnasiums(make_box):
    box = make_box(np.float32(-1), np.float32(1), shape=(2,), dtype=np.float32)
    cases = [
        (np.zeros(2, dtype=np.float32), True),
        (np.zeros(2, dtype=np.float64), False),  # float64 does not cast safely to float32
        (np.zeros(2, dtype=np.int64), False),
        (np.zeros(2, dtype=np.int8), True),
        ([0.5, -0.5], True),  # not an array: converted to the box's dtype first
        ([2.0, 0.0], False),
        (np.zeros(3, dtype=np.float32), False),
        (np.zeros((2, 1), dtype=np.float32), False),
        ("ab", False),
    ]
    assert [box.contains(x) for x, _ in cases] == [expected for _, expected in cases]
    assert box == make_box(-1.0, 1.0, shape=(2,), dtype=np.float32)
    assert box != make_box(-1.0, 2.0, shape=(2,), dtype=np.float32)
    assert box != make_box(-1.0, 1.0, shape=(2,), dtype=np.float64)
    assert repr(box) == "Box(-1.0, 1.0, (2,), float32)"
    assert box.bounded_below.all() and box.bounded_above.all() and box.is_bounded()
    half = make_box(np.array([0.0, -np.inf]), np.array([1.0, np.inf]), dtype=np.float64)
    assert list(half.bounded_below) == [True, False] and not half.is_bounded("below")
    assert isinstance(box.seed(None), int) and isinstance(box.np_random, np.random.Generator)
    with pytest.raises(ValueError):
        make_box([0.0], [1.0])  # lists need a shape


@pytest.mark.parametrize("make_box", box_makers(), ids=lambda b: b.__module__)
def test_a_box_samples_as_gymnasiums(make_box):
    box = make_box(np.array([0.0, -3.0]), np.array([1.0, 3.0]), dtype=np.float32)
    box.seed(11)
    samples = [box.sample() for _ in range(5)]
    rng = np.random.Generator(np.random.PCG64(np.random.SeedSequence(11)))
    expected = [rng.uniform(box.low, box.high.astype(np.float64), 2).astype(np.float32)
                for _ in range(5)]
    assert all(np.array_equal(a, b) for a, b in zip(samples, expected))
    image = make_box(0, 255, shape=(4, 4, 3), dtype=np.uint8)
    pixels = image.sample()
    assert pixels.dtype == np.uint8 and image.contains(pixels)
    unbounded = make_box(-np.inf, np.inf, shape=(3,), dtype=np.float64)
    assert unbounded.contains(unbounded.sample())


def test_stand_in_dict_and_seeding():
    spaces = {"vector": Box(-1.0, 1.0, shape=(2,)), "image": Box(0, 255, (2, 2, 3), np.uint8)}
    d = Dict(spaces, seed=4)
    assert list(d) == ["image", "vector"] and d["vector"] is spaces["vector"]
    sample = d.sample()
    assert d.contains(sample) and sample in d
    assert not d.contains({"vector": sample["vector"]})
    assert d == Dict(dict(spaces)) and d != Dict({"vector": spaces["vector"]})
    seeds = Dict(spaces).seed(None)
    assert set(seeds) == {"image", "vector"} and all(isinstance(s, int) for s in seeds.values())
    assert Dict(spaces, seed=4).sample()["vector"].tobytes() == sample["vector"].tobytes()
    rng, seed = np_random(5)
    assert seed == 5 and rng.random() == np.random.default_rng(5).random()
    for bad in (-1, 1.5, True):
        with pytest.raises((TypeError, ValueError)):
            np_random(bad)
