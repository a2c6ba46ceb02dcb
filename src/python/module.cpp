// The extension module robosim._robosim: the Simulation class over a session.
// Arguments are checked here, before anything changes: a wrong type is a
// TypeError, a value out of range (NaN, infinities, negative counts, sizes outside
// the headless runner's limits) a ValueError.
//
// Every Simulation owns its simulation, so any number can be open at once, on
// any threads. Each call holds the simulation's mutex (waiting for it with
// Python's lock let go), so one simulation used from two threads is used by one
// at a time; the long calls (step, record_gif, render) let go of Python's lock
// while they run, so simulations on different threads run at the same time.
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
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

#include "core/simulation.h"
#include "python/navigation.h"
#include "python/session.h"
#include "python/vector_navigation.h"
#include "python/world_making.h"
#include "shell/key_names.h"
#include "shell/snapshot.h"

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
// Locking

// Holds a session's mutex for one call. Waiting for it lets go of Python's lock,
// so that a thread running the session's ticks with Python's lock let go can
// take it back (to look for Ctrl-C) while this one waits.
class session_lock {
 public:
  explicit session_lock(const session& s) : lock_(s.mutex(), std::try_to_lock) {
    if (!lock_.owns_lock()) {
      const py::gil_scoped_release release;
      lock_.lock();
    }
  }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};

// The question a long call asks between ticks, with Python's lock let go: takes
// it back and runs the signal handlers; Ctrl-C (or any handler that raises)
// raises from here.
bool python_interrupted() {
  const py::gil_scoped_acquire acquire;
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  return false;
}

// ---------------------------------------------------------------------------
// Results

// The robot record as it is now, copied.
struct robot_snapshot {
  double x, y, heading, speed, turn;
  py::tuple sensor_hit, sensor_value, vision_seen, vision_point;
  double grad_angle, grad_mag, heading_error;
};

