#include "python/simulation_world_binding.h"

#include <pybind11/numpy.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/simulation.h"
#include "python/robot_state_binding.h"

namespace {

// ---------------------------------------------------------------------------
// The robot, the target and the field's gains

constexpr const char* kRobotDoc = R"(A copy of the robot record (RobotState).

The readings (sensor_hit, sensor_value, vision_seen, vision_point, grad_angle,
grad_mag, heading_error) are those of the last tick, taken at its start; after
opening, load() and set_pose() those the next tick will read at the new pose.)";

constexpr const char* kSetPoseDoc =
    R"(Places the robot at (x, y) with this heading, as a loaded world file does.

No planning run: the next tick's replanning sees the new place. The readings
of robot are brought up to date at once.)";

constexpr const char* kTargetDoc =
    R"((x, y) of the target; setting it moves the target and plans, as the right mouse
button does (when no path leads there, the planner draws a target of its own).)";

void bind_robot_and_target(simulation_class& c) {
  c.def_property_readonly("robot", locked([](session& s) { return snapshot_robot(s); }), kRobotDoc)
      .def(
          "set_pose",
          [](session& s, const py::object& x, const py::object& y, const py::object& heading) {
            const double px = real_number(x, "x");
            const double py_ = real_number(y, "y");
            const double h = real_number(heading, "heading");
            const session_lock lock(s);
            s.set_pose(px, py_, h);
          },
          py::arg("x"), py::arg("y"), py::arg("heading"), kSetPoseDoc)
      .def_property(
          "target", locked([](session& s) {
            return py::make_tuple(s.sim().world.target_x, s.sim().world.target_y);
          }),
          [](session& s, const py::object& value) {
            const auto xy = real_numbers(value, "target", 2);
            const session_lock lock(s);
            s.set_target(xy[0], xy[1]);
          },
          kTargetDoc)
      .def_property(
          "gains", locked([](session& s) {
            const world_state& world = s.sim().world;
            return py::make_tuple(world.scale1, world.scale2, world.scale3);
          }),
          [](session& s, const py::object& value) {
            const auto g = real_numbers(value, "gains", 3);
            const session_lock lock(s);
            s.set_gains(g[0], g[1], g[2]);
          },
          "(scale1, scale2, scale3): the field's gains (impacts, waypoint, grid).");
}

// ---------------------------------------------------------------------------
// The world's lists: walls, impacts, waypoints

// One row of `columns` values a node, in list order.
template <typename Node, typename Fill>
py::array_t<double> list_array(const Node* head, std::int32_t count, py::ssize_t columns,
                               Fill fill) {
  py::array_t<double> out({static_cast<py::ssize_t>(count), columns});
  auto cells = out.mutable_unchecked<2>();
  py::ssize_t row = 0;
  for (const Node* node = head; node != nullptr && row < count; node = node->next, ++row) {
    fill(*node, &cells(row, 0));
  }
  return out;
}

void bind_walls(simulation_class& c) {
  c.def_property_readonly("walls", locked([](session& s) {
                            const world_state& world = s.sim().world;
                            return list_array(world.walls, world.num_walls, 4,
                                              [](const wall_node& w, double* row) {
                                                row[0] = w.x;
                                                row[1] = w.y;
                                                row[2] = w.width;
                                                row[3] = w.height;
                                              });
                          }),
                          "float64 array n x 4 (x, y, width, height), newest first; the four "
                          "boundary walls are the oldest.")
      .def(
          "add_wall",
          [](session& s, const py::object& x, const py::object& y, const py::object& width,
             const py::object& height) {
            const double wx = real_number(x, "x");
            const double wy = real_number(y, "y");
            const double ww = real_number(width, "width");
            const double wh = real_number(height, "height");
            if (ww < 0 || wh < 0) value_error("a wall's width and height must not be negative");
            const session_lock lock(s);
            s.add_wall(wx, wy, ww, wh);
          },
          py::arg("x"), py::arg("y"), py::arg("width"), py::arg("height"),
          "Adds the wall [x, x + width] x [y, y + height], as the mouse adds one.")
      .def("clear_walls", locked([](session& s) { s.clear_walls(); }),
           "Removes every wall, the boundary walls too.");
}

