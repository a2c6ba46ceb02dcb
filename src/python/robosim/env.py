"""A Gymnasium-style navigation environment over robosim.Simulation.

The robot drives in manual mode with the action (speed, turn); an episode ends
when it reaches the target (terminated) or after ``max_ticks`` ticks (truncated).
Gymnasium is not required: when it is importable the environment is a
``gymnasium.Env`` with ``gymnasium.spaces.Box`` spaces, otherwise it has the same
interface with the small stand-in ``Box`` below.

Observation (float32, 15 values, see ``OBSERVATION_LOW`` and ``OBSERVATION_HIGH``):

====== =============================================================== ==========
index  value                                                           bounds
====== =============================================================== ==========
0-5    ``sensor_value`` of the six sensors (2 minus the vision         -18 .. 3
       distance: 0 to 2 in a walled world, 3 without any wall, below
       0 only for walls more than 2 away that every ray meets)
6-11   ``sensor_hit`` of the six touch probes                           0 .. 1
12     distance to the target, world units                             0 .. 14.15
13     bearing of the target: its direction minus the heading,         -pi .. pi
       wrapped (positive: clockwise on the screen)
14     bearing of the field: ``grad_angle`` minus the heading, wrapped -pi .. pi
====== =============================================================== ==========

Reward of a step (``reward()``; a subclass may override it): the progress toward
the target (how much nearer it got, world units), plus ``TARGET_BONUS`` when the
target is reached, minus ``CONTACT_PENALTY`` for each tick on which the push-back
from a wall moved the robot.
"""

import math

import numpy as np

import os

from robosim import Simulation
from robosim._robosim import _VectorNavigation

try:  # pragma: no cover - depends on what is installed
    import gymnasium as _gymnasium
except ImportError:  # pragma: no cover
    _gymnasium = None

# The world is 10 x 10 and the robot stays inside it.
_WORLD_SIDE = 10.0
_SENSOR_LOW = 2.0 - 2 * _WORLD_SIDE
_SENSOR_HIGH = 3.0

OBSERVATION_LOW = np.array(
    [_SENSOR_LOW] * 6 + [0.0] * 6 + [0.0, -math.pi, -math.pi], dtype=np.float32
)
OBSERVATION_HIGH = np.array(
    [_SENSOR_HIGH] * 6 + [1.0] * 6 + [math.hypot(_WORLD_SIDE, _WORLD_SIDE), math.pi, math.pi],
    dtype=np.float32,
)

# The range of the action (speed, turn): the manual keys' by default, the
# automatic mode's with reset(options={"action_scale": "automatic"}).
ACTION_RANGES = {
    "manual": ((-0.03, -0.03), (0.03, 0.03)),
    "automatic": ((0.0, -0.3), (0.05, 0.3)),
}


class Box:
    """A box of real vectors, the part of ``gymnasium.spaces.Box`` used here."""

    def __init__(self, low, high, dtype=np.float32, seed=None):
        self.dtype = np.dtype(dtype)
        self.low = np.asarray(low, dtype=self.dtype)
        self.high = np.asarray(high, dtype=self.dtype)
        if self.low.shape != self.high.shape:
            raise ValueError("low and high must have the same shape")
        self.shape = self.low.shape
        self._rng = np.random.default_rng(seed)

    def seed(self, seed=None):
        self._rng = np.random.default_rng(seed)
        return [seed]

    def sample(self):
        """A uniformly drawn vector inside the box."""
        return self._rng.uniform(self.low, self.high).astype(self.dtype)

    def contains(self, x):
        x = np.asarray(x)
        if x.shape != self.shape or not np.can_cast(x.dtype, self.dtype, casting="same_kind"):
            return False
        return bool(np.all(x >= self.low) and np.all(x <= self.high))

    def __contains__(self, x):
        return self.contains(x)

    def __repr__(self):
        return f"Box({self.low}, {self.high}, {self.shape}, {self.dtype})"


