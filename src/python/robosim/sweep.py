"""Parameter sweeps of the robot simulator on dask.distributed.

Every combination of world, seed and gains is one run (one task); the runs go to
a local cluster of single-threaded worker processes (one per core) or to an
existing cluster, and their rows stream into a CSV as they finish. A second run
of the same sweep skips the combinations already in the CSV. At the end a summary
per combination of the inputs other than the seed (with paired differences to a
baseline when asked), figures and, when asked, a Markdown report are written.
SIGINT, SIGTERM and SIGHUP stop it cleanly: the finished rows are kept. See
docs/experiments.md.

    python3 -m robosim.sweep --world worlds/maze.dat --seeds 1-20 \\
        --scale1 0.05,0.11,0.2 --ticks 60000 --out maze.csv
"""

import argparse
import glob
import itertools
import math
import os
import shlex
import stat
import sys
import time
import tomllib

from robosim import __version__
from robosim.sweep_cluster import (
    NoWorkers,
    StopRequest,
    Unreachable,
    WorkerWatch,
    cluster_client,
    run_all,
)
from robosim.sweep_origin import Origins, controller_origin, describe_stale, stale_rows
from robosim.sweep_rows import (
    DEFAULT_METRIC,
    GAINS,
    INPUT_COLUMNS,
    METRICS,
    CsvRefused,
    RunsFile,
    open_regular,
    run_key,
    shown,
)

PROGRAM = "robosim-sweep"

EXIT_OK = 0
EXIT_FAILED_RUNS = 1  # some runs failed (the others' rows are in the CSV)
EXIT_USAGE = 2  # bad command line or configuration, or an unusable output file
# A stop by a signal exits with 128 + its number: 130 SIGINT, 143 SIGTERM, 129 SIGHUP.

DEFAULT_TICKS = 6000
DEFAULT_PERIOD_MS = 10
MAX_TICKS = 1_000_000_000_000
MAX_PERIOD_MS = 60_000
MAX_SEED = 4_294_967_295
MAX_COMBINATIONS = 1_000_000
MAX_RANGE_COUNT = 10_000
MAX_WORKERS = 1024
DEFAULT_WORKER_WAIT_SECONDS = 300
MAX_WORKER_WAIT_SECONDS = 1_000_000_000
MAX_CONFIG_BYTES = 1 << 20
DEFAULT_WORLD = "default"  # --world default: the default world (as is --world '')


class UsageError(Exception):
    """A bad command line, configuration or output file: a message, exit code 2."""


# --- Parsing the sweep's inputs ---------------------------------------------


def parse_seeds(text):
    """'1-20', '1,5,9' or a mix ('1-3,7') -> the seeds in order, without repeats."""
    seeds = []
    for item in str(text).split(","):
        item = item.strip()
        first, dash, last = item.partition("-")
        try:
            low = int(first, 10)
            high = int(last, 10) if dash else low
        except ValueError:
            raise UsageError(f"--seeds: '{item}' is neither a seed nor a range like 1-20") from None
        if not (0 <= low <= MAX_SEED and 0 <= high <= MAX_SEED):
            raise UsageError(f"--seeds: '{item}' lies outside 0 to {MAX_SEED}")
        if high < low:
            raise UsageError(f"--seeds: the range '{item}' ends before it begins")
        if len(seeds) + high - low + 1 > MAX_COMBINATIONS:
            raise UsageError(f"--seeds: more than {MAX_COMBINATIONS} seeds")
        seeds.extend(range(low, high + 1))
    return list(dict.fromkeys(seeds))


def _gain_number(text, option):
    try:
        value = float(text)
    except ValueError:
        raise UsageError(f"--{option}: '{text.strip()}' is not a number") from None
    if not math.isfinite(value):
        raise UsageError(f"--{option}: '{text.strip()}' is not a finite number")
    return value


