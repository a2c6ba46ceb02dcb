"""robosim.env.NavigationEnv: episodes, actions, observation, reward, rendering, and
environments side by side."""

import math
import multiprocessing

import numpy as np
import pytest

import robosim
from conftest import WORLDS
from env_worker import run_episode
from robosim.env import ACTION_RANGES, EPISODE_SEEDS, NavigationEnv, simulation_seed


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
    with robosim.Simulation(seed=simulation_seed(77), manual=True) as sim:
        sim.drive(0.03, 0.0)
        sim.step(1)
        assert (sim.robot.x, sim.robot.y, sim.robot.heading) == (robot.x, robot.y, robot.heading)


def test_different_seeds_give_different_episodes():
    # The simulation's generator takes 0 as 1, as the C library's does; the
    # episodes' seeds are shifted past it.
    assert [simulation_seed(s) for s in (0, 1, EPISODE_SEEDS - 1)] == [1, 2, 2**32 - 1]
    for bad, error in ((EPISODE_SEEDS, ValueError), (-1, ValueError), (1.5, TypeError)):
        with pytest.raises(error):
            simulation_seed(bad)
    with NavigationEnv() as env:
        starts = {env.reset(seed=seed)[0].tobytes() for seed in (0, 1, 2, 3)}
        assert len(starts) == 4


def test_the_automatic_driver_is_the_simulation_in_automatic_mode():
    with NavigationEnv(driver="automatic", max_ticks=4000, frame_skip=10) as env:
        # The same episodes as a policy's: the same first observation for a seed.
        start = env.reset(seed=4)[0]
        with NavigationEnv() as driven:
            assert driven.reset(seed=4)[0].tobytes() == start.tobytes()
        # Then the automatic mode drives, as the window's M key hands it over.
        with robosim.Simulation(seed=simulation_seed(4), manual=True) as sim:
            sim.manual = False
            info, steps = {}, 0
            while "robosim_episode" not in info:
                # The action is not used: anything in the space will do.
                _, _, terminated, _, info = env.step(env.action_space.sample())
                steps += 1
                sim.step(min(10, env.simulation.tick - sim.tick))
                robot = env.simulation.robot
                assert (sim.robot.x, sim.robot.y) == (robot.x, robot.y), steps
        assert terminated and info["is_success"]  # the planner finds the default target
        # The option changes the driver for this and the following episodes.
        env.reset(seed=4, options={"driver": "action"})
        assert env.simulation.manual and env.driver == "action"
        with pytest.raises(ValueError, match="driver"):
            env.reset(options={"driver": "planner"})
    with pytest.raises(ValueError, match="driver"):
        NavigationEnv(driver="autopilot")


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
    assert env.action_space.dtype == np.float32
    assert np.array_equal(env.action_space.high, np.float32(ACTION_RANGES["automatic"][1]))
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


def test_frame_skip_and_truncation_exactly_at_max_ticks():
    env = NavigationEnv(max_ticks=5, frame_skip=2)
    try:
        env.reset(seed=8)
        results = [env.step((0.0, 0.0)) for _ in range(3)]
        assert [r[4]["tick"] for r in results] == [2, 4, 5]  # the last step is shorter
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

    box = Box(np.array([0.0, -1.0]), np.array([1.0, 1.0]), dtype=np.float64, seed=3)
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


# -- what a Gymnasium user expects -------------------------------------------


@pytest.mark.parametrize("world", [WORLDS / "maze.dat", WORLDS / "pillars.dat", None])
def test_the_first_observation_is_that_of_the_loaded_world(world):
    # What the first tick reads at the start pose: a zero action does not move the
    # robot, so its readings must be those of the first observation.
    for seed in range(20):
        env = NavigationEnv(world=world)
        first, _ = env.reset(seed=seed)
        after, *_ = env.step((0.0, 0.0))
        env.close()
        assert first[:12].tobytes() == after[:12].tobytes(), seed
        assert first[14] == after[14], seed


def test_a_simulation_reads_its_world_before_its_first_tick_and_keeps_its_future(tmp_path):
    with robosim.Simulation(seed=4, world=WORLDS / "maze.dat", manual=True) as sim:
        read = sim.robot
        twin = sim.copy()
        sim.step(1)  # manual mode, no key: the robot stays, the readings stay
        assert (read.sensor_value, read.sensor_hit, read.grad_angle) == (
            sim.robot.sensor_value, sim.robot.sensor_hit, sim.robot.grad_angle)
        assert any(v != 0 for v in read.sensor_value)
        sim.set_pose(1.0, 5.0, math.pi)  # facing the left wall
        placed = sim.robot
        ticked = sim.copy()
        ticked.step(1)
        assert placed.sensor_value == ticked.robot.sensor_value != read.sensor_value
        assert placed.sensor_value[1] > 1 and placed.vision_seen[1]
        ticked.close()
        # Reading fresh values changed nothing: a twin that never read them runs alike.
        sim.step(300)
        twin.step(1)
        twin.set_pose(1.0, 5.0, math.pi)
        twin.step(300)
        assert (sim.robot.x, sim.robot.y, sim.impacts.tolist()) == (
            twin.robot.x, twin.robot.y, twin.impacts.tolist())
        twin.close()


