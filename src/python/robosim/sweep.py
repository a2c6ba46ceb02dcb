"""Parameter sweeps of the robot simulator on dask.distributed.

Every combination of world, seed and gains is one run (one task); the runs go to
a local cluster of single-threaded worker processes (one per core) or to an
existing cluster, and their rows stream into a CSV as they finish. A second run
of the same sweep skips the combinations already in the CSV. At the end a summary
per combination of the inputs other than the seed, and a plot, are written beside
the CSV. See docs/experiments.md.

    python3 -m robosim.sweep --world worlds/maze.dat --seeds 1-20 \\
        --scale1 0.05,0.11,0.2 --ticks 60000 --out maze.csv
"""

import argparse
import csv
import glob
import importlib
import io
import math
import os
import sys
import time
import tomllib

from robosim import __version__

PROGRAM = "robosim-sweep"

EXIT_OK = 0
EXIT_FAILED_RUNS = 1  # some runs failed (the others' rows are in the CSV)
EXIT_USAGE = 2  # bad command line or configuration, or an unusable --out file
EXIT_INTERRUPTED = 130  # Ctrl-C: the rows of the runs that finished are kept

DEFAULT_TICKS = 6000
DEFAULT_PERIOD_MS = 10
MAX_TICKS = 1_000_000_000_000
MAX_PERIOD_MS = 60_000
MAX_SEED = 4_294_967_295
MAX_COMBINATIONS = 1_000_000
MAX_RANGE_COUNT = 10_000
MAX_WORKERS = 1024

GAINS = ("scale1", "scale2", "scale3")
# The inputs of a run; together they say which run a row is. An empty gain is
# the world's own (the default world's, or the one its file sets); an empty
# world is the default world.
INPUT_COLUMNS = ("world", "seed", *GAINS, "ticks", "period_ms", "controller")
# What a run measured, with the decimals the headless runner's JSON summary gives
# them (None: a whole number). ticks_run is the summary's "ticks" and final_x,
# final_y, final_heading its "final_pose"; wall_seconds is the run's own time.
METRIC_DECIMALS = {
    "ticks_run": None,
    "simulated_seconds": 3,
    "targets_reached": None,
    "planning_runs": None,
    "planning_failures": None,
    "planning_gave_up": None,
    "targets_per_minute": 6,
    "distance_travelled": 6,
    "contacts": None,
    "least_push_distance": 6,
    "stuck_spells": None,
    "stuck_seconds": 3,
    "longest_stuck_seconds": 3,
    "walls": None,
    "impacts": None,
    "waypoints": None,
    "final_x": 6,
    "final_y": 6,
    "final_heading": 6,
    "console_messages": None,
    "wall_seconds": 6,
}
COLUMNS = (*INPUT_COLUMNS, *METRIC_DECIMALS)


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
    """The world files of the --world options, globs expanded in sorted order. A
    plain name is kept even when there is no such file: its runs fail as they
    would with any unreadable world."""
    worlds = []
    for pattern in patterns:
        if glob.has_magic(pattern):
            matches = sorted(glob.glob(pattern))
            if not matches:
                raise UsageError(f"--world: '{pattern}' matches no file")
            worlds.extend(matches)
        else:
            worlds.append(pattern)
    return list(dict.fromkeys(worlds))


def whole_number(text, option, low, high):
    try:
        value = int(str(text), 10)
    except ValueError:
        raise UsageError(f"--{option}: '{text}' is not a whole number") from None
    if not low <= value <= high:
        raise UsageError(f"--{option}: {value} lies outside {low} to {high}")
    return value


def split_controller(spec):
    """'module:function' -> (module, function)."""
    module, colon, function = str(spec).partition(":")
    if not colon or not module or not function or ":" in function:
        raise UsageError(f"--controller: '{spec}' is not module:function")
    return module, function


def load_controller(spec, directory):
    """The controller function, imported with `directory` searched first."""
    module_name, function_name = split_controller(spec)
    if directory not in sys.path:
        sys.path.insert(0, directory)
    module = importlib.import_module(module_name)
    function = getattr(module, function_name, None)
    if not callable(function):
        raise AttributeError(f"{module_name} has no function {function_name}")
    return function


