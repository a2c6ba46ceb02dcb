"""Stand-ins for ``gymnasium.spaces``, used by ``robosim.env`` when Gymnasium is not
installed: ``Space``, ``Box`` and ``Dict`` behave as Gymnasium's do (1.x): the same
constructor arguments, casting rule, sampling (the same numbers from the same
generator), seeding, equality and attributes, so code written against either runs
with both.

``np_random(seed)`` is Gymnasium's ``gymnasium.utils.seeding.np_random``: the
generator a seed gives, and the seed it was made from.
"""

from collections.abc import Iterable, Mapping, Sequence

import numpy as np


def np_random(seed=None):
    """``(generator, seed)``: numpy's PCG64 generator seeded from ``seed`` (a
    non-negative int, or None for fresh entropy), and the seed (the entropy drawn
    when None), as ``gymnasium.utils.seeding.np_random`` gives them."""
    if seed is not None:
        if isinstance(seed, bool) or not isinstance(seed, (int, np.integer)):
            raise TypeError(f"a seed must be a non-negative int, not {type(seed).__name__}")
        if seed < 0:
            raise ValueError(f"a seed must be a non-negative int, got {seed}")
        seed = int(seed)
    sequence = np.random.SeedSequence(seed)
    return np.random.Generator(np.random.PCG64(sequence)), sequence.entropy


class Space:
    """A set of values with a generator to sample them (``gymnasium.spaces.Space``)."""

    def __init__(self, shape=None, dtype=None, seed=None):
        self._shape = None if shape is None else tuple(shape)
        self.dtype = None if dtype is None else np.dtype(dtype)
        self._np_random = None
        if isinstance(seed, np.random.Generator):
            self._np_random = seed
        elif seed is not None:
            self.seed(seed)

    @property
    def np_random(self):
        """The space's generator, seeded from fresh entropy on first use."""
        if self._np_random is None:
            self.seed()
        return self._np_random

    @property
    def shape(self):
        return self._shape

    @property
    def is_np_flattenable(self):
        raise NotImplementedError

    def seed(self, seed=None):
        """Seeds the generator; returns the seed used (fresh entropy when None)."""
        self._np_random, seed_used = np_random(seed)
        return seed_used

    def sample(self, mask=None, probability=None):
        raise NotImplementedError

    def contains(self, x):
        raise NotImplementedError

    def __contains__(self, x):
        return self.contains(x)

    def to_jsonable(self, sample_n):
        return list(sample_n)

    def from_jsonable(self, sample_n):
        return sample_n


def _is_real_scalar(value):
    return isinstance(value, (int, float, np.integer, np.floating)) and not isinstance(
        value, (bool, np.bool_)
    )


def _short_repr(array):
    """One number for an array of equal values, else the array, as Gymnasium shows them."""
    if array.size > 1 and np.min(array) == np.max(array):
        return str(np.min(array))
    return str(array)


