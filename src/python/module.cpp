// The extension module robosim._robosim: the Simulation class over a session,
// and (navigation_binding.h) the C++ sides of robosim.env's environments.
// Arguments are checked here, before anything changes: a wrong type is a
// TypeError, a value out of range (NaN, infinities, negative counts, sizes outside
// the headless runner's limits) a ValueError. Every argument can be given by its
// name, and every member has a docstring; robosim/_robosim.pyi gives the types.
//
// Every Simulation owns its simulation, so any number can be open at once, on
// any threads. Each call holds the simulation's mutex (waiting for it with
// Python's lock let go), so one simulation used from two threads is used by one
// at a time; the long calls (step, record_gif, render) let go of Python's lock
// while they run, so simulations on different threads run at the same time.
// A Simulation is held by a shared pointer, so that an environment's episode and
// the Simulation Python sees of it are one.
//
// numpy's C interface is set up when the module loads, if numpy is there (two
// threads setting it up at once on first use could deadlock); the module itself
// imports without numpy, only the members that return arrays need it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <variant>

#include "core/simulation.h"
#include "python/binding_support.h"
#include "python/navigation.h"
#include "python/navigation_binding.h"
#include "python/session.h"
#include "python/world_making.h"
#include "shell/film.h"
#include "shell/key_names.h"
#include "shell/run_metrics.h"
#include "shell/scene.h"
#include "shell/snapshot.h"

namespace {

using shared_session = std::shared_ptr<session>;

// ---------------------------------------------------------------------------
// Argument checks

// A pair or triple of finite numbers, from any sequence of that length.
std::vector<double> real_numbers(const py::handle& value, const char* name, std::size_t count) {
  if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) ||
      !PySequence_Check(value.ptr())) {
    type_error(std::string(name) + " must be a sequence of " + std::to_string(count) +
               " numbers, not " + type_name(value));
  }
  const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
  if (items.size() != count) {
    value_error(std::string(name) + " must hold " + std::to_string(count) + " numbers, got " +
                std::to_string(items.size()));
  }
  std::vector<double> result;
  for (std::size_t i = 0; i < count; ++i) result.push_back(real_number(items[i], name));
  return result;
}

unsigned key_code(const py::handle& name) {
  if (!PyUnicode_Check(name.ptr())) {
    type_error("a key name must be a str such as \"W\" or \"space\", not " + type_name(name));
  }
  const std::string text = py::str(name);
  const int code = key_code_of(text);
  if (code < 0) {
    value_error("unknown key " + std::string(py::repr(name)) + " (" + kKeyNameList + ")");
  }
  return static_cast<unsigned>(code);
}

// ---------------------------------------------------------------------------
// Results

// The robot record as it is now, copied.
struct robot_snapshot {
  double x, y, heading, speed, turn;
  py::tuple sensor_hit, sensor_value, vision_seen, vision_point;
  double grad_angle, grad_mag, heading_error;
};

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

// The robot as Python sees it: its record, with the readings it has now.
robot_snapshot snapshot_robot(session& s) {
  const robot_readings* fresh = s.fresh_readings();
  if (fresh != nullptr) return snapshot_of(s.sim().robot, *fresh);
  return snapshot_of(s.sim().robot, s.sim().robot);
}

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

py::array_t<std::int32_t> grid_copy(const world_state& world) {
  py::array_t<std::int32_t> out({kMapSize, kMapSize});
  std::memcpy(out.mutable_data(), world.map, sizeof world.map);
  return out;
}

py::object python_value(const metric_value& value) {
  if (const auto* count = std::get_if<std::uint64_t>(&value)) return py::int_(*count);
  if (const auto* real = std::get_if<double>(&value)) return py::float_(*real);
  return py::none();  // as the summary's null
}

py::dict stats_dict(const session_stats& s) {
  py::dict d;
  for (const run_metric& metric : run_metrics_table()) {
    d[metric.name] = python_value(metric_read(metric, s));
  }
  d["console_messages"] = s.console_messages;
  // The lines may name files whose names are not UTF-8.
  py::list console;
  for (const std::string& line : s.console) console.append(text_for_python(line));
  d["console"] = console;
  return d;
}

