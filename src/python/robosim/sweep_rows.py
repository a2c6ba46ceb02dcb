"""The runs' CSV of a sweep: its columns, what each metric means, and the file
itself, read once for the runs already done (every line checked) and then
appended to row by row.

Names that are not valid UTF-8 (a world file's, say) travel as Python's
surrogate escapes and are written back byte for byte."""

import csv
import io
import math
import os
import re
import stat
from typing import NamedTuple

from robosim import _robosim

GAINS = ("scale1", "scale2", "scale3")
# What each gain weighs in the potential field (they have no unit).
GAIN_MEANINGS = {
    "scale1": "gain of the impact repulsion",
    "scale2": "gain of the waypoint attraction",
    "scale3": "gain of the grid-navigation pull",
}
# The inputs of a run; together they say which run a row is. An empty gain is
# the world's own (the default world's, or the one its file sets); an empty
# world is the default world.
# pose and target are empty for the world's own, else "random" or the numbers
# (x,y,heading and x,y).
INPUT_COLUMNS = ("world", "pose", "target", "seed", *GAINS, "ticks", "period_ms", "controller")
# What a run's row was made from, beside its inputs: the SHA-256 of the world
# file's bytes (empty for the default world), that of the controller module's
# file (empty without a controller) and the build of robosim that ran it. A
# resumed sweep uses a row only when all three are what they are now.
ORIGIN_COLUMNS = ("world_sha256", "controller_sha256", "build")


class Metric(NamedTuple):
    name: str
    decimals: int | None  # as the headless runner's JSON summary gives it; None: a whole number
    meaning: str
    unit: str  # "" for a plain count


# The run metrics, as Simulation.stats gives them (the extension's table).
RUN_METRICS = tuple(Metric(m["name"], m["decimals"], m["description"], m["unit"])
                    for m in _robosim.RUN_METRICS)

# What a run measured, in the CSV's order: its ticks and time, the run metrics,
# then what the run left behind. ticks_run is the runner's summary's "ticks" and
# final_x, final_y, final_heading its "final_pose"; wall_seconds is the run's
# own time on its worker.
METRICS = {
    metric.name: metric
    for metric in (
        Metric("ticks_run", None, "ticks run", "ticks"),
        Metric("simulated_seconds", 3, "simulated time of the run", "s"),
        *RUN_METRICS,
        Metric("walls", None, "walls at the end", ""),
        Metric("impacts", None, "impacts at the end", ""),
        Metric("waypoints", None, "waypoints at the end", ""),
        Metric("final_x", 6, "final x of the robot", "world units"),
        Metric("final_y", 6, "final y of the robot", "world units"),
        Metric("final_heading", 6, "final heading of the robot", "rad"),
        Metric("console_messages", None, "console messages", ""),
        Metric("wall_seconds", 6, "wall-clock time of the run on its worker", "s"),
    )
}
COLUMNS = (*INPUT_COLUMNS, *ORIGIN_COLUMNS, *METRICS)
DEFAULT_METRIC = "targets_per_minute"


def metric_label(name):
    """An axis label: the meaning, and the unit in brackets."""
    metric = METRICS[name]
    return f"{metric.meaning} [{metric.unit}]" if metric.unit else metric.meaning


def run_key(row):
    """Which run a row is, and what it was made from."""
    return tuple(row[column] for column in (*INPUT_COLUMNS, *ORIGIN_COLUMNS))


def inputs_key(row):
    """Which run a row is, whatever it was made from."""
    return tuple(row[column] for column in INPUT_COLUMNS)