# --- The command line and the configuration file ----------------------------


def argument_parser():
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description="Runs the robot simulator over every combination of worlds, seeds and "
        "gains on dask.distributed and writes one CSV row per run, a summary and a plot.",
        epilog="Exit codes: 0 every run done, 1 some runs failed, 2 bad command line, "
        "configuration or output file, 130 interrupted (finished rows are kept).",
    )
    parser.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}")
    parser.add_argument("--config", metavar="FILE", help="a TOML file with the options below as keys")
    parser.add_argument("--seeds", help="seeds: a range 1-20 or a list 1,5,9 (default 1)")
    parser.add_argument("--world", action="append", metavar="FILE",
                        help="a world file; repeatable, globs allowed (default: the default world)")
    for gain in GAINS:
        parser.add_argument(f"--{gain}", metavar="VALUES",
                            help=f"values of {gain}: a list 0.05,0.11 or a range start:stop:count "
                            "(default: the world's own)")
    parser.add_argument("--ticks", help=f"ticks per run (default {DEFAULT_TICKS})")
    parser.add_argument("--period-ms", dest="period_ms",
                        help=f"tick period in milliseconds (default {DEFAULT_PERIOD_MS})")
    parser.add_argument("--controller", metavar="MODULE:FUNCTION",
                        help="a function called with the Simulation before every tick, in manual "
                        "mode; MODULE is looked up in the current directory first")
    parser.add_argument("--out", metavar="FILE.csv", help="the CSV of the runs (default sweep.csv)")
    parser.add_argument("--workers", help="worker processes of the local cluster (default: one per core)")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="runs on an existing cluster, e.g. tcp://host:8786")
    return parser


OPTION_KEYS = ("seeds", "world", *GAINS, "ticks", "period_ms", "controller", "out", "workers",
               "scheduler")


def read_config(path):
    """The options a TOML file gives, keys as the options' names (period-ms or period_ms)."""
    try:
        with open(path, "rb") as stream:
            table = tomllib.load(stream)
    except OSError as error:
        raise UsageError(f"--config: cannot read {path}: {error.strerror or error}") from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
        raise UsageError(f"--config: {path} is not valid TOML: {error}") from None
    options = {}
    for key, value in table.items():
        name = key.replace("-", "_")
        if name not in OPTION_KEYS:
            raise UsageError(f"--config: {path}: unknown key '{key}'")
        options[name] = config_value(name, value, path)
    return options


def config_value(name, value, path):
    """A configuration value as the command line's text would give it."""
    def wrong(kind):
        return UsageError(f"--config: {path}: '{name}' must be {kind}")

    def scalar(item):
        if isinstance(item, bool) or not isinstance(item, (int, float, str)):
            raise wrong("a number or a text")
        return str(item)

    if name == "world":
        items = value if isinstance(value, list) else [value]
        if not items or not all(isinstance(item, str) for item in items):
            raise wrong("a file name or a list of them")
        return items
    if name in ("seeds", *GAINS):
        if isinstance(value, list):
            if not value:
                raise wrong("a list with at least one value")
            return ",".join(scalar(item) for item in value)
        return scalar(value)
    if name in ("controller", "out", "scheduler") and not isinstance(value, str):
        raise wrong("a text")
    return scalar(value)