// robosim._robosim.RUN_METRICS: the table of run metrics, one dict a metric.
py::tuple run_metrics_tuple() {
  py::list rows;
  for (const run_metric& metric : run_metrics_table()) {
    py::dict row;
    row["name"] = metric.name;
    row["description"] = metric.description;
    row["unit"] = metric.unit;
    row["decimals"] = metric.decimals == kWholeNumber ? py::object(py::none())
                                                      : py::object(py::int_(metric.decimals));
    rows.append(row);
  }
  return py::tuple(rows);
}

std::uint32_t seed_or_time(const py::handle& seed) {
  if (seed.is_none()) return static_cast<std::uint32_t>(std::time(nullptr));
  return static_cast<std::uint32_t>(whole_number(seed, "seed", 0, UINT32_MAX));
}

// The sides are whole numbers from 1 to kMaxImageSide already.
void check_image_size(long long width, long long height) {
  if (!picture_size_allowed(width, height)) {
    value_error("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels is too large (at most " + std::to_string(kMaxImagePixels) +
                " pixels in all)");
  }
}

// A member without arguments that reads or changes the open session, under its lock.
template <typename Fn>
auto locked(Fn fn) {
  return [fn](session& s) {
    const session_lock lock(s);
    s.require_open();
    return fn(s);
  };
}

// ---------------------------------------------------------------------------
// Docstrings (docs/python.md says more)

constexpr const char* kSimulationDoc = R"(The whole simulation of the window on a simulated clock.

Simulation(seed=None, world=None, period_ms=10, manual=False)

Starts as the window starts (the random generator seeded with seed, or with
the calendar time when it is None; the default world; one world step), then
loads world (a path) as File > Open loads it. period_ms (1 to 60,000) is the
tick period of the simulated clock; manual starts in manual mode. The robot's
readings are then those of its pose in that world.

Each Simulation owns its whole state: any number can be open at once, on any
threads; copy.copy, copy.deepcopy and pickle give one with the same future.
Positions are world units, x to the right and y downward on the screen (0 to 10
each); angles are radians, positive clockwise on the screen.)";

constexpr const char* kStepDoc =
    R"(Runs up to `ticks` ticks as the headless runner does; returns the ticks run.

Fewer only after Esc (then 0 from then on). Ctrl-C raises KeyboardInterrupt
within a few tens of milliseconds, the ticks run so far kept.)";

constexpr const char* kDriveDoc = R"(The driving command of every following tick, in manual mode.

speed: world units per tick (positive forward); turn: radians per tick added to
the heading (positive clockwise on the screen). They stand in for the keys W,
S, A, D until the next drive() or until manual mode ends, used as given.
RuntimeError in automatic mode.)";

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

constexpr const char* kGridDoc =
    R"(A copy of the 75 x 75 planning grid, int32, indexed [i, j] with i along x.

-1 blocked (every bit set, so test it first: grid == -1); else the low 12 bits
(grid & 0xFFF) are 0 for the target's cell, 1 to 254 the distance to it, 255
beyond the wavefront, and bit 0x4000 marks the cells of the last path.)";

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

constexpr const char* kRenderDoc =
    R"(The frame the window would show at that client size: uint8 height x width x 3 (R, G, B).

Drawn by the window's drawing code; grad and vision draw the lattice and the
vision rays as --grad and --vision do. At most 16,384 pixels a side and 64 Mi
pixels in all.)";

constexpr const char* kRecordGifDoc =
    R"(Runs up to `ticks` ticks and films them as the headless runner's --gif does.

A frame of the state now, one every `every` ticks and one of the last tick,
drawn as render() draws (trail: the robot's path since the start of the
recording), each shown for the simulated time until the next. The file appears
only when the recording is complete; Ctrl-C (taken within a frame or a few
tens of milliseconds) or an error leaves an old one as it was. Returns the
ticks run. ValueError for more than 100,000 frames; OSError when the file
cannot be written.)";

