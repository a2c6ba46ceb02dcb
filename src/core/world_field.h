// The potential field: repulsion from the nearest impact, attraction to the
// current waypoint and a pull of fixed length along the grid's navigation vector.
#pragma once

#include "core/utility.h"

struct simulation;

// They only read the simulation; its impact lookup (a cache) fills as they
// look, and a missing waypoint is reported on its console.

// Offset from the nearest impact (within sqrt(width * height)) to (x, y), or (0, 0).
void compute_impact_vector(const simulation& sim, double x, double y, point& out);
// Offset from the current waypoint to (x, y), or (0, 0); reports a missing waypoint.
void compute_waypoint_vector(const simulation& sim, double x, double y, point& out);
// Direction of the field at (x, y) and its signed magnitude sum
// |repulsion| - |attraction| + |navigation|.
void compute_grad_point(const simulation& sim, double x, double y, double& angle,
                        double& magnitude);