class Sweep:
    """The checked inputs of a sweep."""

    def __init__(self, options):
        self.seeds = parse_seeds(options.get("seeds") or "1")
        self.worlds = expand_worlds(options.get("world") or []) or [""]
        self.gains = {}
        for gain in GAINS:
            text = options.get(gain)
            self.gains[gain] = parse_gains(text, gain) if text is not None else [None]
        self.ticks = whole_number(options.get("ticks", DEFAULT_TICKS), "ticks", 0, MAX_TICKS)
        self.period_ms = whole_number(options.get("period_ms", DEFAULT_PERIOD_MS), "period-ms", 1,
                                      MAX_PERIOD_MS)
        self.controller = options.get("controller") or ""
        if self.controller:
            try:
                load_controller(self.controller, os.getcwd())
            except Exception as error:  # the user's module may raise anything
                raise UsageError(f"--controller: cannot load {self.controller}: "
                                 f"{type(error).__name__}: {error}") from None
        self.out = options.get("out") or "sweep.csv"
        self.scheduler = options.get("scheduler") or ""
        workers = options.get("workers")
        if workers is not None and self.scheduler:
            raise UsageError("--workers is for the local cluster; the cluster at --scheduler "
                             "has the workers its own commands started")
        self.workers = (whole_number(workers, "workers", 1, MAX_WORKERS) if workers is not None
                        else os.cpu_count() or 1)
        count = len(self.seeds) * len(self.worlds)
        for values in self.gains.values():
            count *= len(values)
        if count > MAX_COMBINATIONS:
            raise UsageError(f"the sweep has {count} runs, more than {MAX_COMBINATIONS}")

    def swept_gains(self):
        """The gains given more than one value, in order."""
        return [gain for gain in GAINS if len(self.gains[gain]) > 1]

    def runs(self):
        """The inputs of every run, as the CSV's text: world, seed, gains, ... in order."""
        for world in self.worlds:
            for scale1 in self.gains["scale1"]:
                for scale2 in self.gains["scale2"]:
                    for scale3 in self.gains["scale3"]:
                        for seed in self.seeds:
                            yield {
                                "world": world,
                                "seed": str(seed),
                                "scale1": gain_text(scale1),
                                "scale2": gain_text(scale2),
                                "scale3": gain_text(scale3),
                                "ticks": str(self.ticks),
                                "period_ms": str(self.period_ms),
                                "controller": self.controller,
                            }


def gain_text(value):
    return "" if value is None else repr(value)


def run_key(row):
    return tuple(row[column] for column in INPUT_COLUMNS)


def describe(inputs):
    """The inputs of a run for a message: 'world=maze.dat seed=3 scale1=0.1'."""
    parts = []
    for column in INPUT_COLUMNS:
        value = inputs[column]
        if column == "world" and not value:
            value = "(default)"
        if value:
            parts.append(f"{column}={value}")
    return " ".join(parts)


# --- One run (on a worker) ----------------------------------------------------


def run_one(task):
    """Runs one combination; returns {"row": {...}} or {"error": message}. Runs in a
    worker process, which has one simulation at a time."""
    try:
        return {"row": simulate(task)}
    except Exception as error:  # reported with the run's inputs; the others go on
        return {"error": f"{type(error).__name__}: {error}"}


def simulate(task):
    import robosim

    inputs = task["inputs"]
    controller = load_controller(inputs["controller"], task["directory"]) if inputs["controller"] else None
    started = time.perf_counter()
    with robosim.Simulation(seed=int(inputs["seed"]), world=task["world_path"],
                            period_ms=int(inputs["period_ms"]), manual=controller is not None) as sim:
        sim.gains = tuple(float(inputs[gain]) if inputs[gain] else old
                          for gain, old in zip(GAINS, sim.gains))
        ticks = int(inputs["ticks"])
        if controller is None:
            sim.step(ticks)
        else:
            for _ in range(ticks):
                controller(sim)
                if sim.step(1) == 0:
                    break
        stats = sim.stats
        robot = sim.robot
        measured = {
            "ticks_run": sim.tick,
            "simulated_seconds": sim.time,
            **{name: stats[name] for name in (
                "targets_reached", "planning_runs", "planning_failures", "planning_gave_up",
                "targets_per_minute", "distance_travelled", "contacts", "least_push_distance",
                "stuck_spells", "stuck_seconds", "longest_stuck_seconds", "console_messages")},
            "walls": len(sim.walls),
            "impacts": len(sim.impacts),
            "waypoints": len(sim.waypoints),
            "final_x": robot.x,
            "final_y": robot.y,
            "final_heading": robot.heading,
        }
    measured["wall_seconds"] = time.perf_counter() - started
    row = dict(inputs)
    for name, decimals in METRIC_DECIMALS.items():
        value = measured[name]
        if value is None or (decimals is not None and not math.isfinite(value)):
            row[name] = ""
        else:
            row[name] = str(value) if decimals is None else f"{value:.{decimals}f}"
    return row