std::string stats_doc() {
  std::string doc = "A dict of the run's counters and metrics since the simulation's start.\n\n";
  for (const run_metric& metric : run_metrics_table()) {
    doc += std::string(metric.name) + ": " + metric.description;
    if (*metric.unit != '\0') doc += std::string(" [") + metric.unit + "]";
    if (metric.none_when != nullptr) doc += std::string(" (None when ") + metric.none_when + ")";
    doc += "\n";
  }
  return doc +
         "console_messages: diagnostic messages written to the console\n"
         "console: the last 100 diagnostic lines";
}

constexpr const char* kWaypointsDoc = R"(float64 array n x 4 (x, y, angle, index) in list order.

The index counts from 0, the waypoint in the target's cell, up to the one
farthest along the path back to the robot.)";

constexpr const char* kCurWaypointDoc = R"(The index of the waypoint the robot steers to.

Each planning run sets it to the highest index (the first step out of the
robot's cell); each tick counts it down by one when the robot is nearer to
that waypoint than its diameter, down to 0 at the target. A planning run
follows every tick but those of the second after such an arrival.)";

constexpr const char* kManualDoc =
    R"(The M key's flag: True in manual mode (drive() or the keys W, S, A, D drive).

The robot still reaches targets in manual mode, and a new one is drawn at
random when it does, as in automatic mode.)";

}  // namespace