def _box(low, high, dtype):
    if _gymnasium is not None:
        return _gymnasium.spaces.Box(
            low=np.asarray(low, dtype=dtype), high=np.asarray(high, dtype=dtype), dtype=dtype
        )
    return Box(low, high, dtype)


def _whole_number(value, name, low):
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    value = value.__index__()
    if value < low:
        raise ValueError(f"{name} must be at least {low}, got {value}")
    return value


_Base = _gymnasium.Env if _gymnasium is not None else object


class NavigationEnv(_Base):
    """Drive the robot to the target in manual mode.

    ``world``: a world file loaded at every reset (None: the default world).
    ``max_ticks``: the episode is truncated after this many ticks.
    ``frame_skip``: ticks per step, the action held for all of them.
    ``render_mode``: None or "rgb_array".

    Any number can be open at once (a training and an evaluation environment,
    a notebook cell run again); each holds its own Simulation.
    """

    metadata = {"render_modes": ["rgb_array"], "render_fps": 100}

    TARGET_BONUS = 10.0
    CONTACT_PENALTY = 0.01

    def __init__(self, world=None, max_ticks=6000, frame_skip=1, render_mode=None):
        self.max_ticks = _whole_number(max_ticks, "max_ticks", 1)
        self.frame_skip = _whole_number(frame_skip, "frame_skip", 1)
        if render_mode not in (None, "rgb_array"):
            raise ValueError(f'render_mode must be None or "rgb_array", got {render_mode!r}')
        self.render_mode = render_mode
        self.world = world
        self.observation_space = _box(OBSERVATION_LOW, OBSERVATION_HIGH, np.float32)
        self._set_action_scale("manual")
        self._episode_rng = None
        # Opening a simulation here checks the world file at once; reset() opens a
        # fresh one for each episode.
        self._sim = Simulation(seed=0, world=world, manual=True)

    # -- Gymnasium interface ------------------------------------------------

    def reset(self, seed=None, options=None):
        """A new episode; the same seed gives the same episode, bit for bit.

        ``options``: ``{"action_scale": "manual" | "automatic"}`` sets the range
        of the actions for this and the following episodes.
        """
        if _gymnasium is not None:
            super().reset(seed=seed)
        if options is not None:
            unknown = set(options) - {"action_scale"}
            if unknown:
                raise ValueError(f"unknown reset options: {sorted(unknown)}")
            if "action_scale" in options:
                self._set_action_scale(options["action_scale"])
        episode_seed = self._episode_seed(seed)
        self._sim.close()
        self._sim = Simulation(seed=episode_seed, world=self.world, manual=True)
        self.episode_seed = episode_seed
        observation = self._sim._navigation_observation()
        return observation, {"seed": episode_seed, "tick": 0}

    def step(self, action):
        try:
            speed, turn = action
            speed = float(speed)
            turn = float(turn)
        except (TypeError, ValueError):
            raise ValueError(f"the action must be (speed, turn), got {action!r}") from None
        if not (math.isfinite(speed) and math.isfinite(turn)):
            raise ValueError(f"the action must be two finite numbers, got {action!r}")
        speed = min(max(speed, self._speed_low), self._speed_high)
        turn = min(max(turn, self._turn_low), self._turn_high)
        observation, tick, reached, contacts, progress = self._sim._navigation_step(
            speed, turn, self.frame_skip
        )
        reward = self.reward(progress, reached, contacts)
        truncated = not reached and tick >= self.max_ticks
        return observation, reward, reached, truncated, {"tick": tick, "contacts": contacts}

    def reward(self, progress, reached, contacts):
        """The reward of one step: ``progress`` (world units nearer the target),
        ``reached`` (the target was reached), ``contacts`` (ticks on which the
        push-back moved the robot)."""
        reward = progress - self.CONTACT_PENALTY * contacts
        if reached:
            reward += self.TARGET_BONUS
        return reward

    def render(self):
        """The frame of Simulation.render() with render_mode "rgb_array", else None."""
        if self.render_mode == "rgb_array":
            return self._sim.render()
        return None

    def close(self):
        self._sim.close()

    # -- Helpers --------------------------------------------------------------

    @property
    def simulation(self):
        """The Simulation of the current episode (read it, do not close it)."""
        return self._sim

    def _set_action_scale(self, scale):
        if scale not in ACTION_RANGES:
            raise ValueError(f"action_scale must be one of {sorted(ACTION_RANGES)}, got {scale!r}")
        (self._speed_low, self._turn_low), (self._speed_high, self._turn_high) = ACTION_RANGES[
            scale
        ]
        self.action_scale = scale
        low, high = ACTION_RANGES[scale]
        self.action_space = _box(low, high, np.float64)

    @staticmethod
    def _checked_seed(seed):
        if isinstance(seed, bool) or not hasattr(seed, "__index__"):
            raise TypeError(f"seed must be an integer, not {type(seed).__name__}")
        seed = seed.__index__()
        if not 0 <= seed < 2**32:
            raise ValueError(f"seed must be from 0 to 4294967295, got {seed}")
        return seed

    def _episode_seed(self, seed):
        """The simulation's seed: the given one, else the next from the
        environment's generator (seeded by the last given seed)."""
        if seed is not None:
            seed = self._checked_seed(seed)
            self._episode_rng = np.random.default_rng(seed)
            return seed
        if self._episode_rng is None:
            self._episode_rng = np.random.default_rng()
        return int(self._episode_rng.integers(0, 2**32))