# --- The CSV ----------------------------------------------------------------


class RunsFile:
    """The CSV of the runs: read once for what is done, then appended to row by row."""

    def __init__(self, path):
        self.path = path
        self.done = {}  # run key -> row
        self.malformed = 0
        self.needs_header = True
        self.needs_newline = False
        self._read()
        self._stream = None
        self._writer = None

    def _read(self):
        try:
            with open(self.path, "rb") as stream:
                data = stream.read()
        except FileNotFoundError:
            return
        except OSError as error:
            raise UsageError(f"--out: cannot read {self.path}: {error.strerror or error}") from None
        if not data:
            return
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            raise UsageError(f"--out: {self.path} is not a CSV this tool wrote; "
                             "choose another file") from None
        rows = csv.reader(io.StringIO(text, newline=""))
        header = next(rows, None)
        if header != list(COLUMNS):
            raise UsageError(f"--out: {self.path} is not a CSV this tool wrote (its columns "
                             "differ); choose another file")
        self.needs_header = False
        # A run interrupted while a row was being written leaves a broken last line.
        self.needs_newline = not text.endswith("\n")
        for cells in rows:
            if len(cells) != len(COLUMNS):
                self.malformed += 1
                continue
            row = dict(zip(COLUMNS, cells))
            self.done[run_key(row)] = row

    def open(self):
        try:
            self._stream = open(self.path, "a", newline="", encoding="utf-8")
        except OSError as error:
            raise UsageError(f"--out: cannot write {self.path}: {error.strerror or error}") from None
        if self.needs_newline:
            self._stream.write("\n")
        self._writer = csv.writer(self._stream, lineterminator="\n")
        if self.needs_header:
            self._writer.writerow(COLUMNS)
        self._stream.flush()

    def add(self, row):
        self._writer.writerow([row[column] for column in COLUMNS])
        self._stream.flush()
        self.done[run_key(row)] = row

    def close(self):
        if self._stream is not None:
            self._stream.close()
            self._stream = None


# --- Running on the cluster -------------------------------------------------


def open_client(sweep):
    """A dask client: of a new local cluster, or of the one at --scheduler."""
    import logging

    from distributed import Client, LocalCluster

    if sweep.scheduler:
        try:
            return Client(sweep.scheduler, timeout=30), None
        except (OSError, TimeoutError, ValueError, TypeError) as error:
            raise UsageError(f"--scheduler: cannot reach a scheduler at {sweep.scheduler}: "
                             f"{error}") from None
    # One single-threaded worker process per core: the simulation is process-wide,
    # so a process runs one simulation at a time.
    cluster = LocalCluster(n_workers=sweep.workers, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=logging.ERROR)
    return Client(cluster), cluster


def run_all(client, tasks, on_result):
    """Submits the tasks a few at a time and hands each result to on_result as it
    finishes (in the order they finish)."""
    from distributed import as_completed

    pending = iter(tasks)
    in_flight = max(64, 4 * sum(client.nthreads().values()))
    futures = as_completed()
    inputs_of = {}

    def submit_next():
        task = next(pending, None)
        if task is None:
            return
        future = client.submit(run_one, task, pure=False)
        inputs_of[future.key] = task["inputs"]
        futures.add(future)

    for _ in range(in_flight):
        submit_next()
    try:
        for future in futures:
            inputs = inputs_of.pop(future.key)
            if future.status == "error":
                error = future.exception()
                result = {"error": f"{type(error).__name__}: {error}"}
            else:
                result = future.result()
            future.release()
            on_result(inputs, result)
            submit_next()
    finally:
        for future in futures.futures:
            future.cancel()


