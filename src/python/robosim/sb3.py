"""Stable-Baselines3's vector environment over ``robosim.env.VectorNavigationEnv``.

``robosim.sb3.VecEnv(num_envs, **arguments)`` is a
``stable_baselines3.common.vec_env.VecEnv`` whose environments are stepped in one
C++ call per step (``VectorNavigationEnv``'s arguments, for every environment).
An episode that ends begins again in the same step, as SB3 wants it: the step
returns the new episode's first observation, and the ended one's last observation
in ``info["terminal_observation"]`` (with ``"TimeLimit.truncated"`` when it ran out
of time), so no transition is lost. Each ``info`` holds the environment's own
keys (``tick``, ``contacts``, ``seed`` when an episode began, and when one ended
``robosim_episode`` and ``is_success``).

Importing this module needs Stable-Baselines3 (``pip install .[sb3]``).
"""

import numpy as np

try:
    from stable_baselines3.common.vec_env.base_vec_env import VecEnv as _Sb3VecEnv
except ImportError as missing:  # pragma: no cover - depends on what is installed
    raise ImportError(
        "robosim.sb3 needs Stable-Baselines3, which is not installed "
        f"({missing}): pip install .[sb3], or use robosim.env without it"
    ) from missing

from robosim.env import VectorNavigationEnv


class VecEnv(_Sb3VecEnv):
    """``num_envs`` NavigationEnvs as one SB3 vector environment (see the module)."""

    def __init__(self, num_envs, **arguments):
        if "autoreset_mode" in arguments:
            raise TypeError("robosim.sb3.VecEnv resets in the same step, as SB3 does; "
                            "it takes no autoreset_mode")
        self.env = VectorNavigationEnv(num_envs, autoreset_mode="SameStep", **arguments)
        super().__init__(self.env.num_envs, self.env.single_observation_space,
                         self.env.single_action_space)
        self._actions = None

    def reset(self):
        seeds = None if any(s is None for s in self._seeds) else list(self._seeds)
        options = self._options[0]
        if any(o != options for o in self._options):
            raise ValueError("robosim.sb3.VecEnv takes the same reset options for every environment")
        observations, infos = self.env.reset(seed=seeds, options=options or None)
        self.reset_infos = _infos_of(infos, self.num_envs)
        self._reset_seeds()
        self._reset_options()
        return observations

    def step_async(self, actions):
        self._actions = actions

    def step_wait(self):
        observations, rewards, terminated, truncated, infos = self.env.step(self._actions)
        dones = terminated | truncated
        listed = _infos_of(infos, self.num_envs)
        ended = np.flatnonzero(dones).tolist()
        if ended:
            finals = _infos_of(infos["final_info"], self.num_envs)
            for k in ended:
                self.reset_infos[k] = listed[k]  # the new episode's seed
                listed[k] = finals[k]
                listed[k]["terminal_observation"] = infos["final_obs"][k]
        for info, cut in zip(listed, (truncated & ~terminated).tolist()):
            info["TimeLimit.truncated"] = cut
        return observations, rewards.astype(np.float32), dones, listed

    def close(self):
        self.env.close()

    def get_images(self):
        frames = self.env.render()
        return list(frames) if frames is not None else [None] * self.num_envs

    def get_attr(self, attr_name, indices=None):
        values = self.env.get_attr(attr_name)
        return [values[k] for k in self._get_indices(indices)]

    def set_attr(self, attr_name, value, indices=None):
        chosen = list(self._get_indices(indices))
        if chosen == list(range(self.num_envs)):
            self.env.set_attr(attr_name, value)
            return
        try:
            current = self.env.get_attr(attr_name)
        except AttributeError:
            raise AttributeError(
                f"set {attr_name!r} on every environment (indices=None) before some of them"
            ) from None
        self.env.set_attr(attr_name, [value if k in chosen else current[k]
                                      for k in range(self.num_envs)])

    def env_method(self, method_name, *method_args, indices=None, **method_kwargs):
        values = self.env.get_attr(method_name)
        results = []
        for k in self._get_indices(indices):
            method = values[k]
            results.append(method(*method_args, **method_kwargs) if callable(method) else method)
        return results

    def env_is_wrapped(self, wrapper_class, indices=None):
        return [False for _ in self._get_indices(indices)]


def _infos_of(infos, count):
    """Each environment's own info out of Gymnasium's vector infos (the keys whose
    mask holds it, nested dicts too), with Python numbers: a list of count dicts.
    Each array is turned into Python numbers once, for all environments."""
    listed = [{} for _ in range(count)]
    for key, value in infos.items():
        if key.startswith("_") or key in ("final_obs", "final_info"):
            continue
        mask = infos.get("_" + key)
        holders = range(count) if mask is None else np.flatnonzero(mask).tolist()
        values = _infos_of(value, count) if isinstance(value, dict) else value.tolist()
        for k in holders:
            listed[k][key] = values[k]
    return listed