PYBIND11_MODULE(_robosim, m) {
  m.doc() =
      "The robot simulator's simulation (see robosim.Simulation); any number at once, on any "
      "threads.";
  m.attr("__version__") = ROBOSIM_VERSION;

  // Set up numpy's C interface now, while one thread loads the module; without
  // numpy the members that return arrays say so when called.
  try {
    py::module_::import("numpy");
    (void)py::detail::npy_api::get();
  } catch (py::error_already_set&) {
    PyErr_Clear();
  }

  register_failure_translation();

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

  // robosim._restore_simulation, a plain Python function that pickle can name,
  // makes the Simulation again with Simulation._from_snapshot.
  const auto reduced = [](session& s) {
    const py::object restore = py::module_::import("robosim").attr("_restore_simulation");
    const session_lock lock(s);
    s.require_open();
    return py::make_tuple(restore, py::make_tuple(py::bytes(s.snapshot())));
  };

  const auto copy_of = [](session& s) {
    const session_lock lock(s);
    s.require_open();
    return std::make_shared<session>(s);
  };
  constexpr const char* kCopyDoc =
      "An independent Simulation in exactly this state: stepped alike, both have the same "
      "future, bit for bit.";

  py::class_<session, shared_session>(m, "Simulation", kSimulationDoc)
      .def(py::init([](const py::object& seed, const py::object& world, const py::object& period,
                       const py::object& manual) {
             const std::uint32_t chosen_seed = seed_or_time(seed);
             std::optional<std::string> path;
             if (!world.is_none()) path = file_path(world, "world");
             const int period_ms =
                 static_cast<int>(whole_number(period, "period_ms", 1, kMaxPeriodMs));
             return std::make_shared<session>(chosen_seed, path, period_ms, flag(manual, "manual"));
           }),
           py::arg("seed") = py::none(), py::arg("world") = py::none(), py::arg("period_ms") = 10,
           py::arg("manual") = false)
      .def(
          "close",
          [](session& s) {
            const session_lock lock(s);
            s.close();
          },
          "Ends the simulation; any other member then raises RuntimeError. Closing twice is "
          "harmless.")
      .def_property_readonly(
          "closed",
          [](session& s) {
            const session_lock lock(s);
            return s.closed();
          },
          "True once close() has run.")
      .def(
          "__enter__",
          [](session& s) -> session& {
            const session_lock lock(s);
            s.require_open();
            return s;
          },
          py::return_value_policy::reference, "with: the Simulation itself.")
      .def(
          "__exit__",
          [](session& s, const py::args&) {
            const session_lock lock(s);
            s.close();
          },
          "with: closes the Simulation.")
      .def("copy", copy_of, kCopyDoc)
      .def("__copy__", copy_of, kCopyDoc)
      .def(
          "__deepcopy__", [copy_of](session& s, const py::object&) { return copy_of(s); },
          py::arg("memo"), kCopyDoc)
      // Pickled as the snapshot's bytes, for every protocol: copyreg's way for
      // protocols 0 and 1 cannot make an instance of an extension type.
      .def(
          "__reduce_ex__", [reduced](session& s, const py::object&) { return reduced(s); },
          py::arg("protocol"), "pickle: the whole state as a versioned snapshot.")
      .def("__reduce__", reduced, "pickle: the whole state as a versioned snapshot.")
      .def_static(
          "_from_snapshot",
          [](const py::bytes& snapshot) {
            const std::string bytes = snapshot;
            return std::make_shared<session>(std::string_view(bytes));
          },
          py::arg("snapshot"), "A Simulation made again from the bytes of its pickled state.")
      .def(
          "step",
          [](session& s, const py::object& ticks) {
            const auto count = static_cast<std::uint64_t>(
                whole_number(ticks, "ticks", 0, static_cast<long long>(kMaxTicks)));
            const session_lock lock(s);
            s.require_open();
            // Ctrl-C raises KeyboardInterrupt from here; the ticks run so far stay.
            const py::gil_scoped_release release;
            return s.step(count, python_interrupted);
          },
          py::arg("ticks") = 1, kStepDoc)
      .def_property_readonly("tick", locked([](session& s) { return s.tick(); }),
                             "Ticks run so far.")
      .def_property_readonly("time", locked([](session& s) { return s.time(); }),
                             "Simulated seconds so far (ticks times the tick period).")
      .def_property(
          "manual", locked([](session& s) { return s.manual(); }),
          [](session& s, const py::object& value) {
            const bool manual = flag(value, "manual");
            const session_lock lock(s);
            s.set_manual(manual);
          },
          kManualDoc)
      .def(
          "drive",
          [](session& s, const py::object& speed, const py::object& turn) {
            const double v = real_number(speed, "speed");
            const double w = real_number(turn, "turn");
            const session_lock lock(s);
            s.drive(v, w);
          },
          py::arg("speed"), py::arg("turn"), kDriveDoc)
      .def(
          "key_down",
          [](session& s, const py::object& name) {
            const unsigned code = key_code(name);
            const session_lock lock(s);
            s.key_down(code);
          },
          py::arg("name"),
          "Presses a key of the key table and keeps it down: a letter or digit, \"space\", "
          "\"esc\", \"up\", \"down\", \"left\", \"right\", \"enter\", \"tab\", \"backspace\", in "
          "any case; ValueError for another name.")
      .def(
          "key_up",
          [](session& s, const py::object& name) {
            const unsigned code = key_code(name);
            const session_lock lock(s);
            s.key_up(code);
          },
          py::arg("name"), "Lets a key go (names as key_down()).")
      .def(
          "press",
          [](session& s, const py::object& name) {
            const unsigned code = key_code(name);
            const session_lock lock(s);
            s.key_down(code);
            s.key_up(code);
          },
          py::arg("name"), "key_down() then key_up() of the key.")
      .def_property_readonly("robot", locked([](session& s) { return snapshot_robot(s); }),
                             kRobotDoc)
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
          "(scale1, scale2, scale3): the field's gains (impacts, waypoint, grid).")
      .def_property_readonly("walls", locked([](session& s) {
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
           "Removes every wall, the boundary walls too.")
      .def_property_readonly("impacts", locked([](session& s) {
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
           "Forgets the impacts (and the markers), as the N key does.")
      .def_property_readonly("waypoints", locked([](session& s) {
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
      .def("plan", locked([](session& s) { s.plan(); }), "A planning run, as the P key makes.")
      .def(
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
          py::arg("path"), kSaveDoc)
      .def(
          "render",
          [](session& s, const py::object& width, const py::object& height, const py::object& grad,
             const py::object& vision) {
            const long long w = whole_number(width, "width", 1, kMaxImageSide);
            const long long h = whole_number(height, "height", 1, kMaxImageSide);
            check_image_size(w, h);
            const bool g = flag(grad, "grad");
            const bool v = flag(vision, "vision");
            const session_lock lock(s);
            s.require_open();
            py::array_t<std::uint8_t> frame(
                {static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w), py::ssize_t{3}});
            std::uint8_t* pixels = frame.mutable_data();
            {
              const py::gil_scoped_release release;
              s.render(static_cast<int>(w), static_cast<int>(h), g, v, pixels);
            }
            return frame;
          },
          py::arg("width") = 640, py::arg("height") = 480, py::arg("grad") = false,
          py::arg("vision") = false, kRenderDoc)
      .def(
          "record_gif",
          [](session& s, const py::object& path, const py::object& ticks, const py::object& every,
             const py::object& width, const py::object& height, const py::object& grad,
             const py::object& vision, const py::object& trail) {
            const std::string file = file_path(path, "path");
            const auto count = static_cast<std::uint64_t>(
                whole_number(ticks, "ticks", 0, static_cast<long long>(kMaxTicks)));
            const auto step = static_cast<std::uint64_t>(
                whole_number(every, "every", 1, static_cast<long long>(kMaxTicks)));
            const long long w = whole_number(width, "width", 1, kMaxImageSide);
            const long long h = whole_number(height, "height", 1, kMaxImageSide);
            check_image_size(w, h);
            const bool g = flag(grad, "grad");
            const bool v = flag(vision, "vision");
            const bool t = flag(trail, "trail");
            if (!film_frames_allowed(count, step)) {
              value_error(
                  std::to_string(count) + " ticks with a frame every " + std::to_string(step) +
                  " make more than " + std::to_string(kMaxGifFrames) +
                  " frames; use every=" + std::to_string(smallest_gif_step(count)) + " or more");
            }
            const session_lock lock(s);
            s.require_open();
            // Ctrl-C raises KeyboardInterrupt from here; the file is left as it was.
            const py::gil_scoped_release release;
            return s.record_gif(file, count, step, static_cast<int>(w), static_cast<int>(h), g, v,
                                t, python_interrupted);
          },
          py::arg("path"), py::arg("ticks"), py::arg("every") = 10, py::arg("width") = 640,
          py::arg("height") = 480, py::arg("grad") = false, py::arg("vision") = false,
          py::arg("trail") = false, kRecordGifDoc)
      .def_property_readonly("stats", locked([](session& s) { return stats_dict(s.stats()); }),
                             stats_doc().c_str());

  bind_navigation(m);

  m.def(
      "generate_world",
      [](const py::object& description, const py::object& path) {
        if (!py::isinstance<py::str>(description)) {
          type_error("description must be a str such as 'maze:8x8:1', not " +
                     type_name(description));
        }
        return write_generated_world(description.cast<std::string>(), file_path(path, "path"));
      },
      py::arg("description"), py::arg("path"),
      "Writes the world \"maze:COLUMNSxROWS:SEED\" or \"pillars:COUNT:SEED\" describes to path, "
      "as the headless runner's --generate ... --save does; returns the walls written.");
  py::class_<imported_map>(m, "MapImport",
                           "What robosim.import_map wrote and how the map lies in the world: "
                           "a map point (X, Y) in metres is at x = origin[0] + X / "
                           "metres_per_unit, y = origin[1] - Y / metres_per_unit.")
      .def_readonly("walls", &imported_map::walls, "The number of walls written.")
      .def_readonly("metres_per_unit", &imported_map::metres_per_unit)
      .def_property_readonly(
          "origin", [](const imported_map& r) { return py::make_tuple(r.origin_x, r.origin_y); },
          "Where the map frame's (0, 0) lies in the world, in world units.")
      .def_property_readonly(
          "flip_y", [](const imported_map&) { return true; },
          "Always True: the map's y axis points up, the world's down.")
      .def_property_readonly(
          "region",
          [](const imported_map& r) {
            return py::make_tuple(r.region.x0, r.region.y0, r.region.x1, r.region.y1);
          },
          "The part of the map imported, (x0, y0, x1, y1) in metres of its frame.")
      .def_property_readonly(
          "robot", [](const imported_map& r) { return py::make_tuple(r.robot_x, r.robot_y); },
          "The robot's start in world units.")
      .def_property_readonly("warnings",
                             [](const imported_map& r) { return py::tuple(py::cast(r.warnings)); })
      .def(
          "to_world",
          [](const imported_map& r, const py::handle& x, const py::handle& y) {
            return py::make_tuple(r.origin_x + real_number(x, "x") / r.metres_per_unit,
                                  r.origin_y - real_number(y, "y") / r.metres_per_unit);
          },
          py::arg("x"), py::arg("y"), "A map point in metres as world units.")
      .def(
          "to_map",
          [](const imported_map& r, const py::handle& x, const py::handle& y) {
            return py::make_tuple((real_number(x, "x") - r.origin_x) * r.metres_per_unit,
                                  (r.origin_y - real_number(y, "y")) * r.metres_per_unit);
          },
          py::arg("x"), py::arg("y"), "A world point as metres in the map's frame.")
      .def("__str__",
           [](const imported_map& r) {
             std::string text;
             for (const std::string& line : r.description)
               text += (text.empty() ? "" : "\n") + line;
             return text;
           })
      .def("__repr__", [](const imported_map& r) {
        return "MapImport(walls=" + std::to_string(r.walls) +
               ", metres_per_unit=" + std::string(py::repr(py::float_(r.metres_per_unit))) +
               ", origin=" + std::string(py::repr(py::make_tuple(r.origin_x, r.origin_y))) + ")";
      });
  m.def(
      "import_map",
      [](const py::object& yaml_path, const py::object& path, const py::object& region,
         const py::object& unknown) {
        map_import_options options;
        if (!region.is_none()) {
          const std::vector<double> corners = real_numbers(region, "region", 4);
          const map_region chosen{corners[0], corners[1], corners[2], corners[3]};
          std::string problem;
          if (!check_map_region(chosen, problem)) value_error("region: " + problem);
          options.region = chosen;
        }
        if (!py::isinstance<py::str>(unknown)) {
          type_error("unknown must be 'free' or 'wall', not " + type_name(unknown));
        }
        const std::string unknown_text = unknown.cast<std::string>();
        if (unknown_text != "free" && unknown_text != "wall") {
          value_error("unknown must be 'free' or 'wall', got " + std::string(py::repr(unknown)));
        }
        options.unknown = unknown_text == "wall" ? unknown_cells::wall : unknown_cells::free;
        return write_imported_map(file_path(yaml_path, "yaml_path"), file_path(path, "path"),
                                  options, [](const std::string& warning) {
                                    if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 1) != 0) {
                                      throw py::error_already_set();
                                    }
                                  });
      },
      py::arg("yaml_path"), py::arg("path"), py::kw_only(), py::arg("region") = py::none(),
      py::arg("unknown") = "free");

  m.attr("OBSERVATION_SIZE") = kObservationSize;
  m.attr("MAP_SIZE") = kMapSize;
  // The pictures' limits (shell/scene.h), for the environments' image observations.
  m.attr("MAX_IMAGE_SIDE") = kMaxImageSide;
  m.attr("MAX_IMAGE_PIXELS") = kMaxImagePixels;
  m.def(
      "picture_size_allowed",
      [](long long width, long long height) { return picture_size_allowed(width, height); },
      py::arg("width"), py::arg("height"),
      "True for a picture of 1 to MAX_IMAGE_SIDE pixels a side and MAX_IMAGE_PIXELS in all, "
      "as render() and record_gif() take it.");
  m.attr("RUN_METRICS") = run_metrics_tuple();
}
