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


def seeds_of(infos):
    """The seeds of the environments that began an episode, -1 for the others."""
    if "seed" not in infos:
        return np.full(len(infos["tick"]), -1)
    return np.where(infos["_seed"], infos["seed"], -1)


def vector_run(num_envs, seed, steps, reset_options=None, scale=1.0, **options):
    env = VectorNavigationEnv(num_envs, **options)
    rng = np.random.default_rng(99)
    observations, infos = env.reset(seed=seed, options=reset_options)
    record = [(observations, None, None, None, seeds_of(infos), None)]
    actions = []
    for _ in range(steps):
        a = steering(observations, rng, scale)
        actions.append(a)
        observations, rewards, terminated, truncated, infos = env.step(a)
        episodes = None
        if "robosim_episode" in infos:
            episodes = (infos["_robosim_episode"], infos["robosim_episode"])
        record.append((observations, rewards, terminated, truncated, seeds_of(infos), episodes))
    env.close()
    return record, actions


def single_run(k, seed, actions, reset_options=None, **options):
    """Environment k as a NavigationEnv, reset as the vector's autoreset resets it."""
    env = NavigationEnv(**options)
    observation, info = env.reset(seed=seed, options=reset_options)
    record = [(whole(observation), None, None, None, info["seed"], None)]
    ended = False
    for a in actions:
        episode, seed = None, -1
        if ended:
            observation, info = env.reset()
            reward, terminated, truncated, ended = 0.0, False, False, False
            seed = info["seed"]
        else:
            observation, reward, terminated, truncated, info = env.step(a[k])
            ended = terminated or truncated
            episode = info.get("robosim_episode")
        record.append((whole(observation), reward, terminated, truncated, seed, episode))
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
                assert {key: stats[key][k] for key in stats if key[0] != "_"} == theirs[5], (k, t)
                assert all(stats["_" + key][k] for key in theirs[5]), (k, t)
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
    # Neighbouring seeds give different episodes (the simulation takes no seed 0).
    observations, _ = env.reset(seed=0)
    assert len({row.tobytes() for row in observations}) == 4
    # Seeds beyond the episodes' (as Gymnasium allows them) seed a generator.
    _, infos = env.reset(seed=2**32 - 3)
    assert list(infos["seed"][:2]) == [2**32 - 3, 2**32 - 2]
    assert len(set(infos["seed"])) == 4 and (infos["seed"] < 2**32 - 1).all()
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


# -- Same-step autoreset, call/get_attr/set_attr, pickling --------------------


def test_same_step_returns_the_new_episode_at_once_and_the_ended_ones_last_observation():
    """Environment k under SAME_STEP is NavigationEnv k reset as soon as it ends."""
    n, seed, options = 3, 21, {"max_ticks": 90, "frame_skip": 4}
    env = VectorNavigationEnv(n, autoreset_mode="SameStep", **options)
    assert getattr(env.metadata["autoreset_mode"], "value", "SameStep") == "SameStep"
    singles = [NavigationEnv(**options) for _ in range(n)]
    observations, _ = env.reset(seed=seed)
    for k, single in enumerate(singles):
        assert single.reset(seed=seed + k)[0].tobytes() == observations[k].tobytes()
    rng = np.random.default_rng(3)
    ended_seen = 0
    for _ in range(80):
        actions = rng.uniform(-0.03, 0.03, (n, 2))
        observations, rewards, terminated, truncated, infos = env.step(actions)
        done = terminated | truncated
        assert ("final_obs" in infos) == done.any()
        for k, single in enumerate(singles):
            mine, reward, te, tr, info = single.step(actions[k])
            assert (rewards[k], terminated[k], truncated[k]) == (reward, te, tr)
            if te or tr:
                ended_seen += 1
                assert infos["_final_obs"][k] and infos["_final_info"][k]
                assert infos["final_obs"][k].tobytes() == mine.tobytes()
                final_info = infos["final_info"]
                assert final_info["tick"][k] == info["tick"]
                stats = final_info["robosim_episode"]
                assert {key: stats[key][k] for key in info["robosim_episode"]} == (
                    info["robosim_episode"])
                assert final_info["is_success"][k] == info["is_success"]
                mine, info = single.reset()
                assert infos["seed"][k] == info["seed"] and infos["tick"][k] == 0
            elif "final_obs" in infos:
                assert not infos["_final_obs"][k] and infos["final_obs"][k] is None
            assert observations[k].tobytes() == mine.tobytes()
    assert ended_seen >= n
    env.close()
    for single in singles:
        single.close()


def test_an_autoreset_mode_that_is_not_one_is_refused():
    for bad in ("Disabled", "SameStep ", 1, 1.5):
        with pytest.raises(ValueError, match="autoreset_mode"):
            VectorNavigationEnv(2, autoreset_mode=bad)


