#include "python/robot_state_binding.h"

#include <string>

#include "python/binding_support.h"

namespace {

template <typename Readings>
robot_snapshot snapshot_of(const robot_state& robot, const Readings& read) {
  robot_snapshot s{robot.x,
                   robot.y,
                   robot.heading,
                   robot.speed,
                   robot.turn,
                   py::tuple(kNumSensors),
                   py::tuple(kNumSensors),
                   py::tuple(kNumSensors),
                   py::tuple(kNumSensors),
                   read.grad_angle,
                   read.grad_mag,
                   read.heading_error};
  for (int i = 0; i < kNumSensors; ++i) {
    s.sensor_hit[i] = py::bool_(read.sensor_hit[i]);
    s.sensor_value[i] = py::float_(read.sensor_value[i]);
    s.vision_seen[i] = py::bool_(read.vision_seen[i]);
    s.vision_point[i] = py::make_tuple(read.vision_point[i].x, read.vision_point[i].y);
  }
  return s;
}

}  // namespace

robot_snapshot snapshot_robot(session& s) {
  const robot_readings* fresh = s.fresh_readings();
  if (fresh != nullptr) return snapshot_of(s.sim().robot, *fresh);
  return snapshot_of(s.sim().robot, s.sim().robot);
}

void bind_robot_state(py::module_& m) {
  py::class_<robot_snapshot>(m, "RobotState",
                             "The robot record at one moment, copied (see Simulation.robot).")
      .def_readonly("x", &robot_snapshot::x, "World units from the left edge.")
      .def_readonly("y", &robot_snapshot::y, "World units from the top edge (y grows downward).")
      .def_readonly("heading", &robot_snapshot::heading,
                    "Radians from +x toward +y (clockwise on the screen), -pi to pi.")
      .def_readonly("speed", &robot_snapshot::speed, "The commanded speed, world units per tick.")
      .def_readonly("turn", &robot_snapshot::turn, "The commanded turn, radians per tick.")
      .def_readonly("sensor_hit", &robot_snapshot::sensor_hit,
                    "6 bools: each touch probe, just beyond the rim, in a wall or outside.")
      .def_readonly("sensor_value", &robot_snapshot::sensor_value,
                    "6 floats: 2 minus what each vision ray saw, 0 (nothing within 2) to 2 "
                    "(touching); 3 in a world without walls. Sensor i looks at heading - 60 + "
                    "60 i degrees: sensor 0 to the left of ahead, 1 ahead, 2 to the right.")
      .def_readonly("vision_seen", &robot_snapshot::vision_seen,
                    "6 bools: the ray saw a wall closer than 2.")
      .def_readonly("vision_point", &robot_snapshot::vision_point,
                    "6 (x, y): where each ray met the wall (meaningful where vision_seen).")
      .def_readonly("grad_angle", &robot_snapshot::grad_angle,
                    "The potential field's direction at the robot, radians.")
      .def_readonly("grad_mag", &robot_snapshot::grad_mag, "The field's strength at the robot.")
      .def_readonly("heading_error", &robot_snapshot::heading_error,
                    "grad_angle minus the heading, wrapped into -pi to pi.")
      .def("__repr__", [](const robot_snapshot& s) {
        return "RobotState(x=" + std::string(py::repr(py::float_(s.x))) +
               ", y=" + std::string(py::repr(py::float_(s.y))) +
               ", heading=" + std::string(py::repr(py::float_(s.heading))) + ")";
      });
}