def test_changing_the_action_scale_keeps_the_seeded_samples(env):
    env.action_space.seed(7)
    space = env.action_space
    expected = np.random.default_rng(7).uniform(size=(3, 2))
    first = env.action_space.sample()
    env.reset(seed=1, options={"action_scale": "automatic"})
    assert env.action_space is not space
    second = env.action_space.sample()
    env.reset(options={"action_scale": "automatic"})  # the same scale keeps the space
    third = env.action_space.sample()
    for sample, u, (low, high) in zip((first, second, third), expected,
                                      [ACTION_RANGES["manual"]] + [ACTION_RANGES["automatic"]] * 2):
        low, high = np.float32(low), np.float32(high)
        np.testing.assert_array_equal(sample, (low + u * (high.astype(float) - low)).astype(np.float32))


@pytest.mark.parametrize(
    "action, error",
    [(np.zeros((2, 1)), ValueError), (np.zeros((1, 2)), ValueError), ((True, False), TypeError),
     (np.array([True, False]), TypeError), ([np.bool_(True), 0.0], TypeError), ("ab", TypeError),
     ((0.0, "1"), TypeError), ((1.0,), ValueError), (np.array([1 + 2j, 0]), TypeError),
     ((10**400, 0), ValueError), ((math.nan, 0.0), ValueError)],
)
def test_actions_that_are_not_two_real_numbers_are_refused(env, action, error):
    env.reset(seed=1)
    with pytest.raises(error):
        env.step(action)
    assert env.simulation.tick == 0


def test_accepted_actions_and_large_seeds(env):
    env.reset(seed=1)
    for action in (np.array([0.01, 0.0], dtype=np.float32), [0, 0], np.array([1, -1]),
                   np.array([0.01, 0.0])[::-1], (np.float64(0.01), 0)):
        env.step(action)
    assert env.simulation.tick == 5
    big = env.reset(seed=2**32)[1]["seed"]
    assert env.reset(seed=2**32)[1]["seed"] == big and env.np_random_seed == 2**32
    assert env.reset(seed=2**70)[1]["seed"] != big
    with pytest.raises(ValueError):
        env.reset(seed=-1)
    with pytest.raises(TypeError):
        env.reset(seed=1.0)


def test_episode_statistics_as_the_wrapper_writes_them():
    with NavigationEnv(max_ticks=100, frame_skip=3) as env:
        for seed, options in ((3, None), (3, {"pose": (5, 5, 0), "target": (5.6, 5)})):
            env.reset(seed=seed, options=options)
            rewards, info = [], {}
            while "robosim_episode" not in info:
                _, reward, terminated, truncated, info = env.step((0.03, 0.0))
                rewards.append(reward)
            assert terminated or truncated
            # Under a key of our own beside "episode", which the standard wrappers write.
            assert "episode" not in info and info["is_success"] == terminated
            assert info["robosim_episode"] == {"r": sum(rewards), "l": len(rewards),
                                               "t": env.simulation.tick / 100,
                                               "success": terminated}
        assert terminated and not truncated  # the second episode reached its target


def test_reset_options_for_curricula():
    with NavigationEnv() as env:
        observation, _ = env.reset(seed=2, options={"world": WORLDS / "maze.dat",
                                                    "pose": (5.0, 5.0, 0.5), "target": (8, 2)})
        sim = env.simulation
        assert (sim.robot.x, sim.robot.y, sim.robot.heading, sim.target) == (5, 5, 0.5, (8, 2))
        walls = len(sim.walls)
        assert walls > 4 and len(sim.waypoints) > 0  # planned for the placement
        assert observation[12] == pytest.approx(math.hypot(3, 3))
        env.reset(seed=2)  # the world stays, the placement does not
        assert len(env.simulation.walls) == walls and env.simulation.robot.x != 5
        env.reset(seed=2, options={"world": None})
        assert len(env.simulation.walls) == 4