def test_call_get_attr_and_set_attr_reach_each_environment():
    env = VectorNavigationEnv(3, max_ticks=40, render_mode="rgb_array")
    env.reset(seed=8)
    assert env.get_attr("max_ticks") == (40, 40, 40)
    assert env.get_attr("action_space")[0] == env.single_action_space
    simulations = env.get_attr("simulation")
    assert len({id(s) for s in simulations}) == 3 and simulations[1].tick == 0
    frames = env.call("render")
    assert len(frames) == 3 and frames[2].shape == (480, 640, 3)
    assert env.get_attr("np_random")[1] is not env.get_attr("np_random")[2]
    # Settings all environments share take one value.
    env.set_attr("action_scale", "normalized")
    assert env.action_scale == "normalized" and env.single_action_space.high[0] == 1
    with pytest.raises(ValueError, match="shared"):
        env.set_attr("world", [None, WORLDS / "maze.dat", None])
    env.set_attr("TARGET_BONUS", 100)
    for name in ("max_ticks", "simulation", "observation"):
        with pytest.raises(AttributeError):
            env.set_attr(name, 1)
    with pytest.raises(TypeError):
        env.set_attr("CONTACT_PENALTY", "0.1")
    # Any other attribute is each environment's own.
    env.set_attr("label", ["a", "b", "c"])
    assert env.get_attr("label") == ("a", "b", "c")
    assert env.call("label") == ("a", "b", "c")
    with pytest.raises(ValueError):
        env.set_attr("label", ["a"])
    with pytest.raises(AttributeError):
        env.get_attr("no_such_thing")
    env.close()


def test_shared_settings_set_by_set_attr_act_on_the_episodes():
    """A bonus of 100 and the normalized actions, set on a running vector env, are
    what a NavigationEnv with them gives."""
    env = VectorNavigationEnv(2, max_ticks=400)
    env.reset(seed=1)
    env.set_attr("action_scale", "normalized")
    env.set_attr("TARGET_BONUS", 100.0)
    single = NavigationEnv(max_ticks=400, action_scale="normalized")
    single.TARGET_BONUS = 100.0
    single.reset(seed=1)
    observation = single.reset(seed=1)[0]
    for _ in range(400):
        action = np.array([1.0, np.clip(observation[13] * 7, -1, 1)])
        observations, rewards, terminated, truncated, _ = env.step(np.stack([action] * 2))
        observation, reward, te, tr, _ = single.step(action)
        assert observations[0].tobytes() == observation.tobytes() and rewards[0] == reward
        if te or tr:
            break
    assert te and reward > 100, "the target was reached, with the bonus set"
    env.close()
    single.close()


@pytest.mark.parametrize("mode", ["NextStep", "SameStep"])
def test_a_pickled_or_copied_vector_env_goes_on_as_the_original(mode):
    import copy
    import pickle

    env = VectorNavigationEnv(3, max_ticks=60, frame_skip=5, autoreset_mode=mode)
    with pytest.raises(RuntimeError, match="reset"):
        pickle.loads(pickle.dumps(env)).step(np.zeros((3, 2)))
    env.reset(seed=30)
    env.set_attr("action_scale", "normalized")
    rng = np.random.default_rng(4)
    for _ in range(7):
        env.step(rng.uniform(-1, 1, (3, 2)))
    twins = [pickle.loads(pickle.dumps(env)), copy.deepcopy(env)]
    for _ in range(30):  # several episodes end and begin on the way
        actions = rng.uniform(-1, 1, (3, 2))
        expected = env.step(actions)
        for twin in twins:
            got = twin.step(actions)
            for mine, theirs in zip(expected[:4], got[:4]):
                assert mine.tobytes() == theirs.tobytes()
            assert list(seeds_of(got[4])) == list(seeds_of(expected[4]))
    for e in [env, *twins]:
        e.close()


# -- Hostile uses -------------------------------------------------------------


def test_a_step_whose_new_episode_cannot_begin_moves_no_environment(tmp_path):
    """The world file of the next episodes is gone when they are made (next step:
    at the step after the end; same step: ahead, at the first step of the episode
    before): the step fails before any environment moved, and goes on once the
    file is back."""
    world = tmp_path / "w.dat"
    world.write_bytes((WORLDS / "pillars.dat").read_bytes())
    for mode in ("NextStep", "SameStep"):
        env = VectorNavigationEnv(8, world=world, max_ticks=30, frame_skip=10, autoreset_mode=mode)
        env.reset(seed=1)
        if mode == "NextStep":
            for tick in (10, 20, 30):  # every episode ends at tick 30
                *_, infos = env.step(np.zeros((8, 2)))
                assert (infos["tick"] == tick).all()
        world.rename(tmp_path / "away.dat")
        with pytest.raises(FileNotFoundError):
            env.step(np.zeros((8, 2)))
        (tmp_path / "away.dat").rename(world)
        observations, rewards, terminated, truncated, infos = env.step(np.zeros((8, 2)))
        if mode == "NextStep":
            assert (infos["tick"] == 0).all() and not (terminated | truncated).any()
        else:
            assert (infos["tick"] == 10).all()
            env.step(np.zeros((8, 2)))
            *_, truncated, infos = env.step(np.zeros((8, 2)))
            assert truncated.all() and (infos["final_info"]["tick"] == 30).all()
            assert (infos["final_info"]["robosim_episode"]["l"] == 3).all()
        env.close()


