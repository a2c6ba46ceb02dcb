"""Gymnasium environments over robosim.Simulation: ``NavigationEnv`` and the batched
``VectorNavigationEnv``.

The robot drives in manual mode with the action (speed, turn); an episode ends
when it reaches the target (terminated) or at tick ``max_ticks`` (truncated).
Gymnasium is not required: when it is importable the environments are a
``gymnasium.Env`` and a ``gymnasium.vector.VectorEnv`` with Gymnasium's spaces, and
``robosim/Navigation-v0`` is registered, so ``gymnasium.make`` builds it; otherwise
they have the same interface with the stand-ins of ``robosim.spaces`` and this
module's ``Env``, ``EnvSpec`` and ``make``.

Observation ``"vector"`` (float32, 15 values, see ``OBSERVATION_LOW`` and
``OBSERVATION_HIGH``):

====== =============================================================== ==========
index  value                                                           bounds
====== =============================================================== ==========
0-5    ``sensor_value`` of the six sensors: 2 minus the distance the   -18 .. 3
       vision ray saw, 0 (no wall within 2) to 2 (touching); 3 in a
       world without walls. Below 0 only for a ray that passes exactly
       through two opposite corners of every wall it meets (down to 2
       minus 20). Sensor i looks at heading - 60 + 60 i degrees.
6-11   ``sensor_hit`` of the six touch probes                           0 .. 1
12     distance to the target, world units                             0 .. 14.15
13     bearing of the target: its direction minus the heading,         -pi .. pi
       wrapped (positive: clockwise on the screen)
14     bearing of the field: ``grad_angle`` minus the heading, wrapped -pi .. pi
====== =============================================================== ==========

Observation ``"image"``: the top view the window draws, uint8 H x W x 3 (64 x 64
by default); ``"both"``: a dict of ``"image"`` and ``"vector"``.

Reward of a step (``reward()``; a subclass may override it): the progress toward
the target (how much nearer it got, world units), plus ``TARGET_BONUS`` when the
target is reached, minus ``CONTACT_PENALTY`` for each tick on which the push-back
from a wall moved the robot.
"""

import math
import os
from dataclasses import dataclass, field

import numpy as np

from robosim import spaces as _spaces
from robosim._robosim import MAX_IMAGE_SIDE as _MAX_IMAGE_SIDE
from robosim._robosim import _Navigation, _VectorNavigation
from robosim._robosim import _usable_cores
from robosim._robosim import picture_size_allowed as _picture_size_allowed
from robosim.spaces import Box, Dict

try:  # pragma: no cover - depends on what is installed
    import gymnasium as _gymnasium
except ImportError:  # pragma: no cover
    _gymnasium = None

ENV_ID = "robosim/Navigation-v0"

# The world is 10 x 10 and the robot stays inside it.
_WORLD_SIDE = 10.0
# A vision ray reports at most the world's width plus its height.
_SENSOR_LOW = 2.0 - 2 * _WORLD_SIDE
_SENSOR_HIGH = 3.0

OBSERVATION_LOW = np.array(
    [_SENSOR_LOW] * 6 + [0.0] * 6 + [0.0, -math.pi, -math.pi], dtype=np.float32
)
OBSERVATION_HIGH = np.array(
    [_SENSOR_HIGH] * 6 + [1.0] * 6 + [math.hypot(_WORLD_SIDE, _WORLD_SIDE), math.pi, math.pi],
    dtype=np.float32,
)

# The ranges of the driving command (speed, turn): the manual keys' and the
# automatic mode's.
ACTION_RANGES = {
    "manual": ((-0.03, -0.03), (0.03, 0.03)),
    "automatic": ((0.0, -0.3), (0.05, 0.3)),
}
# action_scale: the action is the command, clipped into a range, or -1 ... 1
# scaled onto it.
ACTION_SCALES = {
    "manual": ("manual", False),
    "automatic": ("automatic", False),
    "normalized": ("manual", True),
    "normalized-automatic": ("automatic", True),
}
OBSERVATIONS = ("vector", "image", "both")
# Who drives: the action, or the simulation's automatic mode (its planner and
# field, as the window's M key leaves it), the baseline a policy is compared with.
DRIVERS = ("action", "automatic")
RESET_OPTIONS = ("action_scale", "world", "pose", "target", "driver")

# The simulated clock's default tick, 10 ms: 100 ticks a second.
_TICKS_PER_SECOND = 100
# The environments' seeds 0 to 2**32 - 2 are the simulation's seeds 1 to
# 2**32 - 1: the simulation seeds its generator as the C library does, which takes
# 0 as 1, so that shifting by one gives every seed an episode of its own.
EPISODE_SEEDS = 2**32 - 1


# -- Gymnasium's interface without Gymnasium ----------------------------------


