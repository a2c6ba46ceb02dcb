"""What a sweep's rows are made from, beyond their inputs: the content of the
world file (its SHA-256), that of the controller's module and the build of
robosim. A row names all three (sweep_rows.ORIGIN_COLUMNS); a resumed sweep uses
a row only when they are what they are now, and a worker refuses a run whose
world, controller or build is not the one the sweep began with."""

import collections
import functools
import hashlib
import importlib
import os
import sys

from robosim.sweep_rows import CsvRefused, inputs_key, open_regular, run_key, shown

# The world-file reader refuses larger files; hashing stops there too, so that a
# huge file is not read whole only to be refused.
WORLD_FILE_LIMIT = 16 << 20


class OriginMismatch(Exception):
    """A run's world, controller or build is not the one its sweep began with."""


def file_sha256(path, limit=WORLD_FILE_LIMIT):
    """The SHA-256 (hexadecimal) of a regular file of at most limit bytes.
    Raises OSError, or ValueError for what is not such a file (a FIFO or a
    device is never read)."""
    try:
        descriptor = open_regular(path, os.O_RDONLY)
    except CsvRefused:
        raise ValueError(f"{shown(path)} is not a regular file") from None
    digest = hashlib.sha256()
    with open(descriptor, "rb") as stream:
        while chunk := stream.read(1 << 20):
            digest.update(chunk)
            if stream.tell() > limit:
                raise ValueError(f"{shown(path)} is larger than {limit >> 20} MiB")
    return digest.hexdigest()


@functools.cache
def build_identity():
    """This process's robosim: its version and the start of the SHA-256 of its
    compiled module, which holds the whole simulation ('1.0.0+3fa2c1d4e5f60718')."""
    from robosim import __version__, _robosim

    return f"{__version__}+{file_sha256(_robosim.__file__, limit=1 << 40)[:16]}"


def load_controller(reference, directory):
    """The controller function of 'module:function', imported with `directory`
    searched first."""
    module_name, _, function_name = str(reference).partition(":")
    if directory not in sys.path:
        sys.path.insert(0, directory)
    module = importlib.import_module(module_name)
    function = getattr(module, function_name, None)
    if not callable(function):
        raise AttributeError(f"{module_name} has no function {function_name}")
    return function


@functools.cache
def controller_origin(reference, directory):
    """The function of a controller 'module:function' and the SHA-256 of its
    module's file, read once, when the module is first loaded in this process
    (a worker keeps the module it loaded, whatever happens to the file later).
    A module without a file of its own has an empty hash."""
    function = load_controller(reference, directory)
    path = getattr(sys.modules.get(reference.partition(":")[0]), "__file__", None)
    return function, (file_sha256(path, limit=1 << 30) if path else "")


def check_run(run, world_sha256, controller_sha256):
    """Raises OriginMismatch when what a worker found differs from what the
    sweep expects of the run (its origin columns)."""
    if world_sha256 != run["world_sha256"]:
        raise OriginMismatch(f"the world file {shown(run['world'])} has changed since the sweep "
                             "began (or this worker sees another file by that name)")
    if controller_sha256 != run["controller_sha256"]:
        raise OriginMismatch(f"the module of the controller {shown(run['controller'])} on this "
                             "worker is not the one the sweep loaded (it has changed since, or is "
                             "another file)")
    if build_identity() != run["build"]:
        raise OriginMismatch(f"this worker runs robosim {build_identity()}, the sweep "
                             f"{run['build']}; run every worker with the sweep's build")


class Origins:
    """What the runs of a sweep are made from now: each world file's SHA-256 (or
    why it cannot be read), the controller's and this build."""

    def __init__(self, worlds, controller_sha256):
        self.build = build_identity()
        self.controller = controller_sha256
        self.worlds = {}  # world -> SHA-256 ("" for the default world)
        self.unreadable = {}  # world -> why it cannot be read
        for world in worlds:
            try:
                self.worlds[world] = file_sha256(world) if world else ""
            except (OSError, ValueError) as error:
                reason = getattr(error, "strerror", None) or error
                self.unreadable[world] = (f"{type(error).__name__}: cannot read {shown(world)}: "
                                          f"{reason}")

    def of(self, inputs):
        """The origin columns of a run (world_sha256 None for an unreadable world)."""
        return {"world_sha256": self.worlds.get(inputs["world"]),
                "controller_sha256": self.controller, "build": self.build}


# Why a row is not used, in the order they are looked at, and the column that says so.
REASONS = (("world", "world_sha256"), ("controller", "controller_sha256"), ("build", "build"))


def stale_rows(done, runs):
    """The rows of done (run key -> row) of the same inputs as one of runs but
    made from something else, with why: [(row, reason)], reason one of "world",
    "controller", "build". Runs of unreadable worlds, and runs that have a row
    made from what they are made from now, are left out."""
    wanted = {inputs_key(run): run for run in runs
              if run["world_sha256"] is not None and run_key(run) not in done}
    stale = []
    for row in done.values():
        run = wanted.get(inputs_key(row))
        if run is None:
            continue
        reason = next(reason for reason, column in REASONS if row[column] != run[column])
        stale.append((row, reason))
    return stale


def describe_stale(stale, out, build):
    """Lines that say which rows of out are not used, and why."""
    counts = collections.Counter((reason, row[reason]) for row, reason in stale)
    lines = []
    for (reason, what), count in sorted(counts.items()):
        rows = f"{count} row{'' if count == 1 else 's'} of {shown(out)}"
        if reason == "world":
            lines.append(f"{rows} {'was' if count == 1 else 'were'} made from another content of "
                         f"{shown(what)} (the file has changed since)")
        elif reason == "controller":
            lines.append(f"{rows} {'was' if count == 1 else 'were'} made with another content of "
                         f"the module of the controller {shown(what)}")
        else:
            lines.append(f"{rows} {'was' if count == 1 else 'were'} made by robosim {shown(what)}, "
                         f"not by this build ({build})")
    if lines:
        lines[-1] += ("; such rows stay in the file but this sweep does not use them: their runs "
                      "run again")
    return lines