@pytest.mark.parametrize(
    "options",
    [{"world": WORLDS / "missing.dat"}, {"world": 5}, {"pose": (0.1, 5, 0)}, {"pose": (1, 2)},
     {"pose": (5, 5, math.nan)}, {"target": (11, 5)}, {"target": "xy"},
     {"pose": (5, 5, 0), "target": (5.1, 5)}, {"action_scale": "huge"}, {"speed": 1},
     {"world": WORLDS, "pose": (5, 5, 0)}],
)
def test_an_option_that_cannot_be_taken_changes_nothing(options):
    with NavigationEnv() as env, NavigationEnv() as twin:
        env.reset(seed=8)
        twin.reset(seed=8)
        before = (env.simulation, env.action_space, env.world, env.action_scale)
        with pytest.raises(ValueError):
            env.reset(options=options)
        assert (env.simulation, env.action_space, env.world, env.action_scale) == before
        assert not env.simulation.closed
        # The seeds go on as if the failed reset had not been asked for.
        assert env.reset()[1]["seed"] == twin.reset()[1]["seed"]


@pytest.mark.parametrize(
    "scale, action, command",
    [("normalized", (1.0, -1.0), (0.03, -0.03)), ("normalized", (0.5, 0.0), (0.015, 0.0)),
     ("normalized", (7.0, -7.0), (0.03, -0.03)),
     ("normalized-automatic", (-1.0, 1.0), (0.0, 0.3)),
     ("normalized-automatic", (0.0, -0.5), (0.025, -0.15))],
)
def test_normalized_actions_are_scaled_onto_the_range(scale, action, command):
    with NavigationEnv(action_scale=scale) as env:
        assert (tuple(env.action_space.low), tuple(env.action_space.high)) == ((-1, -1), (1, 1))
        env.reset(seed=1)
        env.step(action)
        robot = env.simulation.robot
        assert (robot.speed, robot.turn) == pytest.approx(command, abs=1e-15)


def test_image_observations_are_the_windows_top_view():
    with NavigationEnv(world=WORLDS / "maze.dat", observation="both", image_size=(48, 32)) as env:
        observation, _ = env.reset(seed=5)
        for _ in range(100):
            observation, *_ = env.step((0.03, 0.01))
        image = observation["image"]
        assert image.shape == (32, 48, 3) and image.dtype == np.uint8
        assert np.array_equal(image, env.simulation.render(48, 32))
        assert len(np.unique(image.reshape(-1, 3), axis=0)) >= 3  # walls, robot, ground
        assert observation["vector"].shape == (15,)
    with pytest.raises(ValueError):
        NavigationEnv(observation="pixels")
    with pytest.raises(ValueError):
        NavigationEnv(image_size=(0, 10))


def test_render_fps_follows_frame_skip():
    assert NavigationEnv(frame_skip=1).metadata["render_fps"] == 100
    assert NavigationEnv(frame_skip=4).metadata["render_fps"] == 25
    assert NavigationEnv(frame_skip=3).metadata["render_fps"] == pytest.approx(100 / 3)
    assert NavigationEnv.metadata["render_fps"] == 100


@pytest.mark.parametrize("duplicate", [lambda e: __import__("copy").deepcopy(e),
                                       lambda e: __import__("pickle").loads(
                                           __import__("pickle").dumps(e))])
def test_a_copied_environment_goes_on_alike_mid_episode(duplicate):
    with NavigationEnv(max_ticks=200, observation="both", action_scale="normalized") as env:
        env.reset(seed=12)
        for _ in range(50):
            env.step((1.0, 0.2))
        other = duplicate(env)
        assert other.simulation is not env.simulation
        for _ in range(200):
            mine, theirs = env.step((1.0, -0.1)), other.step((1.0, -0.1))
            assert mine[1:] == theirs[1:]
            assert mine[0]["vector"].tobytes() == theirs[0]["vector"].tobytes()
            if mine[3]:
                break
        assert mine[4]["robosim_episode"]["l"] == 200
        other.close()


def test_a_custom_reward_is_the_one_counted():
    class Counting(NavigationEnv):
        def reward(self, progress, reached, contacts):
            return 2.0

    with Counting(max_ticks=10) as env:
        env.reset(seed=1)
        info = {}
        while "robosim_episode" not in info:
            _, reward, _, _, info = env.step((0.0, 0.0))
            assert reward == 2.0
        assert info["robosim_episode"]["r"] == 20.0


def test_robosim_sb3_says_what_is_missing_without_stable_baselines3():
    try:
        import stable_baselines3  # noqa: F401
    except ImportError:
        with pytest.raises(ImportError, match=r"Stable-Baselines3.*pip install \.\[sb3\]"):
            import robosim.sb3  # noqa: F401
    else:  # pragma: no cover - test_sb3_vec_env.py tests it with SB3
        pytest.skip("Stable-Baselines3 is installed here")
