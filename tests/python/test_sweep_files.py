"""The sweep's files against hostile ones: the runs' CSV read back from random
and broken bytes, devices, FIFOs and folders as outputs or configuration, outputs
that would overwrite each other, and world names that are not UTF-8."""

import csv
import io
import os
import random
import re
import subprocess
import sys

import pytest

from conftest import WORLDS
from robosim import sweep_rows

TIMEOUT = 120


def run_sweep(*arguments, cwd, expect=0):
    result = subprocess.run([sys.executable, "-m", "robosim.sweep", *(os.fsencode(str(a)) for a in arguments)],
                            capture_output=True, timeout=TIMEOUT, cwd=cwd)
    err = result.stderr.decode("utf-8", "surrogateescape")
    assert result.returncode == expect, err
    assert "Traceback" not in err
    return result.stdout.decode("utf-8", "surrogateescape"), err


def valid_text():
    """A CSV as the sweep writes it, with world names that need quoting."""
    stream = io.StringIO()
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(sweep_rows.COLUMNS)
    for index, world in enumerate(["worlds/maze.dat", 'a "quoted", world\nname.dat',
                                   "raw\udcffname.dat", ""]):
        placed = [["", ""], ["random", "2.0,8.0"], ["5.0,4.0,1.5", ""], ["", "random"]][index]
        inputs = [world, *placed, str(index + 1), "0.05", "", "0.193", "6000", "10", ""]
        origin = ["5e" * 32 if world else "", "", "1.0.0+0123456789abcdef"]
        metrics = ["" if name == "least_push_distance" and index == 1 else
                   ("7" if m.decimals is None else f"{1.5 + index:.{m.decimals}f}")
                   for name, m in sweep_rows.METRICS.items()]
        writer.writerow(inputs + origin + metrics)
    return stream.getvalue()


def complete_rows_before(text, cut):
    """The run keys of the rows of text whose whole record (its newline too)
    lies before cut."""
    consumed = [0]

    def feed():
        for line in io.StringIO(text, newline="").readlines():
            consumed[0] += len(line)
            yield line

    keys = set()
    reader = csv.reader(feed())
    next(reader)
    for cells in reader:
        if consumed[0] <= cut:
            keys.add(sweep_rows.run_key(dict(zip(sweep_rows.COLUMNS, cells))))
    return keys


def read_back(path):
    """RunsFile on path: (the file, None) or (None, the refusal) -- nothing else."""
    try:
        return sweep_rows.RunsFile(str(path)), None
    except sweep_rows.CsvRefused as refusal:
        return None, str(refusal)


def assert_sound(path, data):
    """Refused with a message naming a line and the file untouched, or read with
    the file left clean: a second reading drops nothing and keeps the same rows."""
    path.write_bytes(data)
    runs, refusal = read_back(path)
    if refusal is not None:
        assert re.search(r", line \d+: ", refusal), refusal
        assert path.read_bytes() == data
        return None
    again, refusal = read_back(path)
    assert refusal is None and again.dropped == [] and again.done == runs.done
    return runs


def test_every_truncation_resumes_with_the_complete_rows(tmp_path):
    text = valid_text()
    data = text.encode("utf-8", "surrogateescape")
    header = len(",".join(sweep_rows.COLUMNS))
    path = tmp_path / "runs.csv"
    for cut in range(len(data) + 1):
        runs = assert_sound(path, data[:cut])
        prefix = data[:cut].decode("utf-8", "surrogateescape")
        if cut == 0 or cut >= header:
            assert runs is not None, cut
            assert set(runs.done) == complete_rows_before(text, len(prefix)), cut
        else:
            assert runs is None, cut  # a cut header is not this tool's


def test_random_and_adversarial_bytes_never_crash_the_reader(tmp_path):
    data = valid_text().encode("utf-8", "surrogateescape")
    path = tmp_path / "runs.csv"
    generator = random.Random(26)
    alphabet = [b"\x00", b'"', b",", b"\r", b"\n", b"\xff", b"x", b"-", b"1", b".", b"\xef\xbb\xbf",
                b"nan", b"1e999", b" "]
    cases = [b"\xef\xbb\xbf" + data, data.replace(b"\n", b"\r\n"), data.replace(b"\n", b"\r"),
             data + b"\n\n", data + b"x" * 200_000 + b"\n", data + b",".join([b"1"] * 10_000) + b"\n",
             data[:data.index(b"\n") + 1] + b'"' + b"a" * 1000]
    for _ in range(600):
        mutated = bytearray(data)
        for _ in range(generator.randint(1, 4)):
            at = generator.randrange(len(mutated))
            choice = generator.random()
            if choice < 0.5:
                mutated[at:at + 1] = generator.choice(alphabet)
            elif choice < 0.8:
                mutated[at:at] = generator.choice(alphabet)
            else:
                del mutated[at:at + generator.randint(1, 20)]
        cases.append(bytes(mutated))
    header = data[:data.index(b"\n") + 1]
    cases += [header + generator.randbytes(generator.randint(0, 400)) for _ in range(100)]
    cases += [generator.randbytes(generator.randint(0, 400)) for _ in range(50)]
    outcomes = {"refused": 0, "read": 0}
    for case in cases:
        outcomes["read" if assert_sound(path, case) is not None else "refused"] += 1
    assert outcomes["read"] > 50 and outcomes["refused"] > 50, outcomes


