"""robosim.env.NavigationEnv: episodes, actions, observation, reward, rendering, and
environments side by side."""

import math
import multiprocessing

import numpy as np
import pytest

import robosim
from conftest import WORLDS
from env_worker import run_episode
from robosim.env import ACTION_RANGES, NavigationEnv


@pytest.fixture
def env():
    environment = NavigationEnv(max_ticks=1000)
    yield environment
    environment.close()


def test_the_same_seed_gives_the_same_episode_bit_for_bit():
    # The check an environment checker makes: reset with a seed twice, the same
    # actions, the same observations and rewards to the last bit.
    first = run_episode(21, world=WORLDS / "maze.dat")
    assert run_episode(21, world=WORLDS / "maze.dat") == first
    assert run_episode(22, world=WORLDS / "maze.dat") != first
    assert len(first) > 100


def test_reset_without_a_seed_continues_the_seeded_sequence(env):
    env.reset(seed=5)
    seeds = [env.reset()[1]["seed"] for _ in range(3)]
    env.reset(seed=5)
    assert [env.reset()[1]["seed"] for _ in range(3)] == seeds
    assert len(set(seeds)) == 3


def test_an_episode_is_the_simulation_of_its_seed(env):
    observation, info = env.reset(seed=77)
    env.step((0.03, 0.0))
    robot = env.simulation.robot
    env.close()
    with robosim.Simulation(seed=77, manual=True) as sim:
        sim.drive(0.03, 0.0)
        sim.step(1)
        assert (sim.robot.x, sim.robot.y, sim.robot.heading) == (robot.x, robot.y, robot.heading)


def test_observation(env):
    observation, _ = env.reset(seed=3)
    assert observation.dtype == np.float32 and observation.shape == (15,)
    assert env.observation_space.contains(observation)
    sim = env.simulation
    r = sim.robot
    np.testing.assert_array_equal(observation[:6], np.float32(r.sensor_value))
    np.testing.assert_array_equal(observation[6:12], np.float32(r.sensor_hit))
    tx, ty = sim.target
    assert observation[12] == pytest.approx(math.hypot(tx - r.x, ty - r.y), rel=1e-6)
    bearing = math.remainder(math.atan2(ty - r.y, tx - r.x) - r.heading, 2 * math.pi)
    assert observation[13] == pytest.approx(bearing, abs=1e-6)
    field = math.remainder(r.grad_angle - r.heading, 2 * math.pi)
    assert observation[14] == pytest.approx(field, abs=1e-6)
    for _ in range(300):
        observation, *_ = env.step(env.action_space.sample())
        assert env.observation_space.contains(observation)


def test_actions_are_clipped_to_the_chosen_range(env):
    env.reset(seed=1)
    env.step((1.0, -1.0))
    assert (env.simulation.robot.speed, env.simulation.robot.turn) == (0.03, -0.03)
    env.reset(seed=1, options={"action_scale": "automatic"})
    env.step(np.array([1.0, 1.0]))
    assert (env.simulation.robot.speed, env.simulation.robot.turn) == (0.05, 0.3)
    env.step([-1.0, 0.1])
    assert (env.simulation.robot.speed, env.simulation.robot.turn) == (0.0, 0.1)
    assert tuple(env.action_space.high) == ACTION_RANGES["automatic"][1]
    env.reset(seed=1)  # the range stays until changed
    assert env.action_scale == "automatic"
    with pytest.raises(ValueError, match="action_scale"):
        env.reset(options={"action_scale": "huge"})
    with pytest.raises(ValueError, match="unknown"):
        env.reset(options={"speed": 1})


def test_bad_actions_are_refused(env):
    env.reset(seed=1)
    tick = env.simulation.tick
    for action in ((math.nan, 0.0), (0.0, math.inf)):
        with pytest.raises(ValueError, match="finite"):
            env.step(action)
    assert env.simulation.tick == tick


def test_frame_skip_and_truncation():
    env = NavigationEnv(max_ticks=5, frame_skip=2)
    try:
        env.reset(seed=8)
        results = [env.step((0.0, 0.0)) for _ in range(3)]
        assert [r[4]["tick"] for r in results] == [2, 4, 6]
        assert [r[3] for r in results] == [False, False, True]
        assert not any(r[2] for r in results)
    finally:
        env.close()


