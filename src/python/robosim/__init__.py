"""The robot simulator from Python.

``robosim.Simulation`` is the whole simulation of the window on a simulated clock:
started as the window starts it, ticked as the headless runner ticks it, with the
keys, the mouse's walls and target, world files and pictures. Each Simulation owns
its whole state: any number can be open at once, on any threads, and copy.deepcopy
or pickle give one with the same future.

``robosim.env.NavigationEnv`` is a Gymnasium environment over it (with or
without Gymnasium installed; registered as ``robosim/Navigation-v0`` when it is),
and ``robosim.env.VectorNavigationEnv`` steps many of them in one call on threads
(import ``robosim.env``; it needs numpy, as do the members that return arrays).

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


def _restore_simulation(snapshot):
    """Makes a pickled Simulation again (pickle calls it; see Simulation.__reduce__)."""
    return Simulation._from_snapshot(snapshot)


__all__ = [
    "Simulation",
    "RobotState",
    "MAP_SIZE",
    "OBSERVATION_SIZE",
    "generate_world",
    "import_map",
]