class Env:
    """The interface of ``gymnasium.Env`` (1.x), for when Gymnasium is not installed."""

    metadata = {"render_modes": []}
    render_mode = None
    spec = None
    action_space = None
    observation_space = None
    _np_random = None
    _np_random_seed = None

    def step(self, action):
        raise NotImplementedError

    def reset(self, *, seed=None, options=None):
        if seed is not None:
            self._np_random, self._np_random_seed = _spaces.np_random(seed)

    def render(self):
        raise NotImplementedError

    def close(self):
        pass

    @property
    def unwrapped(self):
        return self

    @property
    def np_random(self):
        """The environment's generator, seeded from fresh entropy on first use."""
        if self._np_random is None:
            self._np_random, self._np_random_seed = _spaces.np_random()
        return self._np_random

    @np_random.setter
    def np_random(self, value):
        self._np_random = value
        self._np_random_seed = -1

    @property
    def np_random_seed(self):
        """The seed of np_random (-1 when a generator was set directly)."""
        if self._np_random_seed is None:
            self._np_random, self._np_random_seed = _spaces.np_random()
        return self._np_random_seed

    def has_wrapper_attr(self, name):
        return hasattr(self, name)

    def get_wrapper_attr(self, name):
        return getattr(self, name)

    def set_wrapper_attr(self, name, value, *, force=True):
        if force or hasattr(self, name):
            setattr(self, name, value)
            return True
        return False

    def __str__(self):
        if self.spec is None:
            return f"<{type(self).__name__} instance>"
        return f"<{type(self).__name__}<{self.spec.id}>>"

    def __enter__(self):
        return self

    def __exit__(self, *args):
        self.close()
        return False


@dataclass
class EnvSpec:
    """What ``make`` built an environment from (``gymnasium.envs.registration.EnvSpec``)."""

    id: str
    entry_point: str = "robosim.env:NavigationEnv"
    reward_threshold: float = None
    nondeterministic: bool = False
    max_episode_steps: int = None
    order_enforce: bool = True
    disable_env_checker: bool = False
    kwargs: dict = field(default_factory=dict)
    vector_entry_point: str = "robosim.env:VectorNavigationEnv"

    def make(self, **kwargs):
        return make(self, **kwargs)


def make(id=ENV_ID, **kwargs):
    """The environment ``id`` names (``"robosim/Navigation-v0"`` or its EnvSpec) with
    these arguments: ``gymnasium.make`` when Gymnasium is installed, else a
    ``NavigationEnv`` whose ``spec`` says how it was made."""
    if _gymnasium is not None:
        return _gymnasium.make(id, **kwargs)
    spec = id if isinstance(id, EnvSpec) else None
    name = spec.id if spec is not None else id
    if name != ENV_ID:
        raise ValueError(f"no environment {name!r}; robosim has {ENV_ID!r}")
    arguments = {**(spec.kwargs if spec is not None else {}), **kwargs}
    env = NavigationEnv(**arguments)
    env.spec = EnvSpec(id=ENV_ID, kwargs=arguments)
    return env


def _register():
    """Registers ``robosim/Navigation-v0`` with Gymnasium (once)."""
    if ENV_ID in _gymnasium.envs.registry:
        return
    try:
        _gymnasium.register(
            id=ENV_ID,
            entry_point="robosim.env:NavigationEnv",
            vector_entry_point="robosim.env:VectorNavigationEnv",
        )
    except TypeError:  # pragma: no cover - a Gymnasium before vector entry points
        _gymnasium.register(id=ENV_ID, entry_point="robosim.env:NavigationEnv")


# -- Arguments -------------------------------------------------------------------


def _whole_number(value, name, low, high=None):
    if isinstance(value, (bool, np.bool_)) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    value = value.__index__()
    if value < low or (high is not None and value > high):
        bounds = f"at least {low}" if high is None else f"from {low} to {high}"
        raise ValueError(f"{name} must be {bounds}, got {value}")
    return value


def _checked_seed(seed):
    """A seed as Gymnasium takes it: a non-negative int."""
    if isinstance(seed, (bool, np.bool_)) or not hasattr(seed, "__index__"):
        raise TypeError(f"seed must be an integer, not {type(seed).__name__}")
    seed = seed.__index__()
    if seed < 0:
        raise ValueError(f"seed must be a non-negative integer, got {seed}")
    return seed


def _seeded(seed):
    """After reset(seed=seed): the generator of the later episodes' seeds, its
    seed, and the first episode's seed: the seed itself when it is one of the
    EPISODE_SEEDS, else the generator's first number."""
    rng, rng_seed = _spaces.np_random(seed)
    episode_seed = seed if seed < EPISODE_SEEDS else _next_seed(rng)
    return rng, rng_seed, episode_seed


def _next_seed(rng):
    return int(rng.integers(0, EPISODE_SEEDS))