def test_reaching_the_target_terminates_with_the_bonus(env):
    env.reset(seed=2)
    sim = env.simulation
    sim.set_pose(5, 5, 0)
    sim.target = (5.4, 5)
    observation, reward, terminated, truncated, info = env.step((0.03, 0.0))
    assert not terminated
    assert reward == pytest.approx(0.03)
    for _ in range(3):
        observation, reward, terminated, truncated, info = env.step((0.03, 0.0))
    assert terminated and not truncated
    assert observation[12] < 0.3
    assert reward == pytest.approx(0.03 + NavigationEnv.TARGET_BONUS)


def test_contacts_are_penalised(env):
    env.reset(seed=2)
    sim = env.simulation
    sim.set_pose(0.3, 5, math.pi)  # against the left wall, facing it
    sim.target = (9, 5)
    _, reward, _, _, info = env.step((0.03, 0.0))
    assert info["contacts"] == 1
    assert reward < 0


def test_a_subclass_sets_its_own_reward():
    class Patient(NavigationEnv):
        def reward(self, progress, reached, contacts):
            return -1.0

    env = Patient()
    try:
        env.reset(seed=1)
        assert env.step((0.0, 0.0))[1] == -1.0
    finally:
        env.close()


def test_render_modes():
    env = NavigationEnv(render_mode="rgb_array")
    try:
        env.reset(seed=6)
        frame = env.render()
        assert frame.shape == (480, 640, 3)
        assert np.array_equal(frame, env.simulation.render())
    finally:
        env.close()
    env = NavigationEnv()
    try:
        env.reset(seed=6)
        assert env.render() is None
    finally:
        env.close()
    with pytest.raises(ValueError, match="render_mode"):
        NavigationEnv(render_mode="human")


@pytest.mark.parametrize(
    "options, error",
    [({"max_ticks": 0}, ValueError), ({"frame_skip": 1.5}, TypeError),
     ({"frame_skip": 0}, ValueError), ({"world": WORLDS / "missing.dat"}, OSError)],
)
def test_bad_options(options, error):
    with pytest.raises(error):
        NavigationEnv(**options)


def test_environments_side_by_side_run_as_each_runs_alone(env):
    # A training and an evaluation environment, and a notebook cell run again.
    alone = [run_episode(seed, 300) for seed in (31, 32)]
    first, second = NavigationEnv(max_ticks=300), NavigationEnv(max_ticks=300)
    again = NavigationEnv(max_ticks=300)
    records = [[], []]
    actions = [np.random.default_rng(31), np.random.default_rng(32)]
    for k, e in enumerate((first, second)):
        observation, info = e.reset(seed=31 + k)
        records[k].append((observation.tobytes(), info["seed"]))
    done = [False, False]
    while not all(done):
        for k, e in enumerate((first, second)):
            if done[k]:
                continue
            action = actions[k].uniform(e.action_space.low, e.action_space.high)
            observation, reward, terminated, truncated, info = e.step(action)
            records[k].append((observation.tobytes(), reward, terminated, truncated, info["tick"]))
            done[k] = terminated or truncated
    assert records == alone
    for e in (first, second, again):
        e.close()


def test_spaces_without_gymnasium():
    from robosim.env import Box

    box = Box([0.0, -1.0], [1.0, 1.0], np.float64, seed=3)
    samples = [box.sample() for _ in range(100)]
    assert all(box.contains(s) for s in samples)
    assert not box.contains(np.array([2.0, 0.0]))
    assert not box.contains(np.array([0.5]))
    assert box.shape == (2,) and box.dtype == np.float64


def test_two_environments_in_two_processes_match_each_run_alone():
    alone = [run_episode(seed, 300) for seed in (31, 32)]
    context = multiprocessing.get_context("spawn")
    with context.Pool(2) as pool:
        together = pool.starmap(run_episode, [(31, 300), (32, 300)])
    assert together == alone
    assert alone[0] != alone[1]