@pytest.mark.parametrize("line, cell, value, message", [
    (2, "seed", "x", "line 2: seed is 'x', not a seed"),
    (3, "scale1", "nan", "line 3: scale1 is 'nan', not a gain"),
    (2, "targets_reached", "1.5", "line 2: targets_reached is '1.5', not a whole number"),
    (3, "final_x", "\udcff", "line 3: final_x is '\\xff', not a number"),
    (2, "world_sha256", "5E" * 32, "line 2: world_sha256 is '5E5E"),
    (3, "target", "5,x", "line 3: target is '5,x', not a target (numbers, random, or empty)"),
    (2, "pose", "5,5", "line 2: pose is '5,5', not a pose"),
])
def test_a_row_with_junk_refuses_the_file_and_names_its_line(tmp_path, line, cell, value, message):
    rows = list(csv.reader(io.StringIO(valid_text(), newline="")))
    rows = [rows[0], rows[1], rows[4]]  # lines 1 to 3, one row per line
    rows[line - 1][sweep_rows.COLUMNS.index(cell)] = value
    stream = io.StringIO()
    csv.writer(stream, lineterminator="\n").writerows(rows)
    data = stream.getvalue().encode("utf-8", "surrogateescape")
    (tmp_path / "runs.csv").write_bytes(data)
    _, err = run_sweep("--ticks", 10, "--workers", 1, "--out", "runs.csv", cwd=tmp_path, expect=2)
    assert message in err
    assert (tmp_path / "runs.csv").read_bytes() == data


def test_devices_fifos_and_folders_are_refused(tmp_path):
    os.mkfifo(tmp_path / "fifo")
    (tmp_path / "folder.csv").mkdir()
    (tmp_path / "link.csv").symlink_to("/dev/zero")
    for arguments in (["--out", "/dev/null"], ["--out", "/dev/full"], ["--out", "fifo"],
                      ["--out", "folder.csv"], ["--out", "link.csv"], ["--config", "/dev/zero"],
                      ["--config", "fifo"], ["--report", "fifo"], ["--report", "/dev/null"],
                      ["--out", "nowhere/runs.csv"], ["--report", "nowhere/r.md"]):
        _, err = run_sweep(*arguments, "--ticks", 10, cwd=tmp_path, expect=2)
        assert "is not a regular file" in err or "does not exist" in err, arguments
    assert not os.path.exists("/dev/null.summary.csv") and not os.path.exists("/dev/null.png")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["fifo", "folder.csv", "link.csv"]


def test_outputs_that_would_overwrite_each_other_are_refused(tmp_path):
    (tmp_path / "old.csv").write_text("kept\n")
    os.link(tmp_path / "old.csv", tmp_path / "hard.md")
    (tmp_path / "soft.md").symlink_to("old.csv")
    for arguments in (["--out", "res.png"], ["--out", "res.svg"],
                      ["--out", "res.pdf", "--plot-format", "pdf"],
                      ["--out", "x.csv", "--report", "x.summary.csv"],
                      ["--out", "x", "--baseline", "scale1=1", "--scale1", "1,2",
                       "--report", "x.paired.png"],
                      ["--out", "old.csv", "--report", "hard.md"],
                      ["--out", "old.csv", "--report", "soft.md"]):
        _, err = run_sweep(*arguments, "--ticks", 10, cwd=tmp_path, expect=2)
        assert "would be both" in err, arguments
    assert (tmp_path / "old.csv").read_text() == "kept\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["hard.md", "old.csv", "soft.md"]


def test_a_world_name_that_is_not_utf8_is_kept_byte_for_byte(tmp_path):
    raw = b"maze\xff.dat"
    (tmp_path / os.fsdecode(raw)).write_bytes((WORLDS / "maze.dat").read_bytes())
    (tmp_path / "maze.dat").write_bytes((WORLDS / "maze.dat").read_bytes())
    options = ["--seeds", "1-2", "--ticks", 500, "--workers", 1]
    run_sweep("--world", os.fsdecode(raw), *options, "--out", "raw.csv", "--report", "r.md",
              cwd=tmp_path)
    run_sweep("--world", "maze.dat", *options, "--out", "plain.csv", cwd=tmp_path)
    raw_rows = (tmp_path / "raw.csv").read_bytes().splitlines()
    plain_rows = (tmp_path / "plain.csv").read_bytes().splitlines()
    assert [row.split(b",")[0] for row in raw_rows[1:]] == [raw, raw]
    assert [row.split(b",")[1:-1] for row in raw_rows] == [row.split(b",")[1:-1] for row in plain_rows]
    assert (tmp_path / "raw.summary.csv").read_bytes().splitlines()[1].startswith(raw + b",")
    assert "maze\\xff.dat" in (tmp_path / "r.md").read_text(encoding="utf-8")
    assert b"maze\\xff.dat" in (tmp_path / "raw.svg").read_bytes()
    # The rerun finds its rows by the same bytes.
    _, err = run_sweep("--world", os.fsdecode(raw), *options, "--out", "raw.csv", cwd=tmp_path)
    assert "2 of 2 runs are already in raw.csv" in err