def simulation_seed(episode_seed):
    """The seed of the Simulation that the episode of this seed is (see
    EPISODE_SEEDS): ``Simulation(seed=simulation_seed(s), world=w, manual=True)``
    runs as the episode of ``reset(seed=s)`` under the same commands."""
    seed = _checked_seed(episode_seed)
    if seed >= EPISODE_SEEDS:
        raise ValueError(
            f"episodes' seeds are below {EPISODE_SEEDS}; a larger reset seed chooses one "
            "(info['seed'] tells which)"
        )
    return seed + 1


def _image_size(size):
    """(width, height) from an int (a square) or a pair."""
    if isinstance(size, (tuple, list)):
        if len(size) != 2:
            raise ValueError(f"image_size must be an int or (width, height), got {size!r}")
        width = _whole_number(size[0], "image_size's width", 1, _MAX_IMAGE_SIDE)
        height = _whole_number(size[1], "image_size's height", 1, _MAX_IMAGE_SIDE)
    else:
        width = height = _whole_number(size, "image_size", 1, _MAX_IMAGE_SIDE)
    # The largest picture an image observation may be is render()'s.
    if not _picture_size_allowed(width, height):
        raise ValueError(f"an image of {width} x {height} pixels is too large")
    return width, height


def _choice(value, name, choices):
    if not isinstance(value, str) or value not in choices:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, choices))}, got {value!r}")
    return value


def _real_numbers(value, name, count):
    """A tuple of `count` finite floats from a sequence or array, else ValueError."""
    try:
        items = np.asarray(value)
    except (TypeError, ValueError):
        items = None
    if items is None or items.shape != (count,) or items.dtype.kind not in "iuf":
        raise ValueError(f"{name} must be {count} numbers, got {value!r}")
    numbers_ = tuple(float(v) for v in items)
    if not all(math.isfinite(v) for v in numbers_):
        raise ValueError(f"{name} must be {count} finite numbers, got {value!r}")
    return numbers_


def _checked_options(options):
    """The reset options as the environment takes them; ValueError for any that
    cannot be taken (before anything changes)."""
    if options is None:
        return {}
    if not isinstance(options, dict):
        raise TypeError(f"options must be a dict, not {type(options).__name__}")
    unknown = set(options) - set(RESET_OPTIONS)
    if unknown:
        raise ValueError(
            f"unknown reset options: {sorted(map(str, unknown))} (known: {', '.join(RESET_OPTIONS)})"
        )
    checked = {}
    if "action_scale" in options:
        checked["action_scale"] = _choice(options["action_scale"], "action_scale", ACTION_SCALES)
    if "world" in options:
        world = options["world"]
        if world is not None and not isinstance(world, (str, bytes, os.PathLike)):
            raise ValueError(f"world must be a path or None, not {type(world).__name__}")
        checked["world"] = world
    if options.get("pose") is not None:
        checked["pose"] = _real_numbers(options["pose"], "pose (x, y, heading)", 3)
    if options.get("target") is not None:
        checked["target"] = _real_numbers(options["target"], "target (x, y)", 2)
    if "driver" in options:
        checked["driver"] = _choice(options["driver"], "driver", DRIVERS)
    return checked


def _taken(begin, options):
    """Runs begin(); an option the simulation cannot take (a world file that
    cannot be read, a pose outside the world, ...) is a ValueError."""
    try:
        return begin()
    except OSError as failure:
        if "world" not in options:
            raise
        raise ValueError(f"the world option cannot be taken: {failure}") from failure


# -- Spaces ----------------------------------------------------------------------


def _box(low, high, dtype, shape=None):
    if _gymnasium is not None:
        return _gymnasium.spaces.Box(low=low, high=high, shape=shape, dtype=dtype)
    return Box(low, high, shape=shape, dtype=dtype)


def _dict(spaces):
    if _gymnasium is not None:
        return _gymnasium.spaces.Dict(spaces)
    return Dict(spaces)


def _action_space(scale):
    name, normalized = ACTION_SCALES[scale]
    low, high = ((-1.0, -1.0), (1.0, 1.0)) if normalized else ACTION_RANGES[name]
    return _box(np.array(low, dtype=np.float32), np.array(high, dtype=np.float32), np.float32)


def _action_space_replacing(old, scale):
    """The action space of scale in place of old: old itself when they are equal,
    else a new space that goes on with old's generator, so that action_space.seed()
    keeps the samples reproducible."""
    new = _action_space(scale)
    if old is None:
        return new
    if new == old:
        return old
    new._np_random = old._np_random
    return new


def _observation_space(observation, width, height):
    vector = _box(OBSERVATION_LOW, OBSERVATION_HIGH, np.float32)
    image = _box(0, 255, np.uint8, shape=(height, width, 3))
    if observation == "vector":
        return vector
    if observation == "image":
        return image
    return _dict({"image": image, "vector": vector})


def _batch_space(space, n):
    """The space of n elements of `space` stacked (gymnasium.vector.utils.batch_space)."""
    if isinstance(space, (Dict,) + ((_gymnasium.spaces.Dict,) if _gymnasium else ())):
        return _dict({key: _batch_space(sub, n) for key, sub in space.spaces.items()})
    repeats = (n,) + (1,) * space.low.ndim
    return _box(np.tile(space.low, repeats), np.tile(space.high, repeats), space.dtype)


