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

from robosim import Simulation

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

    One environment per process, like the Simulation it holds.
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
        # Opening the simulation here claims the process's one simulation at once
        # (and checks the world file); reset() opens a fresh one for each episode.
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

    def _episode_seed(self, seed):
        """The simulation's seed: the given one, else the next from the
        environment's generator (seeded by the last given seed)."""
        if seed is not None:
            if isinstance(seed, bool) or not hasattr(seed, "__index__"):
                raise TypeError(f"seed must be an integer, not {type(seed).__name__}")
            seed = seed.__index__()
            if not 0 <= seed < 2**32:
                raise ValueError(f"seed must be from 0 to 4294967295, got {seed}")
            self._episode_rng = np.random.default_rng(seed)
            return seed
        if self._episode_rng is None:
            self._episode_rng = np.random.default_rng()
        return int(self._episode_rng.integers(0, 2**32))
