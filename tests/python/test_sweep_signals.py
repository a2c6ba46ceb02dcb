"""A sweep stopped by a signal at many moments, to its own process or (as a
terminal's Ctrl-C is) to its whole process group: the documented message and
exit code, every finished row kept, no traceback, no process and no temporary
file left behind, and a second run that completes the sweep with every row once
and equal to an uninterrupted sweep's."""

import csv
import os
import pathlib
import re
import signal
import subprocess
import sys
import threading
import time

import pytest

from conftest import WORLDS

RUNS = 6
# One worker, so that a core is left for the sweep's own process and the test,
# which see each row as it comes; the uninterrupted sweep runs on two (its rows
# are the same).
COMMAND = ["--world", str(WORLDS / "maze.dat"), "--seeds", "1-3", "--scale1", "0.05,0.2",
           "--ticks", "120000", "--workers", "1", "--out", "runs.csv"]
# Many files to write after the runs, so that the summary takes a while.
SUMMARY_OPTIONS = ["--baseline", "scale1=0.05", "--plot-format", "png,svg,pdf",
                   "--metric", "targets_per_minute", "--metric", "distance_travelled",
                   "--report", "report.md"]


def environment(tmp_path):
    scratch = tmp_path / "tmp"
    scratch.mkdir(exist_ok=True)
    return {**os.environ, "TMPDIR": str(scratch)}, scratch


def read_rows(path):
    with open(path, newline="") as stream:
        return list(csv.DictReader(stream))


def comparable(rows):
    """The rows by run, without the run's own wall-clock time."""
    return {(r["world"], r["seed"], r["scale1"]): {k: v for k, v in r.items() if k != "wall_seconds"}
            for r in rows}


def caught_signals(pid):
    """The signals the process has handlers for (from /proc)."""
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("SigCgt:"):
            mask = int(line.split()[1], 16)
            return {number for number in range(1, 65) if mask >> (number - 1) & 1}
    return set()


def live_processes_of_session(session):
    """The processes of the session that are still running (zombies waiting for
    a parent that does not reap them are not running)."""
    alive = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        state, session_id = fields[0], int(fields[3])
        if session_id == session and state != "Z":
            alive.append(int(entry.name))
    return alive


class RunningSweep:
    """A sweep in a session of its own, its output collected as it comes."""

    def __init__(self, tmp_path, arguments, ignored=()):
        self.env, self.scratch = environment(tmp_path)
        self.csv = tmp_path / "runs.csv"

        def ignore():
            for number in ignored:
                signal.signal(number, signal.SIG_IGN)

        self.process = subprocess.Popen(
            [sys.executable, "-m", "robosim.sweep", *arguments], cwd=tmp_path, env=self.env,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
            preexec_fn=ignore)
        self.started = time.monotonic()
        self.out, self.err = [], []
        self.readers = [threading.Thread(target=self._collect, args=(s, into), daemon=True)
                        for s, into in ((self.process.stdout, self.out),
                                        (self.process.stderr, self.err))]
        for reader in self.readers:
            reader.start()

    @staticmethod
    def _collect(stream, into):
        # Whatever has come, at once: the output is seen as soon as it is written.
        for chunk in iter(lambda: os.read(stream.fileno(), 65536), b""):
            into.append(chunk)

    def rows_written(self):
        try:
            return max(0, len(self.csv.read_text().splitlines()) - 1)
        except FileNotFoundError:
            return 0

    def handlers_installed(self):
        try:
            return {signal.SIGINT, signal.SIGTERM} <= caught_signals(self.process.pid)
        except OSError:
            return False

    def wait_for(self, condition, timeout=120):
        deadline = time.monotonic() + timeout
        while not condition(self):
            assert self.process.poll() is None, "the sweep ended before the moment came:\n" + \
                self.text(self.err)
            assert time.monotonic() < deadline, "the moment never came"
            time.sleep(0.01)

    def finish(self, timeout=120):
        self.process.wait(timeout=timeout)
        for reader in self.readers:
            reader.join(timeout=10)
        return self.text(self.out), self.text(self.err)

    @staticmethod
    def text(chunks):
        return b"".join(chunks).decode("utf-8", "replace")


