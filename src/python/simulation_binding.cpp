#include "python/simulation_binding.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "python/binding_support.h"
#include "python/simulation_output_binding.h"
#include "python/simulation_world_binding.h"
#include "shell/driver.h"
#include "shell/key_names.h"
#include "shell/placement.h"

namespace {

// ---------------------------------------------------------------------------
// Construction

constexpr const char* kSimulationDoc = R"(The whole simulation of the window on a simulated clock.

Simulation(seed=None, world=None, period_ms=10, manual=False, pose=None,
           target=None)

Starts as the window starts (the random generator seeded with seed, or with
the calendar time when it is None; the default world; one world step), then
loads world (a path) as File > Open loads it. period_ms (1 to 60,000) is the
tick period of the simulated clock; manual starts in manual mode. pose
(x, y, heading) places the robot as a world file would, target (x, y) the
target as the right mouse button would, each "random" for one drawn from the
seed clear of the walls; then one planning run. A pose outside where a tick
keeps the robot (x and y from 0.25 to 9.75) or a target outside the world or on
a wall raises ValueError, as the headless runner's --pose and --target refuse
them. The robot's readings are then those of its pose in that world.

Each Simulation owns its whole state: any number can be open at once, on any
threads; copy.copy, copy.deepcopy and pickle give one with the same future.
Positions are world units, x to the right and y downward on the screen (0 to 10
each); angles are radians, positive clockwise on the screen.)";

std::uint32_t seed_or_time(const py::handle& seed) {
  if (seed.is_none()) return static_cast<std::uint32_t>(std::time(nullptr));
  return static_cast<std::uint32_t>(whole_number(seed, "seed", 0, UINT32_MAX));
}

bool is_random(const py::handle& value, const char* name, const char* form) {
  if (!PyUnicode_Check(value.ptr())) return false;
  const std::string text = py::cast<std::string>(value);
  if (text == "random") return true;
  value_error(std::string(name) + " must be " + form + " or \"random\", got '" + text + "'");
}

std::optional<pose_request> pose_of_argument(const py::handle& pose) {
  if (pose.is_none()) return std::nullopt;
  if (is_random(pose, "pose", "(x, y, heading)")) return pose_request{.random = true};
  const std::vector<double> v = real_numbers(pose, "pose", 3);
  return pose_request{.x = v[0], .y = v[1], .heading = v[2]};
}

std::optional<target_request> target_of_argument(const py::handle& target) {
  if (target.is_none()) return std::nullopt;
  if (is_random(target, "target", "(x, y)")) return target_request{.random = true};
  const std::vector<double> v = real_numbers(target, "target", 2);
  return target_request{.x = v[0], .y = v[1]};
}

void bind_construction(simulation_class& c) {
  c.def(py::init([](const py::object& seed, const py::object& world, const py::object& period,
                    const py::object& manual, const py::object& pose, const py::object& target) {
          const std::uint32_t chosen_seed = seed_or_time(seed);
          std::optional<std::string> path;
          if (!world.is_none()) path = file_path(world, "world");
          const int period_ms =
              static_cast<int>(whole_number(period, "period_ms", 1, kMaxPeriodMs));
          const placement_request placement{pose_of_argument(pose), target_of_argument(target)};
          return std::make_shared<session>(chosen_seed, path, period_ms, flag(manual, "manual"),
                                           placement);
        }),
        py::arg("seed") = py::none(), py::arg("world") = py::none(), py::arg("period_ms") = 10,
        py::arg("manual") = false, py::arg("pose") = py::none(), py::arg("target") = py::none());
}

// ---------------------------------------------------------------------------
// Closing, and the with statement

void bind_lifetime(simulation_class& c) {
  c.def(
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
          "with: closes the Simulation.");
}

// ---------------------------------------------------------------------------
// Copies and pickling

constexpr const char* kCopyDoc =
    "An independent Simulation in exactly this state: stepped alike, both have the same "
    "future, bit for bit.";

std::shared_ptr<session> copy_of(session& s) {
  const session_lock lock(s);
  s.require_open();
  return std::make_shared<session>(s);
}

// robosim._restore_simulation, a plain Python function that pickle can name,
// makes the Simulation again with Simulation._from_snapshot.
py::tuple reduced(session& s) {
  const py::object restore = py::module_::import("robosim").attr("_restore_simulation");
  const session_lock lock(s);
  s.require_open();
  return py::make_tuple(restore, py::make_tuple(py::bytes(s.snapshot())));
}

void bind_copies(simulation_class& c) {
  c.def("copy", &copy_of, kCopyDoc)
      .def("__copy__", &copy_of, kCopyDoc)
      .def(
          "__deepcopy__", [](session& s, const py::object&) { return copy_of(s); }, py::arg("memo"),
          kCopyDoc)
      // Pickled as the snapshot's bytes, for every protocol: copyreg's way for
      // protocols 0 and 1 cannot make an instance of an extension type.
      .def(
          "__reduce_ex__", [](session& s, const py::object&) { return reduced(s); },
          py::arg("protocol"), "pickle: the whole state as a versioned snapshot.")
      .def("__reduce__", &reduced, "pickle: the whole state as a versioned snapshot.")
      .def_static(
          "_from_snapshot",
          [](const py::bytes& snapshot) {
            const std::string bytes = snapshot;
            return std::make_shared<session>(std::string_view(bytes));
          },
          py::arg("snapshot"), "A Simulation made again from the bytes of its pickled state.");
}

// ---------------------------------------------------------------------------
// Running ticks

constexpr const char* kStepDoc =
    R"(Runs up to `ticks` ticks as the headless runner does; returns the ticks run.

Fewer only after Esc (then 0 from then on). Ctrl-C raises KeyboardInterrupt
within a few tens of milliseconds, the ticks run so far kept.)";

void bind_running(simulation_class& c) {
  c.def(
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
                             "Simulated seconds so far (ticks times the tick period).");
}

// ---------------------------------------------------------------------------
// Driving: manual mode, the driving command, the keys

constexpr const char* kManualDoc =
    R"(The M key's flag: True in manual mode (drive() or the keys W, S, A, D drive).

The robot still reaches targets in manual mode, and a new one is drawn at
random when it does, as in automatic mode.)";

constexpr const char* kDriveDoc = R"(The driving command of every following tick, in manual mode.

speed: world units per tick (positive forward); turn: radians per tick added to
the heading (positive clockwise on the screen), -pi to pi. They stand in for
the keys W, S, A, D until the next drive() or until manual mode ends, used as
given. RuntimeError in automatic mode; ValueError for a turn beyond half a turn.)";

void bind_driving(simulation_class& c) {
  c.def_property(
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
            if (std::fabs(w) > kMaxDriveTurn) {
              value_error("turn must be from -pi to pi radians per tick, got " +
                          std::string(py::repr(py::float_(w))));
            }
            const session_lock lock(s);
            s.drive(v, w);
          },
          py::arg("speed"), py::arg("turn"), kDriveDoc);
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

void bind_keys(simulation_class& c) {
  c.def(
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
          py::arg("name"), "key_down() then key_up() of the key.");
}

}  // namespace

void bind_simulation(py::module_& m) {
  simulation_class c(m, "Simulation", kSimulationDoc);
  bind_construction(c);
  bind_lifetime(c);
  bind_copies(c);
  bind_running(c);
  bind_driving(c);
  bind_keys(c);
  bind_simulation_world(c);
  bind_simulation_output(c);
}
