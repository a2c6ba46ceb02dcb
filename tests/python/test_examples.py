"""Every example under examples/python runs and does what it says."""

import os
import re
import subprocess
import sys

from PIL import Image

from conftest import SOURCE_DIR

EXAMPLES = SOURCE_DIR / "examples" / "python"


def run_example(name, *arguments):
    environment = dict(os.environ, MPLBACKEND="Agg")
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / name), *map(str, arguments)],
        capture_output=True, text=True, timeout=300, env=environment,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_every_example_has_a_test():
    # train_ppo.py needs Stable-Baselines3: test_ppo_example.py runs it.
    assert sorted(p.name for p in EXAMPLES.glob("*.py")) == [
        "manual_controller.py", "plot_path.py", "random_policy.py", "train_ppo.py"]


def test_plot_path(tmp_path):
    out = tmp_path / "path.png"
    printed = run_example("plot_path.py", "--ticks", 3000, "--out", out)
    assert re.fullmatch(rf"{re.escape(str(out))}: \d+ targets reached\n", printed)
    with Image.open(out) as image:
        assert image.size == (600, 600)
        assert len(image.getcolors(1 << 20)) > 10  # a picture, not a blank page


def test_manual_controller_reaches_targets():
    printed = run_example("manual_controller.py", "--ticks", 6000)
    reached = int(printed.split()[0])
    assert reached >= 1, printed


def test_random_policy():
    printed = run_example("random_policy.py", "--episodes", 2, "--max-ticks", 400)
    lines = printed.splitlines()
    assert len(lines) == 2
    assert all(re.match(r"episode \d: \d+ steps, return -?\d+\.\d+, ", line) for line in lines)