def test_actions_the_single_environment_refuses_are_refused_in_a_batch():
    env = VectorNavigationEnv(2)
    env.reset(seed=0)
    for bad in ([["0.01", "0.02"]] * 2, [[True, False]] * 2, [[0.01, np.bool_(True)]] * 2,
                "ab", [b"ab", b"cd"], np.array([["1", "2"]] * 2), 3.0):
        with pytest.raises(TypeError):
            env.step(bad)
    for bad in ([[0.0, 0.0]], [[0.0, float("inf")]] * 2, [[0.0, 0.0, 0.0]] * 2):
        with pytest.raises(ValueError):
            env.step(bad)
    *_, infos = env.step([[0.01, 0.02], (0, 0)])
    assert (infos["tick"] == 1).all(), "nothing moved before"
    env.close()


@pytest.mark.parametrize("batched", [False, True], ids=["NavigationEnv", "VectorNavigationEnv"])
def test_ctrl_c_stops_a_long_step(batched):
    """A step of 3,000,000 ticks raises KeyboardInterrupt from inside; the ticks
    run are kept and the environment goes on."""
    import signal

    options = {"frame_skip": 3_000_000, "max_ticks": 10**12}
    if batched:
        env = VectorNavigationEnv(2, num_threads=2, **options)
        action = np.zeros((2, 2))
    else:
        env = NavigationEnv(**options)
        action = np.zeros(2)
    env.reset(seed=3)
    fired = []

    def interrupt(*_):
        fired.append(True)
        raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        with pytest.raises(KeyboardInterrupt):
            env.step(action)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert fired
    simulation = env.get_attr("simulation")[0] if batched else env.simulation
    assert 0 < simulation.tick < 3_000_000, "stopped within the step"
    env.close()


def test_a_vector_env_inherited_by_a_forked_child_works_there_and_lets_it_end():
    import os

    env = VectorNavigationEnv(4, max_ticks=100, num_threads=2)
    env.reset(seed=6)
    for _ in range(20):
        env.step(np.full((4, 2), 0.01))
    expected = [env.step(np.full((4, 2), 0.01))[0].tobytes() for _ in range(5)]
    copy = VectorNavigationEnv(4, max_ticks=100, num_threads=2)
    copy.reset(seed=6)
    for _ in range(20):
        copy.step(np.full((4, 2), 0.01))
    pid = os.fork()
    if pid == 0:  # the child: the same steps as the parent made, then exit
        status = 1
        try:
            got = [copy.step(np.full((4, 2), 0.01))[0].tobytes() for _ in range(5)]
            status = 0 if got == expected else 3
            # The pools end in the child without waiting for the parent's threads.
            copy.close()
            env.close()
        finally:
            os._exit(status)
    status = wait_for_child(pid)
    assert status == 0
    env.close()
    copy.close()


def wait_for_child(pid):
    """The child's exit status, or fails the test (killing it) after a minute."""
    import os
    import signal
    import time

    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done == pid:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    pytest.fail("the forked child hung")


def test_a_simulation_forked_while_another_thread_steps_it_raises_in_the_child():
    """The child has no copy of the thread inside step(): the simulation it
    inherits raises there instead of waiting for ever, and the child ends."""
    import os
    import threading

    inside, go_on = threading.Event(), threading.Event()

    class Slow(NavigationEnv):
        def reward(self, progress, reached, contacts):  # runs inside the step's lock
            inside.set()
            go_on.wait()
            return 0.0

    env = Slow(max_ticks=100)
    env.reset(seed=1)
    thread = threading.Thread(target=env.step, args=((0.01, 0.0),))
    thread.start()
    inside.wait()
    pid = os.fork()
    if pid == 0:
        status = 1
        try:
            try:
                env.simulation.tick
                status = 4
            except RuntimeError as error:
                status = 0 if "forked" in str(error) else 2
        finally:
            os._exit(status)
    status = wait_for_child(pid)
    go_on.set()
    thread.join()
    env.close()
    assert status == 0


def test_closing_and_resetting_a_navigation_env_while_it_steps_on_other_threads():
    """Thread A steps (its reward waits), B resets, C closes: no crash, no hang,
    and the environment is usable afterwards."""
    import threading

    inside, go_on = threading.Event(), threading.Event()

    class Slow(NavigationEnv):
        def reward(self, progress, reached, contacts):
            inside.set()
            go_on.wait()
            return 0.0

    env = Slow(max_ticks=100)
    env.reset(seed=1)
    errors = []

    def attempt(call):
        try:
            call()
        except RuntimeError as error:  # a closed simulation is a clear error
            errors.append(error)

    a = threading.Thread(target=attempt, args=(lambda: env.step((0.01, 0.0)),))
    a.start()
    inside.wait()
    b = threading.Thread(target=attempt, args=(lambda: env.reset(seed=2),))
    c = threading.Thread(target=attempt, args=(env.close,))
    b.start()
    c.start()
    go_on.set()
    for t in (a, b, c):
        t.join()
    assert all("closed" in str(e) for e in errors), errors
    observation, info = env.reset(seed=3)
    assert observation.shape == (15,)
    env.step((0.0, 0.0))
    env.close()