def _default_threads():
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):  # pragma: no cover - not Linux
        return os.cpu_count() or 1


def _batch_space(space, n):
    low = np.repeat(space.low[np.newaxis, :], n, axis=0)
    high = np.repeat(space.high[np.newaxis, :], n, axis=0)
    return _box(low, high, space.dtype)


_VectorBase = _gymnasium.vector.VectorEnv if _gymnasium is not None else object


class VectorNavigationEnv(_VectorBase):
    """``num_envs`` NavigationEnvs stepped together in C++, one call per batch.

    The environments are stepped on a pool of ``num_threads`` threads (default:
    the cores this process may use) with Python's lock let go, and no Python code
    runs per environment per step. Environment k's episodes are exactly those of
    ``NavigationEnv`` with the seed ``s + k`` after ``reset(seed=s)`` (or with
    ``seed[k]`` after ``reset(seed=[...])``) under the same actions, bit for bit.

    The interface is Gymnasium's vector interface: ``reset`` returns
    ``(observations, infos)`` and ``step(actions)`` (an array num_envs x 2)
    returns ``(observations, rewards, terminated, truncated, infos)``, each an
    array with one row or entry per environment. An environment that ended is
    reset by the following ``step`` (Gymnasium's "next step" autoreset), which
    returns its first observation with reward 0 and both flags false. ``infos``
    holds arrays ``tick``, ``contacts`` and ``seed``, each with its ``_`` mask.
    """

    metadata = {"render_modes": ["rgb_array"], "autoreset_mode": "NextStep"}

    def __init__(
        self,
        num_envs,
        world=None,
        max_ticks=6000,
        frame_skip=1,
        num_threads=None,
        render_mode=None,
    ):
        self.num_envs = _whole_number(num_envs, "num_envs", 1)
        self.max_ticks = _whole_number(max_ticks, "max_ticks", 1)
        self.frame_skip = _whole_number(frame_skip, "frame_skip", 1)
        threads = _default_threads() if num_threads is None else num_threads
        threads = _whole_number(threads, "num_threads", 1)
        if render_mode not in (None, "rgb_array"):
            raise ValueError(f'render_mode must be None or "rgb_array", got {render_mode!r}')
        self.render_mode = render_mode
        self.world = world
        # One NavigationEnv checks the arguments and the world file and gives the
        # spaces, the reward's constants and the action scale.
        self._single = NavigationEnv(world=world, max_ticks=max_ticks, frame_skip=frame_skip)
        self._single.close()
        self.single_observation_space = self._single.observation_space
        self._batch = _VectorNavigation(
            self.num_envs,
            world,
            self.max_ticks,
            self.frame_skip,
            threads,
            NavigationEnv.TARGET_BONUS,
            NavigationEnv.CONTACT_PENALTY,
        )
        self.num_threads = self._batch.num_threads
        self._set_action_scale("manual")
        self.observation_space = _batch_space(self.single_observation_space, self.num_envs)
        self._rngs = None
        self._next_seeds = None
        self._closed = False

    def reset(self, seed=None, options=None):
        """New episodes for every environment; see the class for the seeds."""
        self._check_open()
        if options is not None:
            unknown = set(options) - {"action_scale"}
            if unknown:
                raise ValueError(f"unknown reset options: {sorted(unknown)}")
            if "action_scale" in options:
                self._set_action_scale(options["action_scale"])
        seeds = self._episode_seeds(seed)
        observations, _, _, _, _, ticks, contacts, seeds_now = self._batch.reset(seeds)
        self._draw_next_seeds(np.ones(self.num_envs, dtype=bool))
        return observations, self._infos(ticks, contacts, seeds_now)

    def step(self, actions):
        self._check_open()
        if self._next_seeds is None:
            raise RuntimeError("call reset() before step()")
        actions = np.asarray(actions, dtype=np.float64)
        if actions.shape != (self.num_envs, 2):
            raise ValueError(
                f"the actions must be an array of shape ({self.num_envs}, 2), got {actions.shape}"
            )
        observations, rewards, terminated, truncated, began, ticks, contacts, seeds = (
            self._batch.step(actions, self._next_seeds)
        )
        if began.any():
            self._draw_next_seeds(began)
        return observations, rewards, terminated, truncated, self._infos(ticks, contacts, seeds)

    def render(self):
        """The frames of every environment (a tuple) with render_mode "rgb_array"."""
        if self.render_mode != "rgb_array":
            return None
        self._check_open()
        return tuple(self._batch.render(k, 640, 480) for k in range(self.num_envs))

    def close(self, **kwargs):
        self._closed = True
        self._batch = None

    # -- Helpers --------------------------------------------------------------

    @property
    def closed(self):
        return self._closed

    def _check_open(self):
        if self._closed:
            raise RuntimeError("this VectorNavigationEnv is closed")

    def _set_action_scale(self, scale):
        self._single._set_action_scale(scale)
        self.action_scale = scale
        self.single_action_space = self._single.action_space
        self.action_space = _batch_space(self.single_action_space, self.num_envs)
        (speed_low, turn_low), (speed_high, turn_high) = ACTION_RANGES[scale]
        self._batch.set_action_range(speed_low, speed_high, turn_low, turn_high)

    def _episode_seeds(self, seed):
        """The first episode's seed of each environment, and each one's generator
        of the later seeds, as NavigationEnv keeps them."""
        if seed is None:
            if self._rngs is None:
                self._rngs = [np.random.default_rng() for _ in range(self.num_envs)]
            return np.array([int(r.integers(0, 2**32)) for r in self._rngs], dtype=np.int64)
        if isinstance(seed, (list, tuple, np.ndarray)):
            seeds = [self._single._checked_seed(s) for s in seed]
            if len(seeds) != self.num_envs:
                raise ValueError(f"seed must hold {self.num_envs} seeds, got {len(seeds)}")
        else:
            first = self._single._checked_seed(seed)
            seeds = [first + k for k in range(self.num_envs)]
            for s in seeds:
                self._single._checked_seed(s)
        self._rngs = [np.random.default_rng(s) for s in seeds]
        return np.array(seeds, dtype=np.int64)

    def _draw_next_seeds(self, which):
        if self._next_seeds is None:
            self._next_seeds = np.zeros(self.num_envs, dtype=np.int64)
        for k in np.flatnonzero(which):
            self._next_seeds[k] = int(self._rngs[k].integers(0, 2**32))

    def _infos(self, ticks, contacts, seeds):
        mask = np.ones(self.num_envs, dtype=bool)
        return {
            "tick": ticks,
            "_tick": mask,
            "contacts": contacts,
            "_contacts": mask.copy(),
            "seed": seeds,
            "_seed": mask.copy(),
        }
