"""robosim.sb3.VecEnv against SB3's own DummyVecEnv of NavigationEnvs: the same
observations, rewards, dones and infos step for step, the ended episode's last
observation in terminal_observation (no dead transition), reset infos; its
attribute methods, rendering, and a short PPO run through VecMonitor. Run in the
virtual environment with Stable-Baselines3 (see CMakeLists.txt)."""

import numpy as np
import pytest
import torch
from stable_baselines3 import PPO
from stable_baselines3.common.vec_env import DummyVecEnv, VecMonitor

from robosim.env import NavigationEnv
from robosim.sb3 import VecEnv


@pytest.mark.parametrize("settings", [{"max_ticks": 40, "frame_skip": 2},
                                      {"max_ticks": 30, "observation": "both", "image_size": 16,
                                       "action_scale": "normalized"}],
                         ids=["vector", "both"])
def test_step_for_step_as_dummy_vec_env(settings):
    ours = VecEnv(3, **settings)
    theirs = DummyVecEnv([lambda: NavigationEnv(**settings)] * 3)
    assert ours.seed(5) == theirs.seed(5)
    same = lambda a, b: (a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
                         if isinstance(a, dict) else a.tobytes() == b.tobytes())
    assert same(ours.reset(), theirs.reset())
    assert ours.reset_infos == theirs.reset_infos
    ours.action_space.seed(1)
    ends = 0
    for step in range(60):
        actions = np.stack([ours.action_space.sample() for _ in range(3)])
        mine, other = ours.step(actions), theirs.step(actions)
        assert same(mine[0], other[0]), step
        assert mine[1].dtype == other[1].dtype and (mine[1] == other[1]).all(), step
        assert (mine[2] == other[2]).all(), step
        for x, y in zip(mine[3], other[3]):
            last_x, last_y = x.pop("terminal_observation", None), y.pop("terminal_observation", None)
            assert (last_x is None) == (last_y is None), step
            if last_x is not None:
                ends += 1
                assert same(last_x, last_y) and "robosim_episode" in x, step
            assert x == y, step
        assert ours.reset_infos == theirs.reset_infos, step
    assert ends >= 3
    ours.close()
    theirs.close()


def test_attributes_methods_and_render():
    venv = VecEnv(3, render_mode="rgb_array", max_ticks=50)
    venv.seed(1)
    venv.reset()
    assert venv.get_attr("max_ticks") == [50, 50, 50]
    assert len(venv.get_attr("simulation", [0, 2])) == 2
    assert [frame.shape for frame in venv.env_method("render", indices=[1])] == [(480, 640, 3)]
    venv.set_attr("label", "a")
    venv.set_attr("label", "b", indices=[1])
    assert venv.get_attr("label") == ["a", "b", "a"]
    with pytest.raises(AttributeError, match="every environment"):
        venv.set_attr("other", 1, indices=[0])
    assert venv.env_is_wrapped(object) == [False] * 3
    assert venv.render().shape == (960, 1280, 3)  # SB3 tiles the three frames
    with pytest.raises(TypeError, match="autoreset_mode"):
        VecEnv(2, autoreset_mode="NextStep")
    venv.close()


def test_ppo_trains_through_vec_monitor():
    torch.set_num_threads(1)
    venv = VecMonitor(VecEnv(4, frame_skip=10, max_ticks=300), info_keywords=("is_success",))
    model = PPO("MlpPolicy", venv, n_steps=64, batch_size=64, seed=0)
    model.learn(total_timesteps=512)
    assert model.num_timesteps >= 512 and len(model.ep_info_buffer) > 0
    assert len(model.ep_success_buffer) == len(model.ep_info_buffer)
    venv.close()
