"""A first controller: drive the robot in manual mode from its own sensors.

The robot turns toward the target, slows down and turns away when a vision ray
sees a wall close ahead, and backs up when a touch probe touches one. Sensors 0..5
look from 60 degrees left of the heading to 240 degrees (sensor 1 straight ahead,
2 at 60 degrees right); sensor_value is 2 minus the distance the ray saw, so it
grows as a wall comes nearer.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/manual_controller.py
"""

import argparse
import math
import pathlib

import robosim

WORLDS = pathlib.Path(__file__).resolve().parents[2] / "worlds"

FORWARD = 0.03
TURN = 0.03


def controller(robot, target):
    """Speed and turn for this tick."""
    if robot.sensor_hit[1]:  # touching ahead: back up, turning
        return -FORWARD, TURN
    wall_ahead = robot.sensor_value[1] > 1.4  # a wall closer than 0.6 ahead
    left, right = robot.sensor_value[0], robot.sensor_value[2]
    if wall_ahead:
        return FORWARD / 3, TURN if left > right else -TURN
    bearing = math.atan2(target[1] - robot.y, target[0] - robot.x) - robot.heading
    bearing = math.remainder(bearing, 2 * math.pi)
    turn = max(-TURN, min(TURN, bearing))
    return FORWARD, turn


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--world", default=WORLDS / "room-with-doorway.dat")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--ticks", type=int, default=6000)
    args = parser.parse_args()

    with robosim.Simulation(seed=args.seed, world=args.world, manual=True) as sim:
        for _ in range(args.ticks):
            sim.drive(*controller(sim.robot, sim.target))
            sim.step()
        print(f"{sim.stats['targets_reached']} targets reached in {sim.time:.0f} simulated "
              f"seconds; {len(sim.impacts)} impacts recorded")


if __name__ == "__main__":
    main()