def _command_range(scale):
    """(speed_low, speed_high, turn_low, turn_high, normalized) of an action scale."""
    name, normalized = ACTION_SCALES[scale]
    (speed_low, turn_low), (speed_high, turn_high) = ACTION_RANGES[name]
    return speed_low, speed_high, turn_low, turn_high, normalized


def _render_mode(render_mode):
    if render_mode not in (None, "rgb_array"):
        raise ValueError(f'render_mode must be None or "rgb_array", got {render_mode!r}')
    return render_mode


_Base = _gymnasium.Env if _gymnasium is not None else Env


class NavigationEnv(_Base):
    """Drive the robot to the target in manual mode.

    ``world``: a world file loaded at every reset (None: the default world).
    ``max_ticks``: the episode is truncated at this tick (the last step shorter
    when ``frame_skip`` does not divide it).
    ``frame_skip``: ticks per step, the action held for all of them.
    ``render_mode``: None or "rgb_array".
    ``action_scale``: "manual" (the action is the command, clipped to the manual
    keys' range, speed and turn -0.03 ... 0.03), "automatic" (the automatic
    mode's range, speed 0 ... 0.05, turn -0.3 ... 0.3), "normalized" or
    "normalized-automatic" (-1 ... 1 scaled onto the manual or the automatic
    range).
    ``observation``: "vector" (15 values), "image" (the top view, uint8
    H x W x 3) or "both" (a dict of "image" and "vector").
    ``image_size``: the top view's size, an int (square) or (width, height).
    ``driver``: "action" (the action drives) or "automatic" (the simulation's
    automatic mode drives and the action is not used: the baseline, on the same
    episodes as a policy's for the same seeds).

    Any number can be open at once (a training and an evaluation environment,
    a notebook cell run again); each holds its own Simulation.
    """

    metadata = {"render_modes": ["rgb_array"], "render_fps": _TICKS_PER_SECOND}

    TARGET_BONUS = 10.0
    CONTACT_PENALTY = 0.01

    def __init__(
        self,
        world=None,
        max_ticks=6000,
        frame_skip=1,
        render_mode=None,
        action_scale="manual",
        observation="vector",
        image_size=64,
        driver="action",
    ):
        self.max_ticks = _whole_number(max_ticks, "max_ticks", 1)
        self.driver = _choice(driver, "driver", DRIVERS)
        self.frame_skip = _whole_number(frame_skip, "frame_skip", 1)
        self.render_mode = _render_mode(render_mode)
        self.observation = _choice(observation, "observation", OBSERVATIONS)
        self.image_size = _image_size(image_size)
        _choice(action_scale, "action_scale", ACTION_SCALES)
        # A step is frame_skip ticks of 10 ms.
        fps = _TICKS_PER_SECOND / self.frame_skip
        self.metadata = {**type(self).metadata, "render_fps": int(fps) if fps.is_integer() else fps}
        self.world = world
        self.observation_space = _observation_space(self.observation, *self.image_size)
        self.action_space = None
        self._core = self._new_core()
        self._set_action_scale(action_scale)
        self._set_reward()
        # The first episode's simulation opens now, which checks the world file at
        # once; reset() begins a fresh one for each episode.
        self._core.begin(0, world, None, None)
        self.episode_seed = None

    # -- Gymnasium interface ------------------------------------------------

    def reset(self, seed=None, options=None):
        """A new episode; the same seed gives the same episode, bit for bit.

        ``seed``: a non-negative int. Different seeds give different episodes:
        the episode with seed S below EPISODE_SEEDS (2**32 - 1) is the
        simulation with seed S + 1 (``simulation_seed(S)``); a larger one is
        drawn from the generator S seeds. Without a seed the episode's seed is
        the next number of the generator seeded by the last seed given
        (``np_random``). ``info["seed"]`` is the episode's seed.

        ``options`` (each is checked before anything changes; one that cannot be
        taken raises ValueError and leaves the environment as it was):
        ``"action_scale"`` and ``"world"`` (a path, or None for the default
        world) for this and the following episodes; ``"pose"`` (x, y, heading)
        and ``"target"`` (x, y) for this episode, placed as the mouse and a world
        file place them, with a planning run; ``"driver"`` for this and the
        following episodes.
        """
        options = _checked_options(options)
        if seed is not None:
            rng, rng_seed, episode_seed = _seeded(_checked_seed(seed))
        else:
            rng, rng_seed = self.np_random, self._np_random_seed
            state = rng.bit_generator.state
            episode_seed = _next_seed(rng)
        world = options.get("world", self.world)
        begin = lambda: self._core.begin(
            episode_seed + 1, world, options.get("pose"), options.get("target")
        )
        try:
            observation = _taken(begin, options)
        except BaseException:
            if seed is None:
                rng.bit_generator.state = state
            raise
        self._np_random, self._np_random_seed = rng, rng_seed
        self.world = world
        self.driver = options.get("driver", self.driver)
        if self.driver == "automatic":
            self._core.simulation.manual = False
        if "action_scale" in options:
            self._set_action_scale(options["action_scale"])
        self._set_reward()
        self.episode_seed = episode_seed
        return observation, {"seed": episode_seed, "tick": 0}

    def step(self, action):
        """``(observation, reward, terminated, truncated, info)``.

        ``action``: (speed, turn), an array of shape (2,) or two numbers (not
        bools), finite. ``info`` holds ``tick`` and ``contacts``, and at the end
        of the episode ``robosim_episode``: ``r`` (the return), ``l`` (the
        steps), ``t`` (simulated seconds) and ``success`` (the target was
        reached), and ``is_success`` (Stable-Baselines3's name for success).
        No standard wrapper writes these keys, so Gymnasium's
        ``RecordEpisodeStatistics`` and SB3's ``Monitor`` add their ``episode``
        beside them.
        """
        return self._core.step(action, self.reward if self._custom_reward else None)

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
            return self.simulation.render()
        return None

    def close(self):
        """Ends the episode's simulation; closing again is harmless."""
        self._core.close()

    # -- Helpers --------------------------------------------------------------

    @property
    def simulation(self):
        """The Simulation of the current episode (read it, do not close it)."""
        return self._core.simulation

    def _new_core(self):
        width, height = self.image_size
        return _Navigation(self.world, self.max_ticks, self.frame_skip, self.observation, width, height)

    def _set_action_scale(self, scale):
        self.action_space = _action_space_replacing(self.action_space, scale)
        self.action_scale = scale
        self._core.set_actions(*_command_range(scale))

    def _set_reward(self):
        """The reward as the class (or the instance) defines it now; the built-in
        rule runs in C++ unless reward() is overridden."""
        self._custom_reward = (
            type(self).reward is not NavigationEnv.reward or "reward" in self.__dict__
        )
        self._core.set_reward(float(self.TARGET_BONUS), float(self.CONTACT_PENALTY))

    # -- copy and pickle ------------------------------------------------------

    def __getstate__(self):
        state = self.__dict__.copy()
        core = state.pop("_core")
        stats = core.episode_stats()
        state["_episode"] = (core.simulation, stats["r"], stats["l"], stats["success"])
        return state

    def __setstate__(self, state):
        simulation, episode_return, steps, success = state.pop("_episode")
        self.__dict__.update(state)
        self._core = self._new_core()
        self._core.restore(simulation, episode_return, steps, success)
        self._core.set_actions(*_command_range(self.action_scale))
        self._set_reward()