def parse_gains(text, option="scale1"):
    """'0.05,0.11' or 'start:stop:count' (count values, both ends included)."""
    text = str(text)
    if ":" in text:
        parts = text.split(":")
        if len(parts) != 3:
            raise UsageError(f"--{option}: a range is start:stop:count, not '{text}'")
        start, stop = (_gain_number(part, option) for part in parts[:2])
        try:
            count = int(parts[2], 10)
        except ValueError:
            raise UsageError(f"--{option}: the count '{parts[2]}' is not a whole number") from None
        if not 2 <= count <= MAX_RANGE_COUNT:
            raise UsageError(f"--{option}: the count of a range is 2 to {MAX_RANGE_COUNT}")
        # Twelve significant digits keep 0.05:0.2:4 at 0.1, not 0.10000000000000002.
        values = [float(f"{start + (stop - start) * i / (count - 1):.12g}") for i in range(count)]
    else:
        values = [_gain_number(item, option) for item in text.split(",")]
    return list(dict.fromkeys(values))


def expand_worlds(patterns):
    """The world files of the --world options, globs expanded in sorted order;
    "default" or an empty name is the default world (""). A plain name is kept
    even when there is no such file: its runs fail as they would with any
    unreadable world."""
    worlds = []
    for pattern in patterns:
        if pattern in ("", DEFAULT_WORLD):
            worlds.append("")
        elif glob.has_magic(pattern):
            matches = sorted(glob.glob(pattern))
            if not matches:
                raise UsageError(f"--world: '{pattern}' matches no file")
            worlds.extend(matches)
        else:
            worlds.append(pattern)
    return list(dict.fromkeys(worlds))


# What a pose and a target are: (numbers, what the option's value is).
PLACEMENTS = {"pose": (3, "X,Y,HEADING"), "target": (2, "X,Y")}


def parse_placements(texts, option):
    """The values of --pose or --target: each a point of the axis, 'random' or
    numbers separated by commas; several in one value separated by ';'. The
    numbers as the CSV writes them (2,8 -> '2.0,8.0'), without repeats. Whether
    the robot or the target fits in the world is the run's to say."""
    count, form = PLACEMENTS[option]
    values = []
    for text in texts:
        for item in str(text).split(";"):
            item = item.strip()
            if item == "random":
                values.append(item)
                continue
            parts = item.split(",")
            numbers = []
            for part in parts:
                try:
                    numbers.append(float(part))
                except ValueError:
                    numbers.append(math.nan)
            if len(numbers) != count or not all(map(math.isfinite, numbers)):
                raise UsageError(f"--{option}: '{brief(item)}' is neither {form} ({count} finite "
                                 "numbers) nor random")
            values.append(",".join(repr(number) for number in numbers))
    return list(dict.fromkeys(values))


def whole_number(text, option, low, high):
    text = str(text)
    try:
        value = int(text, 10)
    except ValueError:
        value = None
    if value is None or not low <= value <= high:
        # A number too long for int() (or to show) lies outside the range too.
        digits = text.strip().lstrip("+-")
        if value is None and not (digits.isascii() and digits.isdigit()):
            raise UsageError(f"--{option}: '{brief(text)}' is not a whole number")
        raise UsageError(f"--{option}: {brief(text.strip())} lies outside {low} to {high}")
    return value


def brief(text, length=40):
    """Text for a message, a long one cut short and its length said."""
    return text if len(text) <= length else f"{text[:length]}… ({len(text)} characters)"


def split_controller(reference):
    """'module:function' -> (module, function)."""
    module, colon, function = str(reference).partition(":")
    if not colon or not module or not function or ":" in function:
        raise UsageError(f"--controller: '{reference}' is not module:function")
    return module, function


def parse_metrics(names):
    metrics = []
    for name in names:
        for item in str(name).split(","):
            item = item.strip()
            if item not in METRICS:
                raise UsageError(f"--metric: '{item}' is not a metric; --list-metrics lists them")
            metrics.append(item)
    return list(dict.fromkeys(metrics)) or [DEFAULT_METRIC]


def parse_formats(text):
    from robosim.sweep_figures import FORMATS

    formats = [item.strip().lower() for item in str(text).split(",")]
    for fmt in formats:
        if fmt not in FORMATS:
            raise UsageError(f"--plot-format: '{fmt}' is none of {', '.join(FORMATS)}")
    return list(dict.fromkeys(formats))


