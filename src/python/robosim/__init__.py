"""The robot simulator from Python.

``robosim.Simulation`` is the whole simulation of the window on a simulated clock:
started as the window starts it, ticked as the headless runner ticks it, with the
keys, the mouse's walls and target, world files and pictures. The simulation's
state is process-wide, so only one Simulation can be open in a process at a time;
run several in several processes.

``robosim.env.NavigationEnv`` is a Gymnasium-style environment over it (import
``robosim.env``; it needs numpy, as do the members that return arrays).

``robosim.generate_world(description, path)`` and ``robosim.import_map(yaml_path, path)``
write world files: a seeded maze or pillar field, or an occupancy map's walls.

See docs/python.md.
"""

from robosim._robosim import (
    MAP_SIZE,
    OBSERVATION_SIZE,
    RobotState,
    Simulation,
    __version__,
    generate_world,
    import_map,
)

__all__ = [
    "Simulation",
    "RobotState",
    "MAP_SIZE",
    "OBSERVATION_SIZE",
    "generate_world",
    "import_map",
]
