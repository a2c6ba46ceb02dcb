"""The runs of a sweep on dask.distributed: one run per task, on a local cluster
of worker processes (each running one run at a time, or several on threads: a
simulation lets go of Python's lock while it runs) or on a cluster started by hand.

Stopping is cooperative: the sweep's signal handlers only note the signal
(`StopRequest`), and the loop here looks at that note at least ten times a
second, so that a signal never lands in the middle of Dask's own code."""

import contextlib
import math
import queue
import shutil
import signal
import tempfile
import time

from robosim.sweep_rows import GAINS, METRICS, RUN_METRICS

# Results waited for at a time before the stop request is looked at again.
POLL_SECONDS = 0.1
# How often a sweep that gets no results asks the cluster whether it has workers,
# and after how long without any it says so.
WORKER_LOOK_SECONDS = 1
NOTICE_SECONDS = 5
CONNECT_SECONDS = 30
CONNECT_ATTEMPT_SECONDS = 3  # a stop request is seen between two attempts
CLOSE_SECONDS = 20
# The signals that stop a sweep. They are kept from the worker processes (see
# signals_blocked), which a terminal's Ctrl-C or a SIGTERM to the process group
# would otherwise end in the middle of a run.
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
WORKER_BLOCKED = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT}


class StopRequest:
    """Notes the first SIGINT, SIGTERM or SIGHUP; the sweep stops at its next safe point
    and exits with 128 + the signal's number."""

    def __init__(self):
        self.signal = None

    def install(self):
        for number in STOP_SIGNALS:
            # A signal the sweep was started ignoring stays ignored (nohup's
            # SIGHUP; SIGINT of a job a script puts in the background).
            if signal.getsignal(number) is not signal.SIG_IGN:
                signal.signal(number, self._note)

    def _note(self, number, frame):
        if self.signal is None:
            self.signal = number

    @property
    def requested(self):
        return self.signal is not None

    def exit_code(self):
        return 128 + self.signal


class Unreachable(Exception):
    """No scheduler answered at the address given."""


class NoWorkers(Exception):
    """The cluster had no workers for as long as the sweep was to wait for one."""


class WorkerWatch:
    """Looks, while no result comes, at whether the cluster has any workers: a
    cluster without them would leave the sweep waiting for ever. After
    NOTICE_SECONDS without workers it says so (through notify), and after
    `patience` seconds it gives up (NoWorkers). A worker that comes ends the wait."""

    def __init__(self, client, scheduler, patience, notify):
        self.client = client
        self.name = f"the cluster at {scheduler}" if scheduler else "the local cluster"
        self.patience = patience
        self.notify = notify
        self.last_look = None
        self.since = None  # when the cluster was first seen without workers
        self.noticed = False

    def worker_seen(self):
        """A worker is there (a result came, or the cluster says so): the wait ends."""
        if self.noticed:
            self.notify("a worker has come; the sweep goes on")
        self.since, self.noticed = None, False

    def look(self):
        now = time.monotonic()
        if self.last_look is not None and now - self.last_look < WORKER_LOOK_SECONDS:
            return
        self.last_look = now
        try:
            workers = self.client.nthreads()
        except Exception:  # a scheduler that has gone away has no workers for us either
            workers = {}
        if workers:
            self.worker_seen()
            return
        if self.since is None:
            self.since = now
        waited = now - self.since
        if waited >= self.patience:
            raise NoWorkers(f"{self.name} has had no workers for {self.patience:g} s "
                            "(--wait-for-workers); start workers for it, or wait longer")
        if not self.noticed and waited >= NOTICE_SECONDS:
            self.noticed = True
            self.notify(f"{self.name} has no workers; waiting up to {self.patience:g} s for one "
                        "(--wait-for-workers); Ctrl-C stops the sweep")


# --- One run (on a worker) ----------------------------------------------------


def run_one(task):
    """Runs one combination; returns {"row": {...}} or {"error": message}. Runs in a
    worker process, which has one simulation at a time."""
    try:
        return {"row": simulate(task)}
    except Exception as error:  # reported with the run's inputs; the others go on
        return {"error": f"{type(error).__name__}: {error}"}


def placement(text):
    """A pose or target cell as Simulation takes it: None for the world's own."""
    if text in ("", "random"):
        return text or None
    return tuple(float(number) for number in text.split(","))


def simulate(task):
    import robosim

    from robosim.sweep_origin import check_run, controller_origin, file_sha256

    inputs = task["inputs"]
    controller, controller_sha256 = (controller_origin(inputs["controller"], task["directory"])
                                     if inputs["controller"] else (None, ""))
    world = task["world_path"]
    check_run(inputs, file_sha256(world) if world else "", controller_sha256)
    started = time.perf_counter()
    with robosim.Simulation(seed=int(inputs["seed"]), world=world,
                            period_ms=int(inputs["period_ms"]), manual=controller is not None,
                            pose=placement(inputs["pose"]),
                            target=placement(inputs["target"])) as sim:
        # The file read was the one hashed unless it changed in between.
        check_run(inputs, file_sha256(world) if world else "", controller_sha256)
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
            **{metric.name: stats[metric.name] for metric in RUN_METRICS},
            "walls": len(sim.walls),
            "impacts": len(sim.impacts),
            "waypoints": len(sim.waypoints),
            "final_x": robot.x,
            "final_y": robot.y,
            "final_heading": robot.heading,
            "console_messages": stats["console_messages"],
        }
    measured["wall_seconds"] = time.perf_counter() - started
    row = dict(inputs)
    for name, metric in METRICS.items():
        value = measured[name]
        if value is None or (metric.decimals is not None and not math.isfinite(value)):
            row[name] = ""
        else:
            row[name] = str(value) if metric.decimals is None else f"{value:.{metric.decimals}f}"
    return row