void bind_impacts(simulation_class& c) {
  c.def_property_readonly("impacts", locked([](session& s) {
                            const world_state& world = s.sim().world;
                            return list_array(world.impacts, world.num_impacts, 2,
                                              [](const impact_node& i, double* row) {
                                                row[0] = i.x;
                                                row[1] = i.y;
                                              });
                          }),
                          "float64 array n x 2: where vision rays met walls closer than 1, "
                          "newest first.")
      .def("clear_impacts", locked([](session& s) { s.clear_impacts(); }),
           "Forgets the impacts (and the markers), as the N key does.");
}

// ---------------------------------------------------------------------------
// Planning: the waypoints, the grid, a planning run

constexpr const char* kWaypointsDoc = R"(float64 array n x 4 (x, y, angle, index) in list order.

The index counts from 0, the waypoint in the target's cell, up to the one
farthest along the path back to the robot.)";

constexpr const char* kCurWaypointDoc = R"(The index of the waypoint the robot steers to.

Each planning run sets it to the highest index (the first step out of the
robot's cell); each tick counts it down by one when the robot is nearer to
that waypoint than its diameter, down to 0 at the target. A planning run
follows every tick but those of the second after such an arrival.)";

constexpr const char* kGridDoc =
    R"(A copy of the 75 x 75 planning grid, int32, indexed [i, j] with i along x.

-1 blocked (every bit set, so test it first: grid == -1); else the low 12 bits
(grid & 0xFFF) are 0 for the target's cell, 1 to 254 the distance to it, 255
beyond the wavefront, and bit 0x4000 marks the cells of the last path.)";

py::array_t<std::int32_t> grid_copy(const world_state& world) {
  py::array_t<std::int32_t> out({kMapSize, kMapSize});
  std::memcpy(out.mutable_data(), world.map, sizeof world.map);
  return out;
}

void bind_planning(simulation_class& c) {
  c.def_property_readonly("waypoints", locked([](session& s) {
                            const world_state& world = s.sim().world;
                            return list_array(world.waypoints, world.num_waypoints, 4,
                                              [](const waypoint_node& w, double* row) {
                                                row[0] = w.x;
                                                row[1] = w.y;
                                                row[2] = w.angle;
                                                row[3] = w.index;
                                              });
                          }),
                          kWaypointsDoc)
      .def_property_readonly("cur_waypoint",
                             locked([](session& s) { return s.sim().world.cur_waypoint; }),
                             kCurWaypointDoc)
      .def_property_readonly("grid", locked([](session& s) { return grid_copy(s.sim().world); }),
                             kGridDoc)
      .def("plan", locked([](session& s) { s.plan(); }), "A planning run, as the P key makes.");
}

// ---------------------------------------------------------------------------
// World files

constexpr const char* kLoadDoc =
    R"(Loads a world file as File > Open does, with the window's rules and messages.

FileNotFoundError, IsADirectoryError, PermissionError (OSError) when it cannot be
read, ValueError when it is not a world file; either way the world stays as it
was. The robot's readings are then those of its pose in the new world.)";

constexpr const char* kSaveDoc =
    R"(Writes the world file of the robot's pose and the walls, as File > Save does.

The file is replaced whole or not at all. FileNotFoundError (no such folder),
IsADirectoryError, PermissionError and the other OSErrors when it cannot be
written.)";

void bind_world_files(simulation_class& c) {
  c.def(
       "load",
       [](session& s, const py::object& path) {
         const std::string file = file_path(path, "path");
         const session_lock lock(s);
         s.load(file);
       },
       py::arg("path"), kLoadDoc)
      .def(
          "save",
          [](session& s, const py::object& path) {
            const std::string file = file_path(path, "path");
            const session_lock lock(s);
            s.save(file);
          },
          py::arg("path"), kSaveDoc);
}

}  // namespace

void bind_simulation_world(simulation_class& c) {
  bind_robot_and_target(c);
  bind_walls(c);
  bind_impacts(c);
  bind_planning(c);
  bind_world_files(c);
}
