// The extension module robosim._robosim: the Simulation class over a session.
// Arguments are checked here, before anything changes: a wrong type is a
// TypeError, a value out of range (NaN, infinities, negative counts, sizes outside
// the headless runner's limits) a ValueError.
//
// numpy is imported only by the members that return arrays, so the module itself
// imports without it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>

#include "core/map.h"
#include "core/robot.h"
#include "core/world.h"
#include "python/navigation.h"
#include "python/session.h"
#include "python/world_making.h"
#include "shell/key_names.h"

namespace py = pybind11;

namespace {

// ---------------------------------------------------------------------------
// Argument checks

std::string type_name(const py::handle& value) {
  return py::str(py::type::handle_of(value).attr("__name__"));
}

[[noreturn]] void type_error(const std::string& message) {
  throw py::type_error(message);
}

[[noreturn]] void value_error(const std::string& message) {
  throw py::value_error(message);
}

// A whole number (int or anything with __index__, not bool) within [min, max].
long long whole_number(const py::handle& value, const char* name, long long min, long long max) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
    type_error(std::string(name) + " must be an integer, not " + type_name(value));
  }
  const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
  if (!number) throw py::error_already_set();
  int overflow = 0;
  const long long result = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0 || result < min || result > max) {
    value_error(std::string(name) + " must be from " + std::to_string(min) + " to " +
                std::to_string(max) + ", got " + std::string(py::repr(number)));
  }
  return result;
}

// A finite real number (int, float or anything with __float__, not bool or text).
double real_number(const py::handle& value, const char* name) {
  if (PyBool_Check(value.ptr()) || PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) ||
      !(PyFloat_Check(value.ptr()) || PyIndex_Check(value.ptr()) ||
        PyObject_HasAttrString(value.ptr(), "__float__"))) {
    type_error(std::string(name) + " must be a number, not " + type_name(value));
  }
  const double result = PyFloat_AsDouble(value.ptr());
  if (result == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  if (!std::isfinite(result)) {
    value_error(std::string(name) + " must be a finite number, got " +
                std::string(py::repr(value)));
  }
  return result;
}

bool flag(const py::handle& value, const char* name) {
  if (!PyBool_Check(value.ptr())) {
    type_error(std::string(name) + " must be True or False, not " + type_name(value));
  }
  return value.ptr() == Py_True;
}

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

