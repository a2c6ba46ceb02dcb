#include "python/vector_navigation_binding.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/navigation_binding_support.h"
#include "python/vector_navigation.h"

namespace {

// ---------------------------------------------------------------------------
// The batched environment

// The statistics of the episodes that end in a batch, kept in C++ and reused:
// they become arrays only in the (rarer) batches in which an episode ended.
struct episode_columns {
  explicit episode_columns(std::size_t n)
      : ended(new bool[n]), success(new bool[n]), episode_return(n), steps(n), seconds(n) {}

  std::unique_ptr<bool[]> ended, success;
  std::vector<double> episode_return;
  std::vector<std::int64_t> steps;
  std::vector<double> seconds;
};

template <typename T>
py::array_t<T> array_of(const T* values, std::size_t n) {
  py::array_t<T> out(static_cast<py::ssize_t>(n));
  std::memcpy(out.mutable_data(), values, n * sizeof(T));
  return out;
}

// The vector environment's state in C++, with a lock for the calls that reach it
// from several Python threads.
struct vector_env {
  vector_env(std::size_t n, navigation_settings settings, std::size_t threads, autoreset_mode mode)
      : envs(n, settings, threads, mode),
        episodes(n),
        final_vectors(has_vector(settings.view) ? n * kObservationSize : 0),
        final_images(has_image(settings.view)
                         ? n * static_cast<std::size_t>(settings.image_width) *
                               static_cast<std::size_t>(settings.image_height) * 3
                         : 0),
        final_seeds(n) {}
  std::mutex mutex;
  vector_navigation envs;
  episode_columns episodes;
  // Same step: the last observations and seeds of the episodes that ended in
  // the last step (the other rows are stale).
  std::vector<float> final_vectors;
  std::vector<std::uint8_t> final_images;
  std::vector<std::int64_t> final_seeds;
};

autoreset_mode autoreset_mode_of(const std::string& name) {
  if (name == "next_step") return autoreset_mode::next_step;
  if (name == "same_step") return autoreset_mode::same_step;
  value_error("autoreset_mode must be \"next_step\" or \"same_step\", not \"" + name + "\"");
}

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

// The arrays a batch is written into, and where each goes in the batch.
struct batch_arrays {
  batch_arrays(std::size_t n, const navigation_settings& settings, episode_columns& episodes)
      : count(static_cast<py::ssize_t>(n)),
        rewards(count),
        terminated(count),
        truncated(count),
        began(count),
        ticks(count),
        contacts(count),
        seeds(count),
        episodes(episodes) {
    if (has_vector(settings.view)) observations = py::array_t<float>({count, py::ssize_t{15}});
    if (has_image(settings.view)) images = image_array(count, settings);
    out.observations = has_vector(settings.view) ? observations.mutable_data() : nullptr;
    out.images = has_image(settings.view) ? images.mutable_data() : nullptr;
    out.rewards = rewards.mutable_data();
    out.terminated = terminated.mutable_data();
    out.truncated = truncated.mutable_data();
    out.began = began.mutable_data();
    out.ticks = ticks.mutable_data();
    out.contacts = contacts.mutable_data();
    out.seeds = seeds.mutable_data();
    out.ended = episodes.ended.get();
    out.episode_return = episodes.episode_return.data();
    out.episode_steps = episodes.steps.data();
    out.episode_seconds = episodes.seconds.data();
    out.episode_success = episodes.success.get();
  }

  // (observations, rewards, terminated, truncated, began, ticks, contacts,
  // seeds, episodes): observations as the view asks (a dict of "image" and
  // "vector" for both), episodes None unless an episode ended, else
  // (ended, r, l, t, success).
  py::tuple result(const navigation_settings& settings, std::size_t n) const {
    py::object shown;
    if (settings.view == navigation_view::vector) {
      shown = observations;
    } else if (settings.view == navigation_view::image) {
      shown = images;
    } else {
      py::dict both;
      both["image"] = images;
      both["vector"] = observations;
      shown = both;
    }
    py::object ended = py::none();
    const bool* end = episodes.ended.get();
    if (std::any_of(end, end + n, [](bool e) { return e; })) {
      ended =
          py::make_tuple(array_of(end, n), array_of(episodes.episode_return.data(), n),
                         array_of(episodes.steps.data(), n), array_of(episodes.seconds.data(), n),
                         array_of(episodes.success.get(), n));
    }
    return py::make_tuple(shown, rewards, terminated, truncated, began, ticks, contacts, seeds,
                          ended);
  }