# When to signal: each a condition on the running sweep.
MOMENTS = {
    "at the start": lambda s: s.handlers_installed() and f"0/{RUNS}" not in s.text(s.err),
    "before the first row": lambda s: f"0/{RUNS}" in s.text(s.err) and s.rows_written() == 0,
    "after the first row": lambda s: s.rows_written() >= 1,
    "mid-stream": lambda s: s.rows_written() >= RUNS // 3,
    "during the summary": lambda s: "targets_per_minute" in s.text(s.out),
}
# Each moment once, and each way of signalling (SIGINT and SIGTERM to the
# process or to its whole group, SIGHUP to the group) at least once.
CASES = [("at the start", signal.SIGINT, True), ("before the first row", signal.SIGTERM, False),
         ("before the first row", signal.SIGTERM, True), ("after the first row", signal.SIGINT, False),
         ("mid-stream", signal.SIGTERM, False), ("mid-stream", signal.SIGHUP, True),
         ("during the summary", signal.SIGINT, True)]


@pytest.fixture(scope="module")
def uninterrupted(tmp_path_factory):
    folder = tmp_path_factory.mktemp("whole")
    env, _ = environment(folder)
    result = subprocess.run([sys.executable, "-m", "robosim.sweep", *COMMAND, "--workers", "2"],
                            cwd=folder, env=env,
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return comparable(read_rows(folder / "runs.csv"))


@pytest.mark.parametrize("moment, sig, group", CASES,
                         ids=[f"{m}-{s.name}-{'group' if g else 'process'}" for m, s, g in CASES])
def test_a_signal_stops_the_sweep_cleanly(tmp_path, uninterrupted, moment, sig, group):
    sweep = RunningSweep(tmp_path, [*COMMAND, *SUMMARY_OPTIONS])
    sweep.wait_for(MOMENTS[moment])
    if group:
        os.killpg(sweep.process.pid, sig)
    else:
        sweep.process.send_signal(sig)
    _, err = sweep.finish()

    assert sweep.process.returncode == 128 + sig, err
    assert "Traceback" not in err and "distributed." not in err, err
    kept = read_rows(sweep.csv)
    message = re.search(rf"robosim-sweep: interrupted: (\d+) of {RUNS} runs are in runs\.csv(.*)", err)
    assert message, err
    assert int(message.group(1)) == len(kept) == len(comparable(kept))
    if moment == "during the summary":
        assert len(kept) == RUNS and "not all written" in message.group(2)
    else:
        assert len(kept) < RUNS and "to do the rest" in message.group(2)
    if moment == "at the start":
        assert not kept
    assert all(comparable(kept)[key] == uninterrupted[key] for key in comparable(kept))
    assert list(sweep.scratch.iterdir()) == []
    assert [p.name for p in tmp_path.iterdir() if ".tmp" in p.name] == []
    deadline = time.monotonic() + 10
    while live_processes_of_session(sweep.process.pid) and time.monotonic() < deadline:
        time.sleep(0.1)  # the resource tracker ends once it sees the sweep gone
    assert live_processes_of_session(sweep.process.pid) == []

    again = subprocess.run([sys.executable, "-m", "robosim.sweep", *COMMAND, *SUMMARY_OPTIONS],
                           cwd=tmp_path, env=sweep.env, capture_output=True, text=True, timeout=300)
    assert again.returncode == 0, again.stderr
    if kept:
        assert f"{len(kept)} of {RUNS} runs are already in runs.csv" in again.stderr
    rows = read_rows(sweep.csv)
    assert len(rows) == RUNS and comparable(rows) == uninterrupted
    assert (tmp_path / "report.md").exists() and (tmp_path / "runs.paired.pdf").exists()


def test_a_signal_ignored_from_the_start_stays_ignored(tmp_path, uninterrupted):
    """As under nohup: SIGHUP to the whole sweep mid-stream changes nothing."""
    sweep = RunningSweep(tmp_path, COMMAND, ignored=(signal.SIGHUP,))
    sweep.wait_for(MOMENTS["after the first row"])
    os.killpg(sweep.process.pid, signal.SIGHUP)
    _, err = sweep.finish()
    assert sweep.process.returncode == 0, err
    assert comparable(read_rows(sweep.csv)) == uninterrupted
