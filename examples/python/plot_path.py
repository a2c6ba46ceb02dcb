"""A seeded run in the maze: the robot's path over the walls and the wavefront grid,
plotted with matplotlib into a PNG.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/plot_path.py --out path.png
"""

import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

import robosim  # noqa: E402

WORLDS = pathlib.Path(__file__).resolve().parents[2] / "worlds"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--world", default=WORLDS / "maze.dat")
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--ticks", type=int, default=6000)
    parser.add_argument("--out", default="path.png")
    args = parser.parse_args()

    with robosim.Simulation(seed=args.seed, world=args.world) as sim:
        path = np.empty((args.ticks + 1, 2))
        path[0] = sim.robot.x, sim.robot.y
        for tick in range(1, args.ticks + 1):
            sim.step()
            path[tick] = sim.robot.x, sim.robot.y
        walls, grid, target = sim.walls, sim.grid, sim.target
        reached = sim.stats["targets_reached"]

    # The grid holds distances 0..254 to the target; 255 is beyond the wavefront and
    # -1 blocked (an impact). Its first index runs along x, so it is drawn transposed.
    distance = np.ma.masked_outside(grid & 0xFFF, 0, 254).T
    fig, ax = plt.subplots(figsize=(6, 6))
    ax.imshow(distance, extent=(0, 10, 10, 0), cmap="viridis", alpha=0.6, origin="upper")
    ax.imshow(np.ma.masked_not_equal(grid, -1).T, extent=(0, 10, 10, 0), cmap="gray",
              origin="upper")
    for x, y, width, height in walls:
        ax.add_patch(Rectangle((x, y), width, height, color=(0, 0.5, 0.78)))
    ax.plot(path[:, 0], path[:, 1], color="red", linewidth=0.8, label="robot's path")
    ax.plot(*target, marker="o", color="green", label="target")
    ax.set(xlim=(0, 10), ylim=(10, 0), aspect="equal",
           title=f"seed {args.seed}, {args.ticks} ticks, {reached} targets reached")
    ax.legend(loc="lower right")
    fig.savefig(args.out, dpi=100)
    print(f"{args.out}: {reached} targets reached")


if __name__ == "__main__":
    main()
