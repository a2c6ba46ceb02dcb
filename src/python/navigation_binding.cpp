#include "python/navigation_binding.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>

#include "python/navigation_binding_support.h"
#include "python/vector_navigation_binding.h"

namespace {

// ---------------------------------------------------------------------------
// Results

// The observation the view asks for: the 15 values, the top view, or a dict of
// both ("image", "vector").
py::object observation_of(navigation_episode& episode, const navigation_settings& settings) {
  py::object vector;
  py::object image;
  if (has_vector(settings.view)) {
    py::array_t<float> values(kObservationSize);
    episode.observe_vector(values.mutable_data());
    vector = std::move(values);
  }
  if (has_image(settings.view)) {
    py::array_t<std::uint8_t> pixels = image_array(-1, settings);
    episode.observe_image(settings, pixels.mutable_data());
    image = std::move(pixels);
  }
  if (settings.view == navigation_view::vector) return vector;
  if (settings.view == navigation_view::image) return image;
  py::dict both;
  both["image"] = image;
  both["vector"] = vector;
  return both;
}

// info["robosim_episode"]: the episode's return, steps and simulated seconds,
// named as Gymnasium's episode statistics wrapper names them (under a key of our
// own, which no standard wrapper writes), and whether the target was reached.
py::dict episode_dict(const navigation_episode_stats& stats) {
  py::dict d;
  d["r"] = stats.episode_return;
  d["l"] = stats.steps;
  d["t"] = stats.seconds;
  d["success"] = stats.success;
  return d;
}

// ---------------------------------------------------------------------------
// One environment

// The C++ state of one NavigationEnv: its settings and the episode going on.
// The episode is shared, so that a step keeps its own even when Python code run
// from inside it (a reward of the user's) begins another.
struct single_navigation {
  navigation_settings settings;
  std::shared_ptr<navigation_episode> episode;

  std::shared_ptr<navigation_episode> current() const {
    if (episode == nullptr) throw std::runtime_error("call reset() first");
    return episode;
  }
};

py::object begin_episode(single_navigation& nav, std::uint32_t seed, const py::object& world,
                         const py::object& pose, const py::object& target) {
  navigation_settings settings = nav.settings;
  settings.world = world_of(world);
  navigation_placement placement{pose_of(pose), target_of(target)};
  std::shared_ptr<navigation_episode> fresh;
  {
    const py::gil_scoped_release release;
    fresh = std::make_shared<navigation_episode>(seed, settings, placement);
  }
  // The old episode is held while its lock is awaited: another thread may
  // replace it meanwhile.
  if (const std::shared_ptr<navigation_episode> old = nav.episode) {
    const session_lock lock(old->sim());
    old->sim().close();
  }
  nav.settings.world = std::move(settings.world);
  nav.episode = fresh;
  return observation_of(*fresh, nav.settings);
}

py::tuple step_episode(single_navigation& nav, const py::handle& action,
                       const py::object& reward_rule) {
  const std::array<double, 2> a = action_values(action);
  const std::shared_ptr<navigation_episode> episode = nav.current();
  session& s = episode->sim();
  const session_lock lock(s);
  s.require_open();
  // Ctrl-C raises from inside a long step (frame_skip in the millions); the
  // ticks run are kept, as Simulation.step keeps them, and nothing is recorded.
  question_timer timer;
  const std::function<bool()> interrupted = [&timer] {
    if (!timer.due_by_clock()) return false;
    timer.restart(0);
    return python_interrupted();
  };
  const navigation_step_result r = episode->advance(a[0], a[1], nav.settings, interrupted);
  py::object reward;
  double value = r.reward;
  if (reward_rule.is_none()) {
    reward = py::float_(value);
  } else {
    reward = reward_rule(r.outcome.progress, r.outcome.reached, r.outcome.contact_ticks);
    value = PyFloat_AsDouble(reward.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      type_error("reward() must return a number, not " + type_name(reward));
    }
    s.require_open();  // the reward's code may have closed the simulation
  }
  episode->record(value, r);
  py::dict info;
  info["tick"] = r.tick;
  info["contacts"] = r.outcome.contact_ticks;
  if (r.terminated || r.truncated) {
    const navigation_episode_stats stats = episode->stats();
    info["robosim_episode"] = episode_dict(stats);
    info["is_success"] = stats.success;  // Stable-Baselines3's name for it
  }
  return py::make_tuple(observation_of(*episode, nav.settings), reward, py::bool_(r.terminated),
                        py::bool_(r.truncated), info);
}

void bind_single(py::module_& m) {
  py::class_<single_navigation>(m, "_Navigation",
                                "The C++ side of robosim.env.NavigationEnv (use that).")
      .def(py::init([](const py::object& world, std::uint64_t max_ticks, std::uint64_t frame_skip,
                       const std::string& observation, int image_width, int image_height) {
             auto nav = std::make_unique<single_navigation>();
             nav->settings =
                 settings_of(world, max_ticks, frame_skip, observation, image_width, image_height);
             return nav;
           }),
           py::arg("world"), py::arg("max_ticks"), py::arg("frame_skip"), py::arg("observation"),
           py::arg("image_width"), py::arg("image_height"))
      .def(
          "set_actions",
          [](single_navigation& nav, double speed_low, double speed_high, double turn_low,
             double turn_high, bool normalized) {
            nav.settings.actions =
                action_range_of(speed_low, speed_high, turn_low, turn_high, normalized);
          },
          py::arg("speed_low"), py::arg("speed_high"), py::arg("turn_low"), py::arg("turn_high"),
          py::arg("normalized"))
      .def(
          "set_reward",
          [](single_navigation& nav, double target_bonus, double contact_penalty) {
            nav.settings.target_bonus = target_bonus;
            nav.settings.contact_penalty = contact_penalty;
          },
          py::arg("target_bonus"), py::arg("contact_penalty"))
      .def("begin", &begin_episode, py::arg("seed"), py::arg("world"), py::arg("pose"),
           py::arg("target"),
           "A new episode (the old one's simulation is closed); returns its first observation. "
           "When it cannot begin, the old one goes on.")
      .def("step", &step_episode, py::arg("action"), py::arg("reward_rule"),
           "(observation, reward, terminated, truncated, info) of one step.")
      .def("observation",
           [](single_navigation& nav) {
             const auto episode = nav.current();
             const session_lock lock(episode->sim());
             episode->sim().require_open();
             return observation_of(*episode, nav.settings);
           })
      .def_property_readonly("simulation",
                             [](single_navigation& nav) { return nav.current()->shared_session(); })
      .def("episode_stats",
           [](single_navigation& nav) {
             const auto episode = nav.current();
             const session_lock lock(episode->sim());
             episode->sim().require_open();
             return episode_dict(episode->stats());
           })
      .def(
          "restore",
          [](single_navigation& nav, std::shared_ptr<session> s, double episode_return,
             std::uint64_t steps, bool success) {
            if (s == nullptr) type_error("restore() needs a Simulation");
            nav.episode = std::make_shared<navigation_episode>(
                std::move(s), navigation_episode_stats{episode_return, steps, 0.0, success});
          },
          py::arg("simulation"), py::arg("episode_return"), py::arg("steps"), py::arg("success"),
          "Goes on with a copied episode: its simulation and statistics (for pickle and copy).")
      .def("close", [](single_navigation& nav) {
        const std::shared_ptr<navigation_episode> episode = nav.episode;  // see begin
        if (episode == nullptr) return;
        const session_lock lock(episode->sim());
        episode->sim().close();
      });
}

}  // namespace

void bind_navigation(py::module_& m) {
  bind_single(m);
  bind_vector_navigation(m);
}