def _default_threads(num_envs):
    """One thread per core this process may use (its affinity mask, within its
    cgroup's CPU quota), no more than the environments; the pool wakes them only
    for the batches worth it, and tries them only while no task waits for a core."""
    return max(1, min(_usable_cores(), num_envs))


_VectorBase = _gymnasium.vector.VectorEnv if _gymnasium is not None else object

# Gymnasium's names of the two ways an ended environment begins anew, and ours.
_AUTORESET_MODES = {"NextStep": "next_step", "SameStep": "same_step"}


def _autoreset_mode_value(name):
    """Gymnasium's AutoresetMode member of this name where Gymnasium has it, else
    the name."""
    mode = getattr(getattr(_gymnasium, "vector", None), "AutoresetMode", None)
    return mode(name) if mode is not None else name


def _next_step_autoreset():
    return _autoreset_mode_value("NextStep")


def _checked_autoreset_mode(mode):
    """"NextStep" or "SameStep" of None (next step), Gymnasium's AutoresetMode or
    its value."""
    if mode is None:
        return "NextStep"
    name = getattr(mode, "value", mode)
    if not isinstance(name, str) or name not in _AUTORESET_MODES:
        raise ValueError(
            "autoreset_mode must be AutoresetMode.NEXT_STEP or AutoresetMode.SAME_STEP "
            f"(or \"NextStep\", \"SameStep\"), got {mode!r}"
        )
    return name


# What call(), get_attr() and set_attr() reach of each environment (see
# VectorNavigationEnv): settings all environments share, changeable or not.
_SHARED_SETTINGS = ("action_scale", "world", "TARGET_BONUS", "CONTACT_PENALTY")
_SHARED_FIXED = (
    "render_mode", "max_ticks", "frame_skip", "observation", "image_size", "metadata",
    "spec", "autoreset_mode",
)
_OWN_FIXED = ("simulation", "render", "np_random", "observation_space", "action_space")