def shown(text):
    """A name for a message or a figure: bytes that are not UTF-8 as \\xNN."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


class CsvRefused(Exception):
    """The runs' CSV cannot be used: the message names the file and, where one
    is at fault, the line."""


# --- What a cell may hold ------------------------------------------------------

SHA256_TEXT = re.compile(r"(?:[0-9a-f]{64})?")


def _whole(text, low=0):
    try:
        return int(text, 10) >= low
    except ValueError:
        return False


def _finite(text):
    try:
        return math.isfinite(float(text))
    except ValueError:
        return False


def _cell_fault(column, text):
    """None when the cell holds what the tool writes there, else what it should hold."""
    if column in ("world", "controller", "build"):
        return None
    if column in ("pose", "target"):
        count = 3 if column == "pose" else 2
        numbers = text.split(",")
        return (None if text in ("", "random") or (len(numbers) == count and all(map(_finite, numbers)))
                else f"a {column} (numbers, random, or empty)")
    if column in ("world_sha256", "controller_sha256"):
        return None if SHA256_TEXT.fullmatch(text) else "a SHA-256 in hexadecimal, or empty"
    if column == "seed":
        return None if _whole(text) else "a seed"
    if column in GAINS:
        return None if text == "" or _finite(text) else "a gain (a number, or empty)"
    if column == "ticks":
        return None if _whole(text) else "a number of ticks"
    if column == "period_ms":
        return None if _whole(text, 1) else "a tick period"
    if METRICS[column].decimals is None:
        return None if _whole(text) else "a whole number"
    # A metric with decimals is empty where the run had no value for it.
    return None if text == "" or _finite(text) else "a number, or empty"


# --- The file -------------------------------------------------------------------


def open_regular(path, flags, mode=0o666):
    """Opens path, which must be a regular file (or, with O_CREAT, not exist
    yet): a device, FIFO or folder is refused without being opened for real,
    since reading /dev/zero or a FIFO without a writer never ends. Returns the
    descriptor; raises OSError or CsvRefused."""
    # O_NONBLOCK keeps open() from waiting for a FIFO's other end.
    descriptor = os.open(path, flags | os.O_NONBLOCK | os.O_CLOEXEC, mode)
    try:
        if not stat.S_ISREG(os.fstat(descriptor).st_mode):
            raise CsvRefused(f"{shown(path)} is not a regular file")
        os.set_blocking(descriptor, True)
    except BaseException:
        os.close(descriptor)
        raise
    return descriptor


class RunsFile:
    """The CSV of the runs: read once for what is done, then appended to row by row.

    A row broken by a sweep stopped while writing it (a last line without its
    newline, or a line with fewer cells than the header), a blank line and a
    second row of the same run are dropped: the file is rewritten without them,
    atomically, before anything is added, and their runs run again. Any other
    line that is not what this tool writes refuses the whole file, untouched."""

    def __init__(self, path):
        self.path = path
        self.done = {}  # run key -> row
        self.dropped = []  # line numbers of the rows dropped
        self._stream = None
        self._writer = None
        text = self._read_text()
        self._needs_header = not text
        if text:
            self._parse(text)
            if self.dropped or not text.endswith("\n"):
                self._rewrite()

    def _read_text(self):
        try:
            descriptor = open_regular(self.path, os.O_RDONLY)
        except FileNotFoundError:
            return ""
        except OSError as error:
            raise CsvRefused(f"cannot read {shown(self.path)}: {error.strerror or error}") from None
        with open(descriptor, "rb") as stream:
            data = stream.read()
        return data.decode("utf-8", "surrogateescape")

    def _refuse(self, line, what):
        return CsvRefused(f"{shown(self.path)}, line {line}: {what}; it is not a file of rows this "
                          "tool wrote (or was edited): mend or delete the line, or choose another file")

    def _parse(self, text):
        records = self._records(text)
        last_line = records[-1][0] if records else None
        for line, cells, error in records:
            if line == last_line and (error is not None or not text.endswith(("\n", "\r"))):
                self.dropped.append(line)  # cut off by the end of the file
                continue
            if error is not None:
                raise self._refuse(line, f"not CSV ({error})")
            if len(cells) < len(COLUMNS):  # blank, or cut off by an older sweep
                self.dropped.append(line)
                continue
            if len(cells) > len(COLUMNS):
                raise self._refuse(line, f"{len(cells)} cells, not {len(COLUMNS)}")
            row = dict(zip(COLUMNS, cells))
            for column, value in row.items():
                fault = _cell_fault(column, value)
                if fault:
                    raise self._refuse(line, f"{column} is '{shown(value)}', not {fault}")
            key = run_key(row)
            if key in self.done:
                self.dropped.append(line)
            else:
                self.done[key] = row

    def _records(self, text):
        """[(first line, cells, None) or (first line, None, csv.Error)] of the
        rows after the header, which is checked here. A record that cannot be
        read ends the list: it is either the last one, or the file is refused."""
        lines = io.StringIO(text, newline="").readlines()
        consumed = 0

        def feed():
            nonlocal consumed
            for physical in lines:
                consumed += 1
                yield physical

        reader = csv.reader(feed(), strict=True)
        try:
            header = next(reader, None)
        except csv.Error as error:
            raise self._refuse(1, f"the header is not CSV ({error})") from None
        if header != list(COLUMNS):
            if header[:len(INPUT_COLUMNS) + 1] == [*INPUT_COLUMNS, "ticks_run"]:
                raise CsvRefused(f"{shown(self.path)}, line 1: the columns are those of an older "
                                 "robosim-sweep, whose rows do not say which world file content, "
                                 "controller and build made them, so they cannot be resumed: "
                                 "choose another file, or move this one away")
            if header and header[0] == "world" and "ticks_run" in header:
                raise CsvRefused(f"{shown(self.path)}, line 1: the columns are those of another "
                                 "version of robosim-sweep (its inputs or metrics differ), so its "
                                 "rows cannot be resumed: choose another file, or move this one "
                                 "away")
            raise self._refuse(1, "the columns are not this tool's")
        records = []
        while True:
            line = consumed + 1
            try:
                cells = next(reader, None)
            except csv.Error as error:
                if consumed < len(lines):
                    raise self._refuse(line, f"not CSV ({error})") from None
                records.append((line, None, error))
                break
            if cells is None:
                break
            records.append((line, cells, None))
        return records

    def _rewrite(self):
        """The file again with the rows kept, through a temporary file that then
        replaces it, so that the old file stays whole until the new one is."""
        target = os.path.realpath(self.path)
        temporary = f"{target}.tmp{os.getpid()}"
        try:
            mode = stat.S_IMODE(os.stat(target).st_mode)
            with open(temporary, "x", newline="", encoding="utf-8", errors="surrogateescape") as stream:
                writer = csv.writer(stream, lineterminator="\n")
                writer.writerow(COLUMNS)
                for row in self.done.values():
                    writer.writerow([row[column] for column in COLUMNS])
                stream.flush()
                os.fsync(stream.fileno())
            os.chmod(temporary, mode)
            os.replace(temporary, target)
        except OSError as error:
            raise CsvRefused(f"cannot rewrite {shown(self.path)} without its broken rows: "
                             f"{error.strerror or error}") from None
        finally:
            if os.path.lexists(temporary):
                os.remove(temporary)

    def open(self):
        try:
            descriptor = open_regular(self.path, os.O_WRONLY | os.O_APPEND | os.O_CREAT)
        except OSError as error:
            raise CsvRefused(f"cannot write {shown(self.path)}: {error.strerror or error}") from None
        self._stream = open(descriptor, "a", newline="", encoding="utf-8", errors="surrogateescape")
        self._writer = csv.writer(self._stream, lineterminator="\n")
        if self._needs_header:
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