  py::ssize_t count;
  py::array_t<float> observations;
  py::array_t<std::uint8_t> images;
  py::array_t<double> rewards;
  py::array_t<bool> terminated, truncated, began;
  py::array_t<std::int64_t> ticks, contacts, seeds;
  episode_columns& episodes;
  navigation_batch_out out;
};

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

// The actions of a batch: num_envs x 2 real numbers, finite; an array of a real
// dtype, or rows that each are an action as NavigationEnv takes it.
py::array_t<double, py::array::c_style> actions_of(const py::handle& actions, std::size_t n) {
  if (!py::isinstance<py::array>(actions)) {
    if (PyUnicode_Check(actions.ptr()) || PyBytes_Check(actions.ptr()) ||
        !PySequence_Check(actions.ptr())) {
      type_error("the actions must be an array of " + std::to_string(n) + " x 2, not " +
                 type_name(actions));
    }
    const py::sequence rows = py::reinterpret_borrow<py::sequence>(actions);
    if (rows.size() != n) {
      value_error("the actions must be an array of " + std::to_string(n) + " x 2, got " +
                  std::to_string(rows.size()) + " rows");
    }
    py::array_t<double, py::array::c_style> a({static_cast<py::ssize_t>(n), py::ssize_t{2}});
    for (std::size_t k = 0; k < n; ++k) {
      const std::array<double, 2> row = action_values(rows[k]);
      a.mutable_data()[2 * k] = row[0];
      a.mutable_data()[2 * k + 1] = row[1];
    }
    return a;
  }
  check_real_dtype(actions, "the actions");
  const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(actions);
  if (!a || a.ndim() != 2 || static_cast<std::size_t>(a.shape(0)) != n || a.shape(1) != 2) {
    PyErr_Clear();
    value_error("the actions must be an array of " + std::to_string(n) + " x 2");
  }
  for (py::ssize_t i = 0; i < a.size(); ++i) {
    if (!std::isfinite(a.data()[i])) value_error("the actions must be finite numbers");
  }
  return a;
}

std::unique_ptr<vector_env> make_vector_env(std::size_t n, const py::object& world,
                                            std::uint64_t max_ticks, std::uint64_t frame_skip,
                                            std::size_t threads, double target_bonus,
                                            double contact_penalty, const std::string& observation,
                                            int image_width, int image_height,
                                            const std::string& mode) {
  navigation_settings settings =
      settings_of(world, max_ticks, frame_skip, observation, image_width, image_height);
  settings.target_bonus = target_bonus;
  settings.contact_penalty = contact_penalty;
  return std::make_unique<vector_env>(n, std::move(settings), threads, autoreset_mode_of(mode));
}

py::tuple vector_reset(vector_env& v, const py::object& seeds, const py::object& world,
                       double speed_low, double speed_high, double turn_low, double turn_high,
                       bool normalized, const py::object& pose, const py::object& target) {
  const vector_lock lock(v);
  const std::size_t n = v.envs.size();
  const std::vector<std::uint32_t> chosen = seeds_of(seeds, n);
  navigation_settings settings = v.envs.settings();
  settings.world = world_of(world);
  settings.actions = action_range_of(speed_low, speed_high, turn_low, turn_high, normalized);
  const navigation_placement placement{pose_of(pose), target_of(target)};
  batch_arrays batch(n, settings, v.episodes);
  {
    const py::gil_scoped_release release;
    v.envs.reset(chosen.data(), settings, placement, batch.out);
  }
  return batch.result(settings, n);
}

py::tuple vector_step(vector_env& v, const py::object& actions, const py::object& next_seeds) {
  const vector_lock lock(v);
  const std::size_t n = v.envs.size();
  const auto a = actions_of(actions, n);
  const std::vector<std::uint32_t> seeds = seeds_of(next_seeds, n);
  batch_arrays batch(n, v.envs.settings(), v.episodes);
  if (v.envs.mode() == autoreset_mode::same_step) {
    batch.out.final_observations = v.final_vectors.empty() ? nullptr : v.final_vectors.data();
    batch.out.final_images = v.final_images.empty() ? nullptr : v.final_images.data();
    batch.out.final_seeds = v.final_seeds.data();
  }
  {
    const py::gil_scoped_release release;
    // Ctrl-C stops the step (it counts for no environment) and raises.
    v.envs.step(a.data(), seeds.data(), batch.out, python_interrupted);
  }
  return batch.result(v.envs.settings(), n);
}

// Same step: (observations, seeds) of the episodes that ended in the last step,
// arrays of num_envs rows of which only those rows hold anything.
py::tuple vector_final_observations(vector_env& v) {
  const vector_lock lock(v);
  const navigation_settings& settings = v.envs.settings();
  const std::size_t n = v.envs.size();
  const auto count = static_cast<py::ssize_t>(n);
  py::object vectors, images;
  if (!v.final_vectors.empty()) {
    py::array_t<float> a({count, py::ssize_t{kObservationSize}});
    std::memcpy(a.mutable_data(), v.final_vectors.data(), v.final_vectors.size() * sizeof(float));
    vectors = a;
  }
  if (!v.final_images.empty()) {
    py::array_t<std::uint8_t> a = image_array(count, settings);
    std::memcpy(a.mutable_data(), v.final_images.data(), v.final_images.size());
    images = a;
  }
  py::object shown =
      settings.view == navigation_view::vector ? vectors
      : settings.view == navigation_view::image
          ? images
          : py::object(py::dict(py::arg("image") = images, py::arg("vector") = vectors));
  return py::make_tuple(shown, array_of(v.final_seeds.data(), n));
}

navigation_episode& episode_of(vector_env& v, std::size_t k) {
  if (k >= v.envs.size()) value_error("no such environment");
  if (v.envs.env(k) == nullptr) throw std::runtime_error("call reset() first");
  return *v.envs.env(k);
}

// (simulation, return, steps, success, seed, ended) of environment k, for pickle.
py::tuple vector_episode_state(vector_env& v, std::size_t k) {
  const vector_lock lock(v);
  navigation_episode& episode = episode_of(v, k);
  const navigation_episode_stats stats = episode.stats();
  return py::make_tuple(episode.shared_session(), stats.episode_return, stats.steps, stats.success,
                        v.envs.seed(k), v.envs.ended(k));
}

void vector_restore(vector_env& v, std::size_t k, std::shared_ptr<session> s, double episode_return,
                    std::uint64_t steps, bool success, std::uint32_t seed, bool ended) {
  const vector_lock lock(v);
  if (k >= v.envs.size()) value_error("no such environment");
  if (s == nullptr) type_error("restore() needs a Simulation");
  v.envs.restore(k,
                 std::make_unique<navigation_episode>(
                     std::move(s), navigation_episode_stats{episode_return, steps, 0.0, success}),
                 seed, ended);
}

py::array_t<std::uint8_t> vector_render(vector_env& v, std::size_t k, int width, int height) {
  const vector_lock lock(v);
  session& s = episode_of(v, k).sim();
  py::array_t<std::uint8_t> frame(
      {static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width), py::ssize_t{3}});
  std::uint8_t* pixels = frame.mutable_data();
  {
    const py::gil_scoped_release release;
    s.render(width, height, false, false, pixels);
  }
  return frame;
}

}  // namespace

