// What a robosim.Simulation holds of the world, read and changed: the robot
// and its pose, the target, the field's gains, the walls, the impacts, the
// waypoints and the planning grid, planning, and world files.
#pragma once

#include "python/binding_support.h"

void bind_simulation_world(simulation_class& c);