def sweep_main(sweep):
    runs_file = RunsFile(sweep.out)
    if runs_file.malformed:
        warn(f"{runs_file.malformed} broken rows in {sweep.out} are ignored; their runs run again")
    directory = os.getcwd()
    all_runs = list(sweep.runs())
    todo = [inputs for inputs in all_runs if run_key(inputs) not in runs_file.done]
    skipped = len(all_runs) - len(todo)
    if skipped:
        print(f"{skipped} of {len(all_runs)} runs are already in {sweep.out}; skipped", file=sys.stderr)
    runs_file.open()
    failures = []
    seconds = 0.0
    try:
        if todo:
            seconds = run_on_cluster(sweep, todo, directory, runs_file, failures)
    except KeyboardInterrupt:
        runs_file.close()
        done = sum(1 for inputs in all_runs if run_key(inputs) in runs_file.done)
        warn(f"interrupted: {done} of {len(all_runs)} runs are in {sweep.out}; "
             "run the same sweep again to do the rest")
        return EXIT_INTERRUPTED
    finally:
        runs_file.close()

    from robosim import sweep_report

    rows = [runs_file.done[run_key(inputs)] for inputs in all_runs if run_key(inputs) in runs_file.done]
    summary = sweep_report.summarise(rows)
    print(sweep_report.format_summary(summary))
    base = os.path.splitext(sweep.out)[0]
    summary_path = base + ".summary.csv"
    plot_path = base + ".png"
    written = [f"rows in {sweep.out}"]
    try:
        sweep_report.write_summary_csv(summary, summary_path)
        written.append(f"summary in {summary_path}")
        note = sweep_report.plot(rows, sweep.swept_gains(), plot_path)
        written.append(f"plot in {plot_path}" if note is None else note)
    except OSError as error:
        warn(f"cannot write {error.filename or 'the summary'}: {error.strerror or error}")
        return EXIT_FAILED_RUNS
    print(f"{plural_runs(len(todo) - len(failures))} done in {seconds:.2f} s, {skipped} skipped, {len(failures)} failed; "
          + ", ".join(written), file=sys.stderr)
    if failures:
        warn(f"{plural_runs(len(failures))} failed (listed above); they are not in {sweep.out} and run "
             "again when the sweep is run again")
        return EXIT_FAILED_RUNS
    return EXIT_OK


def run_on_cluster(sweep, todo, directory, runs_file, failures):
    """Runs the runs on the cluster; returns the seconds from the first one's
    submission to the last one's row (the cluster's start-up not counted)."""
    from tqdm import tqdm

    client, cluster = open_client(sweep)
    try:
        started = time.perf_counter()
        tasks = ({"inputs": inputs, "directory": directory,
                  "world_path": os.path.abspath(inputs["world"]) if inputs["world"] else None}
                 for inputs in todo)
        with tqdm(total=len(todo), unit="run", file=sys.stderr, dynamic_ncols=True) as bar:
            def on_result(inputs, result):
                if "row" in result:
                    runs_file.add(result["row"])
                else:
                    failures.append((inputs, result["error"]))
                    bar.write(f"{PROGRAM}: run failed ({describe(inputs)}): {result['error']}",
                              file=sys.stderr)
                bar.update()

            run_all(client, tasks, on_result)
        return time.perf_counter() - started
    finally:
        close_quietly(client, cluster)


def close_quietly(client, cluster):
    for thing in (client, cluster):
        if thing is None:
            continue
        try:
            thing.close()
        except Exception:  # shutting down after an interrupt may fail in many ways
            pass


def plural_runs(count):
    return f"{count} run" if count == 1 else f"{count} runs"


def warn(message):
    print(f"{PROGRAM}: {message}", file=sys.stderr)


def main(argv=None):
    parser = argument_parser()
    arguments = parser.parse_args(argv)
    try:
        options = read_config(arguments.config) if arguments.config else {}
        for key in OPTION_KEYS:
            value = getattr(arguments, key)
            if value is not None:
                options[key] = value
        sweep = Sweep(options)
        return sweep_main(sweep)
    except UsageError as error:
        parser.print_usage(sys.stderr)
        warn(f"error: {error}")
        return EXIT_USAGE
    except KeyboardInterrupt:
        warn("interrupted")
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