class VectorNavigationEnv(_VectorBase):
    """``num_envs`` NavigationEnvs stepped together in C++, one call per batch.

    The environments are stepped on a pool of ``num_threads`` threads (default:
    the cores this process may use) with Python's lock let go, and no Python code
    runs per environment per step. Environment k's episodes are exactly those of
    ``NavigationEnv`` with the seed ``s + k`` after ``reset(seed=s)`` (or with
    ``seed[k]`` after ``reset(seed=[...])``) under the same actions and options,
    bit for bit. The arguments are NavigationEnv's, for every environment.

    The interface is Gymnasium's vector interface: ``reset`` returns
    ``(observations, infos)`` and ``step(actions)`` (an array num_envs x 2)
    returns ``(observations, rewards, terminated, truncated, infos)``, each an
    array with one row or entry per environment.

    An environment that ended begins a new episode by itself, as
    ``autoreset_mode`` says (Gymnasium's ``AutoresetMode``, or its value):
    ``NEXT_STEP`` (the default): the following ``step`` returns the new episode's
    first observation with reward 0 and both flags false; ``SAME_STEP``: the step
    that ends it returns the new episode's first observation at once, and the
    ended one's last observation in ``infos["final_obs"]`` and its step's info in
    ``infos["final_info"]`` (each with its mask, as Gymnasium's vector
    environments give them). A step is all or nothing: when an episode cannot
    begin (its world file is gone) or Ctrl-C stops the step, no environment moved
    as far as the step's results go. ``infos``
    are those of ``gymnasium.vector.SyncVectorEnv`` over NavigationEnvs, key for
    key: each environment's info as an array with its ``_`` mask of the
    environments that have it (``tick``; ``contacts`` for the environments that
    stepped, ``seed`` for those that began an episode; ``robosim_episode``, a
    dict of arrays ``r``, ``l``, ``t``, ``success`` each with its mask, and
    ``is_success`` for those whose episode ended).

    ``call(name, *args, **kwargs)``, ``get_attr(name)`` and ``set_attr(name,
    values)`` reach each environment as Gymnasium's vector environments reach
    theirs: its ``simulation``, ``render()``, ``np_random`` and spaces, the
    settings all share (``render_mode``, ``max_ticks``, ``frame_skip``,
    ``observation``, ``image_size``, ``metadata``; and, settable with one value
    for all, ``action_scale``, ``world`` (from the next episode on),
    ``TARGET_BONUS`` and ``CONTACT_PENALTY``), and any other attribute set with
    ``set_attr``. It pickles and copies with its episodes as they stand.
    """

    metadata = {
        "render_modes": ["rgb_array"],
        "render_fps": _TICKS_PER_SECOND,
        "autoreset_mode": _next_step_autoreset(),
    }

    def __init__(
        self,
        num_envs,
        world=None,
        max_ticks=6000,
        frame_skip=1,
        num_threads=None,
        render_mode=None,
        action_scale="manual",
        observation="vector",
        image_size=64,
        autoreset_mode=None,
    ):
        self.num_envs = _whole_number(num_envs, "num_envs", 1)
        threads = _default_threads(self.num_envs) if num_threads is None else num_threads
        threads = _whole_number(threads, "num_threads", 1)
        mode = _checked_autoreset_mode(autoreset_mode)
        # One NavigationEnv checks the other arguments and the world file and gives
        # the spaces, the reward's constants and the metadata.
        single = NavigationEnv(
            world=world,
            max_ticks=max_ticks,
            frame_skip=frame_skip,
            render_mode=render_mode,
            action_scale=action_scale,
            observation=observation,
            image_size=image_size,
        )
        single.close()
        self.render_mode = single.render_mode
        self.max_ticks, self.frame_skip = single.max_ticks, single.frame_skip
        self.observation, self.image_size = single.observation, single.image_size
        self.metadata = {
            **type(self).metadata,
            "render_fps": single.metadata["render_fps"],
            "autoreset_mode": _autoreset_mode_value(mode),
        }
        self.world = world
        self.single_observation_space = single.observation_space
        self.observation_space = _batch_space(self.single_observation_space, self.num_envs)
        self.single_action_space = None
        self.TARGET_BONUS = NavigationEnv.TARGET_BONUS
        self.CONTACT_PENALTY = NavigationEnv.CONTACT_PENALTY
        self._threads, self._mode = threads, mode
        self._batch = self._new_batch()
        self.num_threads = self._batch.num_threads
        self._set_action_scale(action_scale)
        self._own = [{} for _ in range(self.num_envs)]
        self._rngs = None
        # The simulation seeds of each environment's next episode.
        self._next_seeds = None
        self._closed = False

    def reset(self, seed=None, options=None):
        """New episodes for every environment; see the class for the seeds.
        ``options`` as NavigationEnv.reset takes them, for every environment
        (the same pose and target for all)."""
        self._check_open()
        options = _checked_options(options)
        if "driver" in options:
            raise ValueError("the driver option is NavigationEnv's; VectorNavigationEnv has none")
        rngs, seeds, states = self._episode_seeds(seed)
        world = options.get("world", self.world)
        scale = options.get("action_scale", self.action_scale)
        begin = lambda: self._batch.reset(
            seeds + 1, world, *_command_range(scale), options.get("pose"), options.get("target")
        )
        try:
            observations, _, _, _, _, ticks, _, _, _ = _taken(begin, options)
        except BaseException:
            for rng, state in zip(rngs, states or ()):
                rng.bit_generator.state = state
            raise
        self._rngs = rngs
        self.world = world
        self._set_action_scale(scale)
        self._next_seeds = np.array([_next_seed(r) + 1 for r in self._rngs], dtype=np.int64)
        return observations, {"seed": seeds, "_seed": self._all(), "tick": ticks, "_tick": self._all()}

    def step(self, actions):
        self._check_open()
        if self._next_seeds is None:
            raise RuntimeError("call reset() before step()")
        result = self._batch.step(actions, self._next_seeds)
        observations, rewards, terminated, truncated, began, ticks, contacts, seeds, ended = result
        for k in np.flatnonzero(began):
            self._next_seeds[k] = _next_seed(self._rngs[k]) + 1
        if self._mode == "SameStep" and ended is not None:
            infos = self._same_step_infos(ended[0], ticks, contacts, seeds, ended)
        else:
            infos = self._infos(began, ticks, contacts, seeds, ended)
        return observations, rewards, terminated, truncated, infos

    def render(self):
        """The frames of every environment (a tuple) with render_mode "rgb_array"."""
        if self.render_mode != "rgb_array":
            return None
        self._check_open()
        return tuple(self._batch.render(k, 640, 480) for k in range(self.num_envs))

    def close(self, **kwargs):
        """Ends every environment; closing again is harmless."""
        self._closed = True
        self._batch = None

    # -- Each environment's attributes --------------------------------------

    def call(self, name, *args, **kwargs):
        """Each environment's attribute ``name`` (see the class), called with the
        arguments when it is callable: a tuple of num_envs results."""
        results = []
        for k in range(self.num_envs):
            value = self._attribute(k, name)
            results.append(value(*args, **kwargs) if callable(value) else value)
        return tuple(results)

    def get_attr(self, name):
        """Each environment's attribute ``name``: a tuple of num_envs values."""
        return tuple(self._attribute(k, name) for k in range(self.num_envs))

    def set_attr(self, name, values):
        """Sets each environment's attribute ``name``: ``values`` is one value per
        environment (a list or tuple) or one value for all. The settings all
        environments share take one value for all."""
        if not isinstance(values, (list, tuple)):
            values = [values] * self.num_envs
        if len(values) != self.num_envs:
            raise ValueError(f"set_attr needs {self.num_envs} values, got {len(values)}")
        if name in _SHARED_FIXED or name in _OWN_FIXED:
            raise AttributeError(f"{name!r} cannot be changed once the environment is made")
        if name in _SHARED_SETTINGS:
            if any(v is not values[0] and v != values[0] for v in values[1:]):
                raise ValueError(
                    f"{name!r} is shared by all environments of a VectorNavigationEnv: "
                    "give one value"
                )
            self._check_open()
            self._set_shared(name, values[0])
            return
        for own, value in zip(self._own, values):
            own[name] = value

    def _attribute(self, k, name):
        if name in self._own[k]:
            return self._own[k][name]
        if name in _SHARED_SETTINGS or name in _SHARED_FIXED:
            return self.metadata[name] if name == "autoreset_mode" else getattr(self, name, None)
        if name in ("observation_space", "action_space"):
            return getattr(self, "single_" + name)
        if name == "np_random":
            return None if self._rngs is None else self._rngs[k]
        self._check_open()
        if name == "simulation":
            return self._batch.simulation(k)
        if name == "render":
            return lambda: self._render_one(k)
        raise AttributeError(f"the environments of a VectorNavigationEnv have no {name!r}")

    def _render_one(self, k):
        if self.render_mode != "rgb_array":
            return None
        self._check_open()
        return self._batch.render(k, 640, 480)

    def _set_shared(self, name, value):
        if name == "action_scale":
            _choice(value, "action_scale", ACTION_SCALES)
            self._batch.set_actions(*_command_range(value))
            self._set_action_scale(value)
        elif name == "world":
            self._batch.set_world(value)
            self.world = value
        else:
            if isinstance(value, bool) or not isinstance(value, (int, float, np.number)):
                raise TypeError(f"{name} must be a number, not {type(value).__name__}")
            if not math.isfinite(value):
                raise ValueError(f"{name} must be finite, got {value!r}")
            setattr(self, name, float(value))
            self._batch.set_reward(self.TARGET_BONUS, self.CONTACT_PENALTY)

    # -- copy and pickle ------------------------------------------------------

    def __getstate__(self):
        state = self.__dict__.copy()
        batch = state.pop("_batch")
        started = batch is not None and self._next_seeds is not None
        state["_episodes"] = (
            [batch.episode_state(k) for k in range(self.num_envs)] if started else None
        )
        return state

    def __setstate__(self, state):
        episodes = state.pop("_episodes")
        self.__dict__.update(state)
        self._batch = None
        if self._closed:
            return
        self._batch = self._new_batch()
        self.num_threads = self._batch.num_threads
        self._batch.set_actions(*_command_range(self.action_scale))
        for k, episode in enumerate(episodes or ()):
            self._batch.restore(k, *episode)

    # -- Helpers --------------------------------------------------------------

    def _new_batch(self):
        return _VectorNavigation(
            self.num_envs,
            self.world,
            self.max_ticks,
            self.frame_skip,
            self._threads,
            self.TARGET_BONUS,
            self.CONTACT_PENALTY,
            self.observation,
            *self.image_size,
            autoreset_mode=_AUTORESET_MODES[self._mode],
        )

    def _same_step_infos(self, done, ticks, contacts, seeds, ended):
        """A same-step autoreset's infos: the new episodes' at the top (tick 0 for
        those that began), and the ended ones' last observation and step info in
        final_obs and final_info, masked as Gymnasium's vector environments mask
        them."""
        final_observations, _ = self._batch.final_observations()
        stepped_all = np.zeros(self.num_envs, dtype=bool)
        final_info = _masked(self._infos(stepped_all, ticks, contacts, seeds, ended), done)
        infos = self._infos(done, np.where(done, 0, ticks), contacts, seeds, None)
        final_obs = np.full(self.num_envs, None, dtype=object)
        for k in np.flatnonzero(done):
            if isinstance(final_observations, dict):
                final_obs[k] = {key: part[k] for key, part in final_observations.items()}
            else:
                final_obs[k] = final_observations[k]
        infos["final_obs"], infos["_final_obs"] = final_obs, done.copy()
        infos["final_info"], infos["_final_info"] = final_info, done.copy()
        return infos

    @property
    def closed(self):
        return self._closed

    @property
    def unwrapped(self):
        return self

    def _check_open(self):
        if self._closed:
            raise RuntimeError("this VectorNavigationEnv is closed")

    def _set_action_scale(self, scale):
        old = self.single_action_space
        new = _action_space_replacing(old, scale)
        self.action_scale = scale
        self.single_action_space = new
        if old is None or new is not old:
            self.action_space = _batch_space(new, self.num_envs)

    def _episode_seeds(self, seed):
        """Each environment's generator of seeds, its first episode's seed, and the
        generators' states before (to put back when the reset fails), as
        NavigationEnv keeps them."""
        if seed is None:
            if self._rngs is None:
                self._rngs = [_spaces.np_random()[0] for _ in range(self.num_envs)]
            states = [r.bit_generator.state for r in self._rngs]
            seeds = [_next_seed(r) for r in self._rngs]
            return self._rngs, np.array(seeds, dtype=np.int64), states
        if isinstance(seed, (list, tuple, np.ndarray)):
            chosen = [_checked_seed(s) for s in seed]
            if len(chosen) != self.num_envs:
                raise ValueError(f"seed must hold {self.num_envs} seeds, got {len(chosen)}")
        else:
            first = _checked_seed(seed)
            chosen = [first + k for k in range(self.num_envs)]
        started = [_seeded(s) for s in chosen]
        rngs = [rng for rng, _, _ in started]
        return rngs, np.array([s for _, _, s in started], dtype=np.int64), None

    def _all(self):
        return np.ones(self.num_envs, dtype=bool)

    def _infos(self, began, ticks, contacts, seeds, ended):
        """A step's infos as SyncVectorEnv gathers them: an environment that
        stepped has NavigationEnv.step's info (tick, contacts, and at the end of
        an episode robosim_episode and is_success), one that began an episode
        reset's (seed, tick); a key's array is zero where its mask is False."""
        infos = {"tick": ticks, "_tick": self._all()}
        stepped = ~began
        if stepped.any():
            infos["contacts"] = _zero_where(~stepped, contacts)
            infos["_contacts"] = stepped
        if not stepped.all():
            infos["seed"] = _zero_where(~began, seeds - 1)
            infos["_seed"] = began
        if ended is not None:
            done, r, l, t, success = ended
            stats = {"r": r, "l": l, "t": t, "success": success}
            for key in ("r", "l", "t", "success"):
                stats["_" + key] = done
            infos["robosim_episode"] = stats
            infos["_robosim_episode"] = done
            infos["is_success"] = success & done
            infos["_is_success"] = done
        return infos


def _zero_where(mask, values):
    return np.where(mask, np.zeros_like(values), values)


def _masked(infos, mask):
    """Vector infos kept only where ``mask`` is True (masks and values, nested
    dicts too), as the environments that have them would give them."""
    kept = {}
    for key, value in infos.items():
        if isinstance(value, dict):
            kept[key] = _masked(value, mask)
        elif key.startswith("_"):
            kept[key] = value & mask
        else:
            kept[key] = _zero_where(~mask, value)
    return kept


if _gymnasium is not None:  # pragma: no cover - depends on what is installed
    _register()