void bind_vector_navigation(py::module_& m) {
  py::class_<vector_env>(m, "_VectorNavigation",
                         "The C++ side of robosim.env.VectorNavigationEnv (use that).")
      .def(py::init(&make_vector_env), py::arg("num_envs"), py::arg("world"), py::arg("max_ticks"),
           py::arg("frame_skip"), py::arg("num_threads"), py::arg("target_bonus"),
           py::arg("contact_penalty"), py::arg("observation"), py::arg("image_width"),
           py::arg("image_height"), py::arg("autoreset_mode") = "next_step")
      .def_property_readonly("num_threads", [](vector_env& v) { return v.envs.threads(); })
      .def_property_readonly("autoreset_mode",
                             [](vector_env& v) {
                               return v.envs.mode() == autoreset_mode::same_step ? "same_step"
                                                                                 : "next_step";
                             })
      .def("reset", &vector_reset, py::arg("seeds"), py::arg("world"), py::arg("speed_low"),
           py::arg("speed_high"), py::arg("turn_low"), py::arg("turn_high"), py::arg("normalized"),
           py::arg("pose"), py::arg("target"))
      .def("step", &vector_step, py::arg("actions"), py::arg("next_seeds"))
      .def("final_observations", &vector_final_observations)
      .def(
          "set_actions",
          [](vector_env& v, double speed_low, double speed_high, double turn_low, double turn_high,
             bool normalized) {
            const vector_lock lock(v);
            v.envs.set_actions(
                action_range_of(speed_low, speed_high, turn_low, turn_high, normalized));
          },
          py::arg("speed_low"), py::arg("speed_high"), py::arg("turn_low"), py::arg("turn_high"),
          py::arg("normalized"))
      .def(
          "set_reward",
          [](vector_env& v, double target_bonus, double contact_penalty) {
            const vector_lock lock(v);
            v.envs.set_reward(target_bonus, contact_penalty);
          },
          py::arg("target_bonus"), py::arg("contact_penalty"))
      .def(
          "set_world",
          [](vector_env& v, const py::object& world) {
            std::optional<std::string> path = world_of(world);
            const vector_lock lock(v);
            v.envs.set_world(std::move(path));
          },
          py::arg("world"))
      .def(
          "simulation",
          [](vector_env& v, std::size_t k) {
            const vector_lock lock(v);
            return episode_of(v, k).shared_session();
          },
          py::arg("index"))
      .def("episode_state", &vector_episode_state, py::arg("index"))
      .def("restore", &vector_restore, py::arg("index"), py::arg("simulation"),
           py::arg("episode_return"), py::arg("steps"), py::arg("success"), py::arg("seed"),
           py::arg("ended"))
      .def("render", &vector_render, py::arg("index"), py::arg("width"), py::arg("height"));
  m.def("_usable_cores", &usable_cores,
        "The cores this process may use: its affinity mask, within its cgroup's CPU quota.");
}
