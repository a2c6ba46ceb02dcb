// robosim.RobotState: the robot record at one moment, copied for Python
// (Simulation.robot returns one).
#pragma once

#include <pybind11/pybind11.h>

#include "python/session.h"

// The robot record as it is now, copied.
struct robot_snapshot {
  double x, y, heading, speed, turn;
  pybind11::tuple sensor_hit, sensor_value, vision_seen, vision_point;
  double grad_angle, grad_mag, heading_error;
};

// The robot as Python sees it: its record, with the readings it has now (see
// session::fresh_readings()).
robot_snapshot snapshot_robot(session& s);

void bind_robot_state(pybind11::module_& m);