robot_snapshot snapshot_robot(const robot_state& robot) {
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

py::array_t<std::int32_t> grid_copy(const world_state& world) {
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
  d["largest_step"] = s.metrics.largest_step;
  d["wall_crossings_prevented"] = s.metrics.wall_crossings_prevented;
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

// A member without arguments that reads or changes the open session, under its lock.
template <typename Fn>
auto locked(Fn fn) {
  return [fn](session& s) {
    const session_lock lock(s);
    s.require_open();
    return fn(s);
  };
}

py::array_t<float> observation_of(const session& s) {
  py::array_t<float> observation(kObservationSize);
  navigation_observation(s.sim(), observation.mutable_data());
  return observation;
}

// ---------------------------------------------------------------------------
// The batched environment

// The vector environment's state in C++, with a lock for the calls that reach it
// from several Python threads.
struct vector_env {
  vector_env(std::size_t n, navigation_settings settings, std::size_t threads)
      : envs(n, std::move(settings), threads) {}
  std::mutex mutex;
  vector_navigation envs;
  navigation_batch batch;
};

// Holds the vector environment's lock, waiting for it with Python's lock let go.
class vector_lock {
 public:
  explicit vector_lock(vector_env& v) : lock_(v.mutex, std::try_to_lock) {
    if (!lock_.owns_lock()) {
      const py::gil_scoped_release release;
      lock_.lock();
    }
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

template <typename T, typename From>
py::array_t<T> array_of(const std::vector<From>& values) {
  py::array_t<T> out(static_cast<py::ssize_t>(values.size()));
  T* data = out.mutable_data();
  for (std::size_t i = 0; i < values.size(); ++i) data[i] = static_cast<T>(values[i]);
  return out;
}

// (observations, rewards, terminated, truncated, was_reset, ticks, contacts, seeds)
py::tuple batch_tuple(const navigation_batch& b, std::size_t n) {
  py::array_t<float> observations({static_cast<py::ssize_t>(n), py::ssize_t{kObservationSize}});
  std::memcpy(observations.mutable_data(), b.observations.data(),
              b.observations.size() * sizeof(float));
  return py::make_tuple(observations, array_of<double>(b.rewards), array_of<bool>(b.terminated),
                        array_of<bool>(b.truncated), array_of<bool>(b.was_reset),
                        array_of<std::int64_t>(b.ticks), array_of<std::int64_t>(b.contacts),
                        array_of<std::int64_t>(b.seeds));
}

std::vector<std::uint32_t> seeds_of(const py::handle& seeds, std::size_t n) {
  const auto array =
      py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(seeds);
  if (!array || array.ndim() != 1 || static_cast<std::size_t>(array.shape(0)) != n) {
    value_error("the seeds must be " + std::to_string(n) + " integers");
  }
  std::vector<std::uint32_t> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::int64_t seed = array.data()[k];
    if (seed < 0 || seed > UINT32_MAX) value_error("a seed must be from 0 to 4294967295");
    out[k] = static_cast<std::uint32_t>(seed);
  }
  return out;
}

void bind_vector_env(py::module_& m) {
  py::class_<vector_env>(m, "_VectorNavigation",
                         "The C++ side of robosim.env.VectorNavigationEnv (use that).")
      .def(py::init([](std::size_t n, const py::object& world, std::uint64_t max_ticks,
                       std::uint64_t frame_skip, std::size_t threads, double target_bonus,
                       double contact_penalty) {
             navigation_settings settings;
             if (!world.is_none()) settings.world = file_path(world, "world");
             settings.max_ticks = max_ticks;
             settings.frame_skip = frame_skip;
             settings.target_bonus = target_bonus;
             settings.contact_penalty = contact_penalty;
             return std::make_unique<vector_env>(n, std::move(settings), threads);
           }),
           py::arg("num_envs"), py::arg("world"), py::arg("max_ticks"), py::arg("frame_skip"),
           py::arg("num_threads"), py::arg("target_bonus"), py::arg("contact_penalty"))
      .def_property_readonly("num_threads", [](vector_env& v) { return v.envs.threads(); })
      .def("set_action_range",
           [](vector_env& v, double speed_low, double speed_high, double turn_low,
              double turn_high) {
             const vector_lock lock(v);
             v.envs.set_action_range(speed_low, speed_high, turn_low, turn_high);
           })
      .def("reset",
           [](vector_env& v, const py::object& seeds) {
             const vector_lock lock(v);
             const std::vector<std::uint32_t> chosen = seeds_of(seeds, v.envs.size());
             {
               const py::gil_scoped_release release;
               v.envs.reset(chosen.data(), v.batch);
             }
             return batch_tuple(v.batch, v.envs.size());
           })
      .def("step",
           [](vector_env& v, const py::object& actions, const py::object& next_seeds) {
             const vector_lock lock(v);
             const std::size_t n = v.envs.size();
             const auto a =
                 py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(actions);
             if (!a || a.ndim() != 2 || static_cast<std::size_t>(a.shape(0)) != n ||
                 a.shape(1) != 2) {
               value_error("the actions must be an array of " + std::to_string(n) + " x 2");
             }
             for (py::ssize_t i = 0; i < a.size(); ++i) {
               if (!std::isfinite(a.data()[i])) value_error("the actions must be finite numbers");
             }
             const std::vector<std::uint32_t> seeds = seeds_of(next_seeds, n);
             {
               const py::gil_scoped_release release;
               v.envs.step(a.data(), seeds.data(), v.batch);
             }
             return batch_tuple(v.batch, n);
           })
      .def("render", [](vector_env& v, std::size_t k, int width, int height) {
        const vector_lock lock(v);
        if (k >= v.envs.size() || v.envs.env(k) == nullptr) value_error("no such environment");
        session& s = *v.envs.env(k);
        py::array_t<std::uint8_t> frame(
            {static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width), py::ssize_t{3}});
        std::uint8_t* pixels = frame.mutable_data();
        {
          const py::gil_scoped_release release;
          s.render(width, height, false, false, pixels);
        }
        return frame;
      });
}

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

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const world_file_failure& failure) {
      raise_world_file_failure(failure);
    } catch (const snapshot_error& failure) {
      PyErr_SetString(PyExc_ValueError, failure.what());
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
    return std::make_unique<session>(s);
  };

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
      .def("close",
           [](session& s) {
             const session_lock lock(s);
             s.close();
           })
      .def_property_readonly("closed",
                             [](session& s) {
                               const session_lock lock(s);
                               return s.closed();
                             })
      .def(
          "__enter__",
          [](session& s) -> session& {
            const session_lock lock(s);
            s.require_open();
            return s;
          },
          py::return_value_policy::reference)
      .def("__exit__",
           [](session& s, const py::args&) {
             const session_lock lock(s);
             s.close();
           })
      .def("copy", copy_of,
           "An independent Simulation in exactly this state: stepped alike, both have the same "
           "future, bit for bit.")
      .def("__copy__", copy_of)
      .def("__deepcopy__", [copy_of](session& s, const py::object&) { return copy_of(s); })
      // Pickled as the snapshot's bytes, for every protocol: copyreg's way for
      // protocols 0 and 1 cannot make an instance of an extension type.
      .def("__reduce_ex__", [reduced](session& s, const py::object&) { return reduced(s); })
      .def("__reduce__", reduced)
      .def_static(
          "_from_snapshot",
          [](const py::bytes& snapshot) {
            const std::string bytes = snapshot;
            return std::make_unique<session>(std::string_view(bytes));
          },
          "A Simulation made again from the bytes of its pickled state.")
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
          py::arg("ticks") = 1)
      .def_property_readonly("tick", locked([](session& s) { return s.tick(); }))
      .def_property_readonly("time", locked([](session& s) { return s.time(); }))
      .def_property("manual", locked([](session& s) { return s.manual(); }),
                    [](session& s, const py::object& value) {
                      const bool manual = flag(value, "manual");
                      const session_lock lock(s);
                      s.set_manual(manual);
                    })
      .def("drive",
           [](session& s, const py::object& speed, const py::object& turn) {
             const double v = real_number(speed, "speed");
             const double w = real_number(turn, "turn");
             const session_lock lock(s);
             s.drive(v, w);
           })
      .def("key_down",
           [](session& s, const py::object& name) {
             const unsigned code = key_code(name);
             const session_lock lock(s);
             s.key_down(code);
           })
      .def("key_up",
           [](session& s, const py::object& name) {
             const unsigned code = key_code(name);
             const session_lock lock(s);
             s.key_up(code);
           })
      .def("press",
           [](session& s, const py::object& name) {
             const unsigned code = key_code(name);
             const session_lock lock(s);
             s.key_down(code);
             s.key_up(code);
           })
      .def_property_readonly("robot",
                             locked([](session& s) { return snapshot_robot(s.sim().robot); }))
      .def("set_pose",
           [](session& s, const py::object& x, const py::object& y, const py::object& heading) {
             const double px = real_number(x, "x");
             const double py_ = real_number(y, "y");
             const double h = real_number(heading, "heading");
             const session_lock lock(s);
             s.set_pose(px, py_, h);
           })
      .def_property("target", locked([](session& s) {
                      return py::make_tuple(s.sim().world.target_x, s.sim().world.target_y);
                    }),
                    [](session& s, const py::object& value) {
                      const auto xy = real_numbers(value, "target", 2);
                      const session_lock lock(s);
                      s.set_target(xy[0], xy[1]);
                    })
      .def_property("gains", locked([](session& s) {
                      const world_state& world = s.sim().world;
                      return py::make_tuple(world.scale1, world.scale2, world.scale3);
                    }),
                    [](session& s, const py::object& value) {
                      const auto g = real_numbers(value, "gains", 3);
                      const session_lock lock(s);
                      s.set_gains(g[0], g[1], g[2]);
                    })
      .def_property_readonly("walls", locked([](session& s) {
                               const world_state& world = s.sim().world;
                               return list_array(world.walls, world.num_walls, 4,
                                                 [](const wall_node& w, double* row) {
                                                   row[0] = w.x;
                                                   row[1] = w.y;
                                                   row[2] = w.width;
                                                   row[3] = w.height;
                                                 });
                             }))
      .def("add_wall",
           [](session& s, const py::object& x, const py::object& y, const py::object& width,
              const py::object& height) {
             const double wx = real_number(x, "x");
             const double wy = real_number(y, "y");
             const double ww = real_number(width, "width");
             const double wh = real_number(height, "height");
             if (ww < 0 || wh < 0) value_error("a wall's width and height must not be negative");
             const session_lock lock(s);
             s.add_wall(wx, wy, ww, wh);
           })
      .def("clear_walls", locked([](session& s) { s.clear_walls(); }))
      .def_property_readonly("impacts", locked([](session& s) {
                               const world_state& world = s.sim().world;
                               return list_array(world.impacts, world.num_impacts, 2,
                                                 [](const impact_node& i, double* row) {
                                                   row[0] = i.x;
                                                   row[1] = i.y;
                                                 });
                             }))
      .def("clear_impacts", locked([](session& s) { s.clear_impacts(); }))
      .def_property_readonly("waypoints", locked([](session& s) {
                               const world_state& world = s.sim().world;
                               return list_array(world.waypoints, world.num_waypoints, 4,
                                                 [](const waypoint_node& w, double* row) {
                                                   row[0] = w.x;
                                                   row[1] = w.y;
                                                   row[2] = w.angle;
                                                   row[3] = w.index;
                                                 });
                             }))
      .def_property_readonly("cur_waypoint",
                             locked([](session& s) { return s.sim().world.cur_waypoint; }))
      .def_property_readonly("grid", locked([](session& s) { return grid_copy(s.sim().world); }))
      .def("plan", locked([](session& s) { s.plan(); }))
      .def("load",
           [](session& s, const py::object& path) {
             const std::string file = file_path(path, "path");
             const session_lock lock(s);
             s.load(file);
           })
      .def("save",
           [](session& s, const py::object& path) {
             const std::string file = file_path(path, "path");
             const session_lock lock(s);
             s.save(file);
           })
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
            const session_lock lock(s);
            s.require_open();
            // Ctrl-C raises KeyboardInterrupt from here; the file is left as it was.
            const py::gil_scoped_release release;
            return s.record_gif(file, count, step, static_cast<int>(w), static_cast<int>(h), g, v,
                                t, python_interrupted);
          },
          py::arg("path"), py::arg("ticks"), py::arg("every") = 10, py::arg("width") = 640,
          py::arg("height") = 480, py::arg("grad") = false, py::arg("vision") = false,
          py::arg("trail") = false)
      .def_property_readonly("stats", locked([](session& s) { return stats_dict(s.stats()); }))
      .def(
          "_navigation_step",
          [](session& s, double speed, double turn, std::uint64_t ticks) {
            const session_lock lock(s);
            s.require_open();
            const navigation_outcome outcome = navigation_step(s, speed, turn, ticks);
            return py::make_tuple(observation_of(s), s.tick(), outcome.reached,
                                  outcome.contact_ticks, outcome.progress);
          },
          "One step of robosim.env.NavigationEnv: (observation, tick, reached, contacts, "
          "progress). The arguments are the environment's, already checked.")
      .def("_navigation_observation", locked([](session& s) { return observation_of(s); }));

  bind_vector_env(m);

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
}