// A file name as the system takes it: str (encoded as the file system wants),
// bytes, or an os.PathLike of either.
std::string file_path(const py::handle& value, const char* name) {
  py::object path;
  try {
    path = py::module_::import("os").attr("fsencode")(value);
  } catch (py::error_already_set& error) {
    if (!error.matches(PyExc_TypeError)) throw;
    type_error(std::string(name) + " must be a path (str, bytes or os.PathLike), not " +
               type_name(value));
  }
  std::string bytes = py::bytes(path);
  if (bytes.find('\0') != std::string::npos) {
    value_error(std::string(name) + " must not contain a zero byte");
  }
  return bytes;
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

robot_snapshot snapshot_robot() {
  robot_snapshot s{robot.x,
                   robot.y,
                   robot.heading,
                   robot.speed,
                   robot.turn,
                   py::tuple(kNumSensors),
                   py::tuple(kNumSensors),
                   py::tuple(kNumSensors),
                   py::tuple(kNumSensors),
                   robot.grad_angle,
                   robot.grad_mag,
                   robot.heading_error};
  for (int i = 0; i < kNumSensors; ++i) {
    s.sensor_hit[i] = py::bool_(robot.sensor_hit[i]);
    s.sensor_value[i] = py::float_(robot.sensor_value[i]);
    s.vision_seen[i] = py::bool_(robot.vision_seen[i]);
    s.vision_point[i] = py::make_tuple(robot.vision_point[i].x, robot.vision_point[i].y);
  }
  return s;
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

py::array_t<std::int32_t> grid_copy() {
  py::array_t<std::int32_t> out({kMapSize, kMapSize});
  std::memcpy(out.mutable_data(), world.map, sizeof world.map);
  return out;
}

py::dict stats_dict(const session_stats& s) {
  py::dict d;
  d["targets_reached"] = s.targets_reached;
  d["planning_runs"] = s.planning_runs;
  d["planning_failures"] = s.planning_failures;
  d["planning_gave_up"] = s.planning_gave_up;
  d["targets_per_minute"] = s.targets_per_minute;
  d["distance_travelled"] = s.metrics.distance;
  d["contacts"] = s.metrics.contacts;
  // None when no push-back ray met a wall, as the summary's null.
  d["least_push_distance"] = std::isfinite(s.metrics.least_push_distance)
                                 ? py::object(py::float_(s.metrics.least_push_distance))
                                 : py::object(py::none());
  d["stuck_spells"] = s.metrics.stuck_spells;
  d["stuck_seconds"] = s.metrics.stuck_seconds();
  d["longest_stuck_seconds"] = s.metrics.longest_stuck_seconds();
  d["console_messages"] = s.console_messages;
  d["console"] = s.console;
  return d;
}

// Python's exception for a world file that could not be loaded or saved:
// OSError(errno, message) becomes FileNotFoundError and its kin by itself.
void raise_world_file_failure(const world_file_failure& failure) {
  if (!failure.os_error()) {
    PyErr_SetString(PyExc_ValueError, failure.what());
  } else if (failure.error_number() != 0) {
    const py::object error =
        py::reinterpret_borrow<py::object>(PyExc_OSError)(failure.error_number(), failure.what());
    PyErr_SetObject(PyExc_OSError, error.ptr());
  } else {
    PyErr_SetString(PyExc_OSError, failure.what());
  }
}

std::uint32_t seed_or_time(const py::handle& seed) {
  if (seed.is_none()) return static_cast<std::uint32_t>(std::time(nullptr));
  return static_cast<std::uint32_t>(whole_number(seed, "seed", 0, UINT32_MAX));
}

void check_image_size(long long width, long long height) {
  if (width * height > kMaxImagePixels) {
    value_error("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels is too large (at most " + std::to_string(kMaxImagePixels) +
                " pixels in all)");
  }
}

}  // namespace

PYBIND11_MODULE(_robosim, m) {
  m.doc() = "The robot simulator's simulation, one per process (see robosim.Simulation).";
  m.attr("__version__") = ROBOSIM_VERSION;

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const world_file_failure& failure) {
      raise_world_file_failure(failure);
    }
  });

  py::class_<robot_snapshot>(m, "RobotState",
                             "The robot record at one moment, copied (see Simulation.robot).")
      .def_readonly("x", &robot_snapshot::x)
      .def_readonly("y", &robot_snapshot::y)
      .def_readonly("heading", &robot_snapshot::heading)
      .def_readonly("speed", &robot_snapshot::speed)
      .def_readonly("turn", &robot_snapshot::turn)
      .def_readonly("sensor_hit", &robot_snapshot::sensor_hit)
      .def_readonly("sensor_value", &robot_snapshot::sensor_value)
      .def_readonly("vision_seen", &robot_snapshot::vision_seen)
      .def_readonly("vision_point", &robot_snapshot::vision_point)
      .def_readonly("grad_angle", &robot_snapshot::grad_angle)
      .def_readonly("grad_mag", &robot_snapshot::grad_mag)
      .def_readonly("heading_error", &robot_snapshot::heading_error)
      .def("__repr__", [](const robot_snapshot& s) {
        return "RobotState(x=" + std::string(py::repr(py::float_(s.x))) +
               ", y=" + std::string(py::repr(py::float_(s.y))) +
               ", heading=" + std::string(py::repr(py::float_(s.heading))) + ")";
      });

  py::class_<session>(m, "Simulation")
      .def(py::init([](const py::object& seed, const py::object& world, const py::object& period,
                       const py::object& manual) {
             const std::uint32_t chosen_seed = seed_or_time(seed);
             std::optional<std::string> path;
             if (!world.is_none()) path = file_path(world, "world");
             const int period_ms =
                 static_cast<int>(whole_number(period, "period_ms", 1, kMaxPeriodMs));
             return std::make_unique<session>(chosen_seed, path, period_ms, flag(manual, "manual"));
           }),
           py::arg("seed") = py::none(), py::arg("world") = py::none(), py::arg("period_ms") = 10,
           py::arg("manual") = false)
      .def("close", &session::close)
      .def_property_readonly("closed", &session::closed)
      .def(
          "__enter__",
          [](session& s) -> session& {
            s.require_open();
            return s;
          },
          py::return_value_policy::reference)
      .def("__exit__", [](session& s, const py::args&) { s.close(); })
      .def(
          "step",
          [](session& s, const py::object& ticks) {
            const auto count = static_cast<std::uint64_t>(
                whole_number(ticks, "ticks", 0, static_cast<long long>(kMaxTicks)));
            // Ctrl-C raises KeyboardInterrupt from here; the ticks run so far stay.
            return s.step(count, [] {
              if (PyErr_CheckSignals() != 0) throw py::error_already_set();
              return false;
            });
          },
          py::arg("ticks") = 1)
      .def_property_readonly("tick", &session::tick)
      .def_property_readonly("time", &session::time)
      .def_property(
          "manual", &session::manual,
          [](session& s, const py::object& value) { s.set_manual(flag(value, "manual")); })
      .def("drive",
           [](session& s, const py::object& speed, const py::object& turn) {
             const double v = real_number(speed, "speed");
             const double w = real_number(turn, "turn");
             s.drive(v, w);
           })
      .def("key_down", [](session& s, const py::object& name) { s.key_down(key_code(name)); })
      .def("key_up", [](session& s, const py::object& name) { s.key_up(key_code(name)); })
      .def("press",
           [](session& s, const py::object& name) {
             const unsigned code = key_code(name);
             s.key_down(code);
             s.key_up(code);
           })
      .def_property_readonly("robot",
                             [](const session& s) {
                               s.require_open();
                               return snapshot_robot();
                             })
      .def("set_pose",
           [](session& s, const py::object& x, const py::object& y, const py::object& heading) {
             const double px = real_number(x, "x");
             const double py_ = real_number(y, "y");
             const double h = real_number(heading, "heading");
             s.set_pose(px, py_, h);
           })
      .def_property(
          "target",
          [](const session& s) {
            s.require_open();
            return py::make_tuple(world.target_x, world.target_y);
          },
          [](session& s, const py::object& value) {
            const auto xy = real_numbers(value, "target", 2);
            s.set_target(xy[0], xy[1]);
          })
      .def_property(
          "gains",
          [](const session& s) {
            s.require_open();
            return py::make_tuple(world.scale1, world.scale2, world.scale3);
          },
          [](session& s, const py::object& value) {
            const auto g = real_numbers(value, "gains", 3);
            s.set_gains(g[0], g[1], g[2]);
          })
      .def_property_readonly("walls",
                             [](const session& s) {
                               s.require_open();
                               return list_array(world.walls, world.num_walls, 4,
                                                 [](const wall_node& w, double* row) {
                                                   row[0] = w.x;
                                                   row[1] = w.y;
                                                   row[2] = w.width;
                                                   row[3] = w.height;
                                                 });
                             })
      .def("add_wall",
           [](session& s, const py::object& x, const py::object& y, const py::object& width,
              const py::object& height) {
             const double wx = real_number(x, "x");
             const double wy = real_number(y, "y");
             const double ww = real_number(width, "width");
             const double wh = real_number(height, "height");
             if (ww < 0 || wh < 0) value_error("a wall's width and height must not be negative");
             s.add_wall(wx, wy, ww, wh);
           })
      .def("clear_walls", &session::clear_walls)
      .def_property_readonly("impacts",
                             [](const session& s) {
                               s.require_open();
                               return list_array(world.impacts, world.num_impacts, 2,
                                                 [](const impact_node& i, double* row) {
                                                   row[0] = i.x;
                                                   row[1] = i.y;
                                                 });
                             })
      .def("clear_impacts", &session::clear_impacts)
      .def_property_readonly("waypoints",
                             [](const session& s) {
                               s.require_open();
                               return list_array(world.waypoints, world.num_waypoints, 4,
                                                 [](const waypoint_node& w, double* row) {
                                                   row[0] = w.x;
                                                   row[1] = w.y;
                                                   row[2] = w.angle;
                                                   row[3] = w.index;
                                                 });
                             })
      .def_property_readonly("cur_waypoint",
                             [](const session& s) {
                               s.require_open();
                               return world.cur_waypoint;
                             })
      .def_property_readonly("grid",
                             [](const session& s) {
                               s.require_open();
                               return grid_copy();
                             })
      .def("plan", &session::plan)
      .def("load", [](session& s, const py::object& path) { s.load(file_path(path, "path")); })
      .def("save", [](session& s, const py::object& path) { s.save(file_path(path, "path")); })
      .def(
          "render",
          [](session& s, const py::object& width, const py::object& height, const py::object& grad,
             const py::object& vision) {
            const long long w = whole_number(width, "width", 1, kMaxImageSide);
            const long long h = whole_number(height, "height", 1, kMaxImageSide);
            check_image_size(w, h);
            const bool g = flag(grad, "grad");
            const bool v = flag(vision, "vision");
            s.require_open();
            py::array_t<std::uint8_t> frame(
                {static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w), py::ssize_t{3}});
            s.render(static_cast<int>(w), static_cast<int>(h), g, v, frame.mutable_data());
            return frame;
          },
          py::arg("width") = 640, py::arg("height") = 480, py::arg("grad") = false,
          py::arg("vision") = false)
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
            if (gif_frame_count(count, step) > kMaxGifFrames) {
              value_error(
                  std::to_string(count) + " ticks with a frame every " + std::to_string(step) +
                  " make more than " + std::to_string(kMaxGifFrames) +
                  " frames; use every=" + std::to_string(smallest_gif_step(count)) + " or more");
            }
            // Ctrl-C raises KeyboardInterrupt from here; the file is left as it was.
            return s.record_gif(file, count, step, static_cast<int>(w), static_cast<int>(h), g, v,
                                t, [] {
                                  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                                  return false;
                                });
          },
          py::arg("path"), py::arg("ticks"), py::arg("every") = 10, py::arg("width") = 640,
          py::arg("height") = 480, py::arg("grad") = false, py::arg("vision") = false,
          py::arg("trail") = false)
      .def_property_readonly("stats", [](const session& s) { return stats_dict(s.stats()); })
      .def(
          "_navigation_step",
          [](session& s, double speed, double turn, std::uint64_t ticks) {
            s.require_open();
            const navigation_outcome outcome = navigation_step(s, speed, turn, ticks);
            py::array_t<float> observation(kObservationSize);
            navigation_observation(observation.mutable_data());
            return py::make_tuple(observation, s.tick(), outcome.reached, outcome.contact_ticks,
                                  outcome.progress);
          },
          "One step of robosim.env.NavigationEnv: (observation, tick, reached, contacts, "
          "progress). The arguments are the environment's, already checked.")
      .def("_navigation_observation", [](const session& s) {
        s.require_open();
        py::array_t<float> observation(kObservationSize);
        navigation_observation(observation.mutable_data());
        return observation;
      });

  m.def(
      "generate_world",
      [](const py::object& description, const py::object& path) {
        if (!py::isinstance<py::str>(description)) {
          type_error("description must be a str such as 'maze:8x8:1', not " +
                     type_name(description));
        }
        return write_generated_world(description.cast<std::string>(), file_path(path, "path"));
      },
      py::arg("description"), py::arg("path"));
  m.def(
      "import_map",
      [](const py::object& yaml_path, const py::object& path) {
        return write_imported_map(file_path(yaml_path, "yaml_path"), file_path(path, "path"));
      },
      py::arg("yaml_path"), py::arg("path"));

  m.attr("OBSERVATION_SIZE") = kObservationSize;
  m.attr("MAP_SIZE") = kMapSize;
}