# --- The cluster ------------------------------------------------------------------


@contextlib.contextmanager
def signals_blocked():
    """The stop signals blocked in this thread while Dask starts its threads,
    which inherit the mask, and so in the worker processes they start: a
    signal to every process of the sweep (the terminal's Ctrl-C, a SIGTERM to
    the process group) reaches only the sweep's own process, where it is
    delivered when the block ends, and the sweep shuts the workers down itself.
    Dask ends a worker that does not close in time with SIGKILL, which no mask
    holds."""
    old = signal.pthread_sigmask(signal.SIG_BLOCK, WORKER_BLOCKED)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, old)


@contextlib.contextmanager
def cluster_client(scheduler, workers, threads, stop):
    """A dask client, of a new local cluster whose scratch folder is a temporary
    folder of its own (removed at the end, whatever happens), or of the cluster
    at `scheduler`. Yields None when a stop was requested while connecting."""
    if scheduler:
        client = connect(scheduler, stop)
        try:
            yield client
        finally:
            close_quietly(client)
        return
    scratch = tempfile.mkdtemp(prefix="robosim-sweep-")
    client = cluster = None
    try:
        # multiprocessing starts its resource tracker with the first worker and
        # then unblocks SIGINT in the thread that started it; started here
        # first, it leaves the mask of Dask's threads alone.
        from multiprocessing import resource_tracker

        with signals_blocked():
            resource_tracker.ensure_running()
        with signals_blocked():
            import logging

            import dask
            from distributed import Client, LocalCluster

            with dask.config.set({"temporary-directory": scratch}):
                cluster = LocalCluster(n_workers=workers, threads_per_worker=threads, processes=True,
                                       dashboard_address=None, silence_logs=logging.CRITICAL,
                                       local_directory=scratch)
                client = Client(cluster)
        yield client
    finally:
        close_quietly(client, cluster)
        shutil.rmtree(scratch, ignore_errors=True)


def connect(address, stop):
    """A client of the scheduler at address; tried for CONNECT_SECONDS in short
    attempts, so that a stop request is seen within a few seconds."""
    with signals_blocked():
        from distributed import Client

    deadline = time.monotonic() + CONNECT_SECONDS
    last_error = None
    while not stop.requested and time.monotonic() < deadline:
        try:
            with signals_blocked():
                return Client(address, timeout=CONNECT_ATTEMPT_SECONDS)
        except (OSError, TimeoutError) as error:
            last_error = error
        except (ValueError, TypeError) as error:
            raise Unreachable(f"{address} is not a scheduler's address: {error}") from None
    if stop.requested:
        return None
    raise Unreachable(f"cannot reach a scheduler at {address}: {last_error}")


def close_quietly(*things):
    for thing in things:
        if thing is None:
            continue
        try:
            thing.close(timeout=CLOSE_SECONDS)
        except Exception:  # shutting down after a stop or a failure may fail in many ways
            pass


def run_all(client, tasks, on_result, stop, watch):
    """Submits the tasks a few at a time and hands each result to on_result as it
    finishes (in the order they finish), until all are done, a stop is
    requested or the watch (a WorkerWatch) gives up waiting for workers; the
    runs still queued or running are then cancelled."""
    pending = iter(tasks)
    limit = max(64, 4 * sum(client.nthreads().values()))
    finished = queue.Queue()  # filled by Dask's callback thread
    in_flight = {}  # key -> (future, the run's inputs)

    def submit_next():
        task = next(pending, None)
        if task is not None:
            future = client.submit(run_one, task, pure=False)
            in_flight[future.key] = (future, task["inputs"])
            future.add_done_callback(finished.put)

    try:
        for _ in range(limit):
            submit_next()
        while in_flight and not stop.requested:
            try:
                future = finished.get(timeout=POLL_SECONDS)
            except queue.Empty:
                watch.look()
                continue
            watch.worker_seen()
            _, inputs = in_flight.pop(future.key)
            if future.status == "error":
                error = future.exception()
                result = {"error": f"{type(error).__name__}: {error}"}
            elif future.status == "cancelled":
                result = {"error": "the run was cancelled by the cluster"}
            else:
                result = future.result()
            future.release()
            on_result(inputs, result)
            submit_next()
    finally:
        if in_flight:
            with contextlib.suppress(Exception):
                client.cancel([future for future, _ in in_flight.values()])