def parse_baseline(text, gains):
    """'scale1=0.11' -> ('scale1', '0.11' as the CSV writes it); the gain must be
    swept and the value one of its values."""
    name, equals, value = str(text).partition("=")
    name = name.strip()
    if not equals or name not in GAINS:
        raise UsageError(f"--baseline: '{text}' is not GAIN=VALUE with GAIN one of "
                         f"{', '.join(GAINS)}")
    if len(gains[name]) < 2:
        raise UsageError(f"--baseline: {name} is not swept; a baseline is one of the values of "
                         "a gain given several")
    number = _gain_number(value, "baseline")
    if number not in gains[name]:
        raise UsageError(f"--baseline: {number:g} is not one of the values of {name} "
                         f"({', '.join(f'{v:g}' for v in gains[name])})")
    return name, gain_text(number)


def seeds_text(seeds):
    """The seeds as ranges and single seeds: [1, 2, 3, 7] -> '1-3,7'."""
    parts = []
    start = previous = None
    for seed in seeds + [None]:
        if seed is not None and previous is not None and seed == previous + 1:
            previous = seed
            continue
        if start is not None:
            parts.append(str(start) if start == previous else f"{start}-{previous}")
        start = previous = seed
    return ",".join(parts)


# --- The command line and the configuration file ----------------------------