class Box(Space):
    """The box [low, high] of arrays of one shape and dtype (``gymnasium.spaces.Box``).

    ``low`` and ``high`` are arrays of the shape or numbers (then ``shape`` is
    needed, else (1,)); infinite bounds leave that side unbounded. ``contains(x)``
    takes an array only if its dtype casts safely to the box's (float64 values
    are not in a float32 box), of the same shape, within the bounds; other values
    are converted to the box's dtype first.
    """

    def __init__(self, low, high, shape=None, dtype=np.float32, seed=None):
        self.dtype = np.dtype(dtype)
        if self.dtype.kind not in "iufb":
            raise ValueError(
                f"Invalid Box dtype ({self.dtype}), must be an integer, floating, or bool dtype"
            )
        shape = self._shape_of(low, high, shape)
        self._shape = shape
        if self.dtype.kind == "b":
            dtype_min, dtype_max = 0, 1
        elif self.dtype.kind == "f":
            dtype_min, dtype_max = float(np.finfo(self.dtype).min), float(np.finfo(self.dtype).max)
        else:
            dtype_min, dtype_max = int(np.iinfo(self.dtype).min), int(np.iinfo(self.dtype).max)
        self.low, self.bounded_below = self._cast_bound(low, -np.inf, dtype_min, "low")
        self.high, self.bounded_above = self._cast_bound(high, np.inf, dtype_max, "high")
        if self.low.shape != shape:
            raise ValueError(f"Box low.shape doesn't match provided shape, {self.low.shape}")
        if self.high.shape != shape:
            raise ValueError(f"Box high.shape doesn't match provided shape, {self.high.shape}")
        if np.any(self.low > self.high):
            raise ValueError(f"Box all low values must be less than or equal to high")
        self.low_repr = _short_repr(self.low)
        self.high_repr = _short_repr(self.high)
        super().__init__(shape, self.dtype, seed)

    @staticmethod
    def _shape_of(low, high, shape):
        if shape is not None:
            if not isinstance(shape, Iterable):
                raise TypeError(f"Box shape must be an iterable, actual type={type(shape)}")
            shape = tuple(shape)
            if not all(isinstance(d, (int, np.integer)) and not isinstance(d, bool) for d in shape):
                raise TypeError(f"Box all shape elements must be integers, actual shape={shape}")
            if not all(d >= 0 for d in shape):
                raise ValueError(f"Box shape must be non-negative, actual shape={shape}")
            return tuple(int(d) for d in shape)
        if isinstance(low, np.ndarray) and isinstance(high, np.ndarray):
            if low.shape != high.shape:
                raise ValueError(
                    f"Box low.shape and high.shape don't match, low.shape={low.shape}, "
                    f"high.shape={high.shape}"
                )
            return low.shape
        if isinstance(low, np.ndarray):
            return low.shape
        if isinstance(high, np.ndarray):
            return high.shape
        if _is_real_scalar(low) and _is_real_scalar(high):
            return (1,)
        raise ValueError(
            "Box.__init__ requires either low and high to be np.ndarray or shape, "
            f"actual low={type(low)}, high={type(high)}"
        )

    def _cast_bound(self, bound, infinity, dtype_limit, name):
        """The bound as an array of the box's dtype, and where it bounds."""
        if _is_real_scalar(bound):
            if np.isnan(bound):
                raise ValueError(f"No {name} value can be equal to `np.nan`, {name}={bound}")
            bounded = np.full(self._shape, bound != infinity, dtype=bool)
            if bound == infinity:
                bound = self._infinite_bound(infinity, dtype_limit, name)
            return np.full(self._shape, bound, dtype=self.dtype), bounded
        if not isinstance(bound, np.ndarray):
            raise ValueError(
                f"Box {name} must be a np.ndarray, integer, or float, actual type={type(bound)}"
            )
        if bound.dtype.kind not in "iufb":
            raise ValueError(
                f"Box {name} must be a floating, integer, or bool dtype, actual dtype={bound.dtype}"
            )
        if np.any(np.isnan(bound)):
            raise ValueError(f"No {name} value can be equal to `np.nan`, {name}={bound}")
        bounded = bound != infinity
        if not np.all(bounded):
            bound = bound.copy()
            bound[~bounded] = self._infinite_bound(infinity, dtype_limit, name)
        return bound.astype(self.dtype), bounded

    def _infinite_bound(self, infinity, dtype_limit, name):
        if self.dtype.kind == "f":
            return infinity
        if self.dtype.kind == "i":
            return dtype_limit
        raise ValueError(f"Box {self.dtype} {name} can't be infinite")

    @property
    def shape(self):
        return self._shape

    @property
    def is_np_flattenable(self):
        return True

    def is_bounded(self, manner="both"):
        """Whether the box is bounded "both", "below" or "above"."""
        below = bool(np.all(self.bounded_below))
        above = bool(np.all(self.bounded_above))
        if manner == "both":
            return below and above
        if manner == "below":
            return below
        if manner == "above":
            return above
        raise ValueError(f"manner is not in {{'below', 'above', 'both'}}, actual value: {manner}")

    def sample(self, mask=None, probability=None):
        """A random element: uniform where bounded on both sides, exponential
        from the bound where bounded on one, normal where unbounded."""
        if mask is not None or probability is not None:
            raise ValueError("Box.sample cannot be provided a mask or a probability")
        high = self.high.astype("float64") if self.dtype.kind == "f" else self.high.astype("int64") + 1
        sample = np.empty(self._shape)
        unbounded = ~self.bounded_below & ~self.bounded_above
        upp_bounded = ~self.bounded_below & self.bounded_above
        low_bounded = self.bounded_below & ~self.bounded_above
        bounded = self.bounded_below & self.bounded_above
        rng = self.np_random
        sample[unbounded] = rng.normal(size=unbounded[unbounded].shape)
        sample[low_bounded] = (
            rng.exponential(size=low_bounded[low_bounded].shape) + self.low[low_bounded]
        )
        sample[upp_bounded] = -rng.exponential(size=upp_bounded[upp_bounded].shape) + high[
            upp_bounded
        ]
        sample[bounded] = rng.uniform(
            low=self.low[bounded], high=high[bounded], size=bounded[bounded].shape
        )
        if self.dtype.kind in "iub":
            sample = np.floor(sample)
        return sample.astype(self.dtype)

    def contains(self, x):
        if not isinstance(x, np.ndarray):
            try:
                x = np.asarray(x, dtype=self.dtype)
            except (ValueError, TypeError):
                return False
        return bool(
            np.can_cast(x.dtype, self.dtype)
            and x.shape == self._shape
            and np.all(x >= self.low)
            and np.all(x <= self.high)
        )

    def to_jsonable(self, sample_n):
        return [np.asarray(sample).tolist() for sample in sample_n]

    def from_jsonable(self, sample_n):
        return [np.asarray(sample, dtype=self.dtype) for sample in sample_n]

    def __repr__(self):
        return f"Box({self.low_repr}, {self.high_repr}, {self._shape}, {self.dtype})"

    def __eq__(self, other):
        return (
            isinstance(other, Box)
            and self._shape == other._shape
            and self.dtype == other.dtype
            and np.allclose(self.low, other.low)
            and np.allclose(self.high, other.high)
        )

    __hash__ = None


