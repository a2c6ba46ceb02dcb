"""examples/python/train_ppo.py learns: PPO with fixed seeds and one PyTorch thread
brings the success rate over the last 100 training episodes above 90 %, the learned
policy reaches the target in most evaluation episodes, and the example writes its
learning curve and its episodes; it trains the same on robosim.sb3.VecEnv as on
SB3's DummyVecEnv. Run in the virtual environment with
Stable-Baselines3 (see CMakeLists.txt)."""

import csv
import os
import re
import subprocess
import sys

from PIL import Image

from conftest import SOURCE_DIR


def train(steps, out, *arguments):
    result = subprocess.run(
        [sys.executable, str(SOURCE_DIR / "examples" / "python" / "train_ppo.py"),
         "--steps", str(steps), "--seed", "0", "--out", str(out), *arguments],
        capture_output=True, text=True, timeout=800, env=dict(os.environ, MPLBACKEND="Agg"),
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


def episodes(out):
    with open(out / "episodes.csv", newline="") as stream:
        return list(csv.DictReader(stream))


def test_ppo_learns_to_reach_the_targets(tmp_path):
    printed = train(30000, tmp_path)
    last = float(re.search(r"success over the last 100 training episodes: ([\d.]+)%", printed)[1])
    assert last > 90, printed
    learned = int(re.search(r"learned policy: (\d+)% of 50", printed)[1])
    automatic = int(re.search(r"automatic mode: (\d+)% of the same", printed)[1])
    assert learned >= 80 and automatic >= 80, printed
    assert re.search(r"wall time [\d.]+ s: environments [\d.]+ s, policy in rollouts "
                     r"[\d.]+ s, updates [\d.]+ s", printed), printed

    rows = episodes(tmp_path)
    assert len(rows) >= 200 and set(rows[0]) == {"env_steps", "success", "return", "steps"}
    # Learning: the first episodes of a random policy reach the target less often.
    early = sum(row["success"] == "True" for row in rows[:50]) / 50
    assert early < last / 100, (early, last)
    with Image.open(tmp_path / "learning-curve.png") as image:
        assert image.size == (700, 400)
        assert len(image.getcolors(1 << 20)) > 10


def test_sb3s_own_vector_environment_gives_the_same_training(tmp_path):
    # Two rollouts and an update between them: the same episodes on
    # robosim.sb3.VecEnv and on SB3's DummyVecEnv, so the same policy.
    ours = tmp_path / "robosim"
    train(4096, ours, "--vec-env", "robosim")
    train(4096, tmp_path / "dummy", "--vec-env", "dummy")
    rows = episodes(ours)
    assert len(rows) > 10 and {row["success"] for row in rows} == {"True", "False"}, rows
    assert rows == episodes(tmp_path / "dummy")