def argument_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Runs the robot simulator over every combination of worlds, seeds and "
        "gains on dask.distributed and writes one CSV row per run, a summary, figures and "
        "optionally a Markdown report.",
        epilog="Exit codes: 0 every run done, 1 some runs failed, 2 bad command line, "
        "configuration or output file, 128 + signal when stopped by a signal (130 Ctrl-C, "
        "143 SIGTERM; the finished rows are kept).",
    )
    parser.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}")
    parser.add_argument("--config", metavar="FILE", help="a TOML file with the options below as keys")
    parser.add_argument("--seeds", help="seeds: a range 1-20 or a list 1,5,9 (default 1)")
    parser.add_argument("--world", action="append", metavar="FILE",
                        help="a world file; repeatable, globs allowed; 'default' is the default "
                        "world (the default)")
    for gain in GAINS:
        parser.add_argument(f"--{gain}", metavar="VALUES",
                            help=f"values of {gain}: a list 0.05,0.11 or a range start:stop:count "
                            "(default: the world's own)")
    for option, (_, form) in PLACEMENTS.items():
        what = "the robot's start pose" if option == "pose" else "the target"
        parser.add_argument(f"--{option}", action="append", metavar=form,
                            help=f"{what}, {form} or random (drawn from the run's seed); "
                            "repeatable, or several separated by ';', each a value of the sweep "
                            "(default: the world's own)")
    parser.add_argument("--ticks", help=f"ticks per run (default {DEFAULT_TICKS})")
    parser.add_argument("--period-ms", dest="period_ms",
                        help=f"tick period in milliseconds (default {DEFAULT_PERIOD_MS})")
    parser.add_argument("--controller", metavar="MODULE:FUNCTION",
                        help="a function called with the Simulation before every tick, in manual "
                        "mode; MODULE is looked up in the current directory first")
    parser.add_argument("--metric", action="append", metavar="NAME",
                        help=f"a metric the summary and the figures show; repeatable (default "
                        f"{DEFAULT_METRIC}; --list-metrics lists them)")
    parser.add_argument("--list-metrics", action="store_true", dest="list_metrics",
                        help="lists the metrics with their meaning and unit, and exits")
    parser.add_argument("--baseline", metavar="GAIN=VALUE",
                        help="adds the paired differences to this value of a swept gain over "
                        "the same seeds, e.g. scale1=0.11")
    parser.add_argument("--plot-format", dest="plot_format", metavar="FORMATS",
                        help="the figures' formats, of png, svg, pdf (default png,svg)")
    parser.add_argument("--shared-y", dest="shared_y", action="store_const", const=True,
                        help="one y axis (one colour scale for heat maps) across the worlds")
    parser.add_argument("--report", metavar="FILE.md",
                        help="writes a Markdown report of the experiment to this file")
    parser.add_argument("--out", metavar="FILE.csv", help="the CSV of the runs (default sweep.csv)")
    parser.add_argument("--workers", help="worker processes of the local cluster (default: one per core)")
    parser.add_argument("--threads", help="runs at once in each worker process of the local "
                        "cluster, each on a thread of its own (default 1)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="runs on an existing cluster, e.g. tcp://host:8786")
    parser.add_argument("--wait-for-workers", dest="wait_for_workers", metavar="SECONDS",
                        help="how long to wait for a worker while the cluster has none, before "
                        f"giving up (default {DEFAULT_WORKER_WAIT_SECONDS})")
    return parser


OPTION_KEYS = ("seeds", "world", *PLACEMENTS, *GAINS, "ticks", "period_ms", "controller", "metric", "baseline",
               "plot_format", "shared_y", "report", "out", "workers", "threads", "scheduler",
               "wait_for_workers")


def read_config(path):
    """The options a TOML file gives, keys as the options' names (period-ms or period_ms)."""
    try:
        descriptor = open_regular(path, os.O_RDONLY)
    except OSError as error:
        raise UsageError(f"--config: cannot read {shown(path)}: {error.strerror or error}") from None
    except CsvRefused as refusal:
        raise UsageError(f"--config: {refusal}") from None
    with open(descriptor, "rb") as stream:
        data = stream.read(MAX_CONFIG_BYTES + 1)
    if len(data) > MAX_CONFIG_BYTES:
        raise UsageError(f"--config: {shown(path)} is larger than {MAX_CONFIG_BYTES} bytes")
    try:
        table = tomllib.loads(data.decode("utf-8"))
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
        raise UsageError(f"--config: {shown(path)} is not valid TOML: {error}") from None
    except RecursionError:  # tomllib reads nested arrays and tables by recursion
        raise UsageError(f"--config: {shown(path)}: arrays or tables are nested too deeply "
                         "to be read") from None
    except ValueError as error:  # Python's limit on the digits of a whole number
        raise UsageError(f"--config: {shown(path)}: a number has more digits than can be read "
                         f"({sys.get_int_max_str_digits()} at most)") from None
    options = {}
    for key, value in table.items():
        name = key.replace("-", "_")
        if name not in OPTION_KEYS:
            raise UsageError(f"--config: {shown(path)}: unknown key '{key}'")
        options[name] = config_value(name, value, path)
    return options


def config_value(name, value, path):
    """A configuration value as the command line's text would give it."""
    def wrong(kind):
        return UsageError(f"--config: {shown(path)}: '{name}' must be {kind}")

    def scalar(item):
        if isinstance(item, bool) or not isinstance(item, (int, float, str)):
            raise wrong("a number or a text")
        return str(item)

    if name in ("world", "metric", *PLACEMENTS):
        items = value if isinstance(value, list) else [value]
        if not items or not all(isinstance(item, str) for item in items):
            raise wrong("a text or a list of them")
        return items
    if name == "shared_y":
        if not isinstance(value, bool):
            raise wrong("true or false")
        return value
    if name in ("seeds", "plot_format", *GAINS):
        if isinstance(value, list):
            if not value:
                raise wrong("a list with at least one value")
            return ",".join(scalar(item) for item in value)
        return scalar(value)
    if name in ("controller", "out", "scheduler", "baseline", "report") and not isinstance(value, str):
        raise wrong("a text")
    return scalar(value)


class Sweep:
    """The checked inputs of a sweep."""

    def __init__(self, options):
        self.seeds = parse_seeds(options.get("seeds") or "1")
        self.worlds = expand_worlds(options.get("world") or []) or [""]
        # "" for the world's own.
        self.placements = {option: parse_placements(options.get(option) or [], option) or [""]
                           for option in PLACEMENTS}
        self.gains = {}
        self.gain_texts = {}  # as given, for the configuration in the report
        self.ranges = set()  # the gains given as start:stop:count
        for gain in GAINS:
            text = options.get(gain)
            self.gains[gain] = parse_gains(text, gain) if text is not None else [None]
            if text is not None:
                self.gain_texts[gain] = str(text)
                if ":" in str(text):
                    self.ranges.add(gain)
        self.ticks = whole_number(options.get("ticks", DEFAULT_TICKS), "ticks", 0, MAX_TICKS)
        self.period_ms = whole_number(options.get("period_ms", DEFAULT_PERIOD_MS), "period-ms", 1,
                                      MAX_PERIOD_MS)
        self.controller = options.get("controller") or ""
        self.controller_sha256 = ""
        if self.controller:
            split_controller(self.controller)
            try:
                self.controller_sha256 = controller_origin(self.controller, os.getcwd())[1]
            except Exception as error:  # the user's module may raise anything
                raise UsageError(f"--controller: cannot load {self.controller}: "
                                 f"{type(error).__name__}: {error}") from None
        self.metrics = parse_metrics(options.get("metric") or [])
        self.baseline = (parse_baseline(options["baseline"], self.gains)
                         if options.get("baseline") else None)
        from robosim.sweep_figures import DEFAULT_FORMATS

        self.formats = parse_formats(options.get("plot_format") or ",".join(DEFAULT_FORMATS))
        self.shared_y = bool(options.get("shared_y"))
        self.out = options.get("out") or "sweep.csv"
        self.report = options.get("report") or ""
        self.scheduler = options.get("scheduler") or ""
        workers = options.get("workers")
        if workers is not None and self.scheduler:
            raise UsageError("--workers is for the local cluster; the cluster at --scheduler "
                             "has the workers its own commands started")
        self.workers = (whole_number(workers, "workers", 1, MAX_WORKERS) if workers is not None
                        else os.cpu_count() or 1)
        threads = options.get("threads")
        if threads is not None and self.scheduler:
            raise UsageError("--threads is for the local cluster; the cluster at --scheduler "
                             "has the threads its own commands started")
        self.threads = whole_number(threads, "threads", 1, MAX_WORKERS) if threads is not None else 1
        self.wait_for_workers = whole_number(
            options.get("wait_for_workers", DEFAULT_WORKER_WAIT_SECONDS), "wait-for-workers", 0,
            MAX_WORKER_WAIT_SECONDS)
        count = len(self.seeds) * len(self.worlds)
        for values in self.placements.values():
            count *= len(values)
        for values in self.gains.values():
            count *= len(values)
        if count > MAX_COMBINATIONS:
            raise UsageError(f"the sweep has {count} runs, more than {MAX_COMBINATIONS}")

    def swept_gains(self):
        """The gains given more than one value, in order."""
        return [gain for gain in GAINS if len(self.gains[gain]) > 1]

    def runs(self):
        """The inputs of every run, as the CSV's text: world, seed, gains, ... in order."""
        scenarios = itertools.product(self.worlds, self.placements["pose"],
                                      self.placements["target"])
        for (world, pose, target), scale1, scale2, scale3, seed in itertools.product(
                scenarios, *(self.gains[gain] for gain in GAINS), self.seeds):
            yield {
                "world": world,
                "pose": pose,
                "target": target,
                "seed": str(seed),
                "scale1": gain_text(scale1),
                "scale2": gain_text(scale2),
                "scale3": gain_text(scale3),
                "ticks": str(self.ticks),
                "period_ms": str(self.period_ms),
                "controller": self.controller,
            }

    def base(self):
        return os.path.splitext(self.out)[0]

    def outputs(self):
        """Every file the sweep may write, by what it is: [(what, option, path)]."""
        base = self.base()
        files = [("the runs' CSV", "--out", self.out),
                 ("the summary", "--out", f"{base}.summary.csv")]
        files += [(f"the {fmt.upper()} figure", "--out", f"{base}.{fmt}") for fmt in self.formats]
        if self.baseline:
            files += [(f"the {fmt.upper()} figure of the differences", "--out",
                       f"{base}.paired.{fmt}") for fmt in self.formats]
        if self.report:
            files.append(("the report", "--report", self.report))
        return files

    def configuration(self):
        """The sweep as a TOML configuration that runs it again (--config)."""
        lines = [f"world = [{', '.join(toml_string(w or DEFAULT_WORLD) for w in self.worlds)}]",
                 f"seeds = {toml_string(seeds_text(self.seeds))}"]
        lines += [f"{option} = [{', '.join(toml_string(v) for v in values)}]"
                  for option, values in self.placements.items() if values != [""]]
        lines += [f"{gain} = {toml_string(self.gain_texts[gain])}" for gain in GAINS
                  if gain in self.gain_texts]
        lines += [f"ticks = {self.ticks}", f"period_ms = {self.period_ms}"]
        if self.controller:
            lines.append(f"controller = {toml_string(self.controller)}")
        lines.append(f"metric = [{', '.join(toml_string(m) for m in self.metrics)}]")
        if self.baseline:
            lines.append(f"baseline = {toml_string('='.join(self.baseline))}")
        lines.append(f"plot_format = [{', '.join(toml_string(f) for f in self.formats)}]")
        lines.append(f"shared_y = {'true' if self.shared_y else 'false'}")
        lines.append(f"out = {toml_string(self.out)}")
        if self.report:
            lines.append(f"report = {toml_string(self.report)}")
        return "\n".join(lines) + "\n"


def toml_string(text):
    """A TOML basic string. A name that is not UTF-8 cannot be written in TOML:
    its bytes are shown as \\xNN, which names another file."""
    escaped = []
    for char in shown(text):
        if char in '"\\':
            escaped.append("\\" + char)
        elif ord(char) < 0x20 or ord(char) == 0x7F:
            escaped.append(f"\\u{ord(char):04x}")
        else:
            escaped.append(char)
    return '"' + "".join(escaped) + '"'


def gain_text(value):
    return "" if value is None else repr(value)


def describe(inputs):
    """The inputs of a run for a message: 'world=maze.dat seed=3 scale1=0.1'."""
    parts = []
    for column in INPUT_COLUMNS:
        value = inputs[column]
        if column == "world" and not value:
            value = "(default)"
        if value:
            parts.append(f"{column}={shown(value)}")
    return " ".join(parts)


# --- The output files -------------------------------------------------------


def check_outputs(files):
    """Every output must be a regular file or not exist yet, in a folder that
    exists, and no two may be the same file (as written, or through links)."""
    seen = {}
    for what, option, path in files:
        try:
            mode = os.stat(path).st_mode
        except FileNotFoundError:
            mode = None
        except OSError as error:
            raise UsageError(f"{option}: cannot use {shown(path)} for {what}: "
                             f"{error.strerror or error}") from None
        if mode is not None and not stat.S_ISREG(mode):
            raise UsageError(f"{option}: {shown(path)} ({what}) is not a regular file; choose "
                             "another name")
        folder = os.path.dirname(os.path.abspath(path))
        if not os.path.isdir(folder):
            raise UsageError(f"{option}: the folder of {shown(path)} ({what}) does not exist")
        identity = same_file_identity(path, mode)
        if identity in seen:
            other = seen[identity]
            raise UsageError(f"{option}: {shown(path)} would be both {other} and {what}; "
                             "choose other names")
        seen[identity] = what


def same_file_identity(path, mode):
    """What makes two names one file: the device and inode of an existing file
    (hard links too), else the resolved path."""
    if mode is not None:
        info = os.stat(path)
        return ("inode", info.st_dev, info.st_ino)
    return ("path", os.path.realpath(path))


# --- The sweep --------------------------------------------------------------


def sweep_main(sweep, stop, command):
    check_outputs(sweep.outputs())
    try:
        runs_file = RunsFile(sweep.out)
    except CsvRefused as refusal:
        raise UsageError(f"--out: {refusal}") from None
    if runs_file.dropped:
        lines = ", ".join(map(str, runs_file.dropped[:10])) + (", …" if len(runs_file.dropped) > 10 else "")
        warn(f"{plural_rows(len(runs_file.dropped))} of {shown(sweep.out)} broken or repeated "
             f"(line {lines}) dropped; their runs run again")
    origins = Origins(sweep.worlds, sweep.controller_sha256)
    all_runs = [{**inputs, **origins.of(inputs)} for inputs in sweep.runs()]
    for line in describe_stale(stale_rows(runs_file.done, all_runs), sweep.out, origins.build):
        warn(line)
    todo = [inputs for inputs in all_runs if run_key(inputs) not in runs_file.done]
    skipped = len(all_runs) - len(todo)
    if skipped:
        say(f"{skipped} of {len(all_runs)} runs are already in {shown(sweep.out)}; skipped")
    failures = []
    for inputs in todo:
        if inputs["world"] in origins.unreadable:
            report_failure(failures, inputs, origins.unreadable[inputs["world"]], say)
    todo = [inputs for inputs in todo if inputs["world"] not in origins.unreadable]
    seconds = 0.0
    try:
        runs_file.open()
    except CsvRefused as refusal:
        raise UsageError(f"--out: {refusal}") from None
    gave_up = None
    try:
        if todo and not stop.requested:
            seconds = run_on_cluster(sweep, todo, runs_file, failures, stop)
    except NoWorkers as error:
        gave_up = error
    finally:
        runs_file.close()
    rows = [runs_file.done[run_key(inputs)] for inputs in all_runs if run_key(inputs) in runs_file.done]
    if gave_up:
        warn(f"{gave_up}; {len(rows)} of {len(all_runs)} runs are in {shown(sweep.out)}: run the "
             "same sweep again to do the rest")
        return EXIT_USAGE
    if stop.requested:
        warn(f"interrupted: {len(rows)} of {len(all_runs)} runs are in {shown(sweep.out)}; run the "
             "same sweep again to do the rest")
        return stop.exit_code()
    results = Results(sweep, rows, stop)
    written = results.write(command, counts={"runs": len(all_runs), "done": len(todo) - len(failures),
                                             "skipped": skipped, "failed": len(failures)})
    if stop.requested:
        warn(f"interrupted: {len(rows)} of {len(all_runs)} runs are in {shown(sweep.out)}, but the "
             "summary, figures and report are not all written; run the same sweep again to "
             "write them")
        return stop.exit_code()
    if written is None:
        return EXIT_FAILED_RUNS
    say(f"{plural_runs(len(todo) - len(failures))} done in {seconds:.2f} s, {skipped} skipped, "
        f"{len(failures)} failed; " + ", ".join([f"rows in {shown(sweep.out)}", *written]))
    if failures:
        warn(f"{plural_runs(len(failures))} failed (listed above); they are not in "
             f"{shown(sweep.out)} and run again when the sweep is run again")
        return EXIT_FAILED_RUNS
    return EXIT_OK


class Results:
    """The summary, the figures and the report of a sweep's rows, written one
    after the other; a stop request is looked at between any two files."""

    def __init__(self, sweep, rows, stop):
        from robosim import sweep_report

        self.sweep = sweep
        self.rows = rows
        self.stop = stop
        self.summary = sweep_report.summarise(rows, sweep.metrics)
        self.compared = (sweep_report.compare_paired(rows, sweep.metrics, sweep.baseline)
                         if sweep.baseline else {})
        self.figures = {}  # kind -> the paths written
        self.notes = []

    def write(self, command, counts):
        """Writes everything; returns what was written for the closing message,
        or None when a file could not be written (said on standard error)."""
        from robosim import sweep_report

        base = self.sweep.base()
        say(sweep_report.format_summary(self.summary, self.compared, self.sweep.baseline),
            stream=sys.stdout)
        written = []
        try:
            sweep_report.write_summary_csv(self.summary, self.compared, self.sweep.baseline,
                                           f"{base}.summary.csv")
            written.append(f"summary in {shown(base)}.summary.csv")
            for kind, suffix in (("means", ""), ("differences", ".paired")):
                if kind == "differences" and not self.sweep.baseline:
                    continue
                if self.stop.requested:
                    return written
                paths = self.draw(kind, base + suffix)
                if paths:
                    self.figures[kind] = paths
                    written.append(f"figures in {', '.join(map(shown, paths))}")
            if self.sweep.report and not self.stop.requested:
                from robosim import sweep_markdown

                sweep_markdown.write_report(self, command, counts)
                written.append(f"report in {shown(self.sweep.report)}")
        except OSError as error:
            warn(f"cannot write {shown(error.filename or 'the summary')}: {error.strerror or error}")
            return None
        return written

    def draw(self, kind, base):
        from robosim import sweep_figures

        sweep = self.sweep
        plan = sweep_figures.FigurePlan(sweep.metrics, sweep.swept_gains(), sweep.ranges,
                                        sweep.shared_y, sweep.ticks, sweep.period_ms, sweep.baseline)
        data = self.rows if kind == "means" else self.compared
        paths = sweep_figures.draw(kind, data, plan, base, sweep.formats, lambda: self.stop.requested)
        if paths is None:
            if kind == "means":
                note = ("no figure (no runs finished)" if not self.rows else
                        "no figure (figures show one or two swept gains, this sweep has three)")
            else:
                note = "no figure of the differences (no runs to compare)"
            self.notes.append(note)
            say(note)
        return paths


def run_on_cluster(sweep, todo, runs_file, failures, stop):
    """Runs the runs on the cluster; returns the seconds from the first one's
    submission to the last one's row (the cluster's start-up not counted)."""
    from tqdm import tqdm

    directory = os.getcwd()
    try:
        with cluster_client(sweep.scheduler, sweep.workers, sweep.threads, stop) as client:
            if client is None or stop.requested:
                return 0.0
            started = time.perf_counter()
            tasks = ({"inputs": inputs, "directory": directory,
                      "world_path": os.path.abspath(inputs["world"]) if inputs["world"] else None}
                     for inputs in todo)
            with tqdm(total=len(todo), unit="run", file=sys.stderr, dynamic_ncols=True) as bar:
                def on_result(inputs, result):
                    if "row" in result:
                        runs_file.add(result["row"])
                    else:
                        report_failure(failures, inputs, result["error"],
                                       lambda line: bar.write(line, file=sys.stderr))
                    bar.update()

                def notify(line):
                    bar.write(f"{PROGRAM}: {line}", file=sys.stderr)

                run_all(client, tasks, on_result, stop,
                        WorkerWatch(client, sweep.scheduler, sweep.wait_for_workers, notify))
            return time.perf_counter() - started
    except Unreachable as error:
        raise UsageError(f"--scheduler: {error}") from None


def report_failure(failures, inputs, error, write):
    failures.append((inputs, error))
    write(f"{PROGRAM}: run failed ({describe(inputs)}): {error}")


def plural_runs(count):
    return f"{count} run" if count == 1 else f"{count} runs"


def plural_rows(count):
    return f"{count} row" if count == 1 else f"{count} rows"


def say(message, stream=None):
    """A line on standard error (or stream); a terminal that has gone away
    (SIGHUP) or a closed pipe loses it rather than stopping the sweep."""
    stream = stream or sys.stderr
    try:
        print(message, file=stream, flush=True)
    except (OSError, ValueError):
        pass


def warn(message):
    say(f"{PROGRAM}: {message}")


def list_metrics():
    width = max(map(len, METRICS))
    lines = [f"{'metric':<{width}}  {'unit':<11}  meaning"]
    lines += [f"{m.name:<{width}}  {m.unit or '-':<11}  {m.meaning}" for m in METRICS.values()]
    return "\n".join(lines)


def main(argv=None):
    stop = StopRequest()
    stop.install()
    for stream in (sys.stdout, sys.stderr):
        # Names that are not UTF-8 go out as the bytes they are.
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="surrogateescape")
    arguments_given = sys.argv[1:] if argv is None else list(argv)
    parser = argument_parser()
    arguments = parser.parse_args(arguments_given)
    if arguments.list_metrics:
        say(list_metrics(), stream=sys.stdout)
        return EXIT_OK
    try:
        options = read_config(arguments.config) if arguments.config else {}
        for key in OPTION_KEYS:
            value = getattr(arguments, key)
            if value is not None:
                options[key] = value
        sweep = Sweep(options)
        return sweep_main(sweep, stop, shlex.join([PROGRAM, *arguments_given]))
    except UsageError as error:
        parser.print_usage(sys.stderr)
        warn(f"error: {error}")
        return EXIT_USAGE


if __name__ == "__main__":
    sys.exit(main())