class Dict(Space, Mapping):
    """A dict of spaces (``gymnasium.spaces.Dict``); its keys are sorted when they
    can be, and an element is a dict with exactly these keys."""

    def __init__(self, spaces=None, seed=None, **spaces_kwargs):
        if isinstance(spaces, Mapping):
            try:
                spaces = dict(sorted(spaces.items()))
            except TypeError:
                spaces = dict(spaces.items())
        elif isinstance(spaces, Sequence):
            spaces = dict(spaces)
        elif spaces is None:
            spaces = {}
        else:
            raise TypeError(
                f"Dict space must be a dict or a list of (key, space) pairs, not {type(spaces)}"
            )
        for key, space in spaces_kwargs.items():
            if key in spaces:
                raise ValueError(f"Dict space keyword '{key}' already exists in the spaces")
            spaces[key] = space
        for key, space in spaces.items():
            if not isinstance(space, Space):
                raise TypeError(f"Dict space element is not a Space, key={key}, space={space}")
        self.spaces = spaces
        super().__init__(None, None, seed if isinstance(seed, np.random.Generator) else None)
        if seed is not None and not isinstance(seed, np.random.Generator):
            self.seed(seed)

    @property
    def is_np_flattenable(self):
        return all(space.is_np_flattenable for space in self.spaces.values())

    def seed(self, seed=None):
        """None: each subspace from fresh entropy; an int: subseeds drawn from it;
        a dict: a seed per key. Returns the seeds, by key."""
        if seed is None:
            return {key: space.seed(None) for key, space in self.spaces.items()}
        if isinstance(seed, (int, np.integer)) and not isinstance(seed, bool):
            super().seed(seed)
            subseeds = self.np_random.integers(np.iinfo(np.int32).max, size=len(self.spaces))
            return {
                key: space.seed(int(subseed))
                for (key, space), subseed in zip(self.spaces.items(), subseeds)
            }
        if isinstance(seed, dict):
            if seed.keys() != self.spaces.keys():
                raise ValueError(
                    f"The seed keys ({seed.keys()}) are not the Dict's ({self.spaces.keys()})"
                )
            return {key: self.spaces[key].seed(seed[key]) for key in seed}
        raise TypeError(f"Expected seed type: dict, int or None, actual type: {type(seed)}")

    def sample(self, mask=None, probability=None):
        if mask is not None or probability is not None:
            raise ValueError("this Dict.sample takes no mask or probability")
        return {key: space.sample() for key, space in self.spaces.items()}

    def contains(self, x):
        return (
            isinstance(x, dict)
            and x.keys() == self.spaces.keys()
            and all(x[key] in space for key, space in self.spaces.items())
        )

    def __getitem__(self, key):
        return self.spaces[key]

    def __iter__(self):
        yield from self.spaces

    def __len__(self):
        return len(self.spaces)

    def __repr__(self):
        return "Dict(" + ", ".join(f"{k!r}: {s}" for k, s in self.spaces.items()) + ")"

    def __eq__(self, other):
        return isinstance(other, Dict) and self.spaces == other.spaces

    __hash__ = None

    def to_jsonable(self, sample_n):
        return {key: space.to_jsonable([s[key] for s in sample_n]) for key, space in self.spaces.items()}

    def from_jsonable(self, sample_n):
        decoded = {key: space.from_jsonable(sample_n[key]) for key, space in self.spaces.items()}
        count = len(next(iter(decoded.values()))) if decoded else 0
        return [{key: values[n] for key, values in decoded.items()} for n in range(count)]
