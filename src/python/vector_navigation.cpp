#include "python/vector_navigation.h"

#include <algorithm>
#include <cstring>
#include <utility>

vector_navigation::vector_navigation(std::size_t num_envs, navigation_settings settings,
                                     std::size_t threads)
    : settings_(std::move(settings)),
      envs_(num_envs),
      seeds_(num_envs, 0),
      ended_(num_envs, 0),
      pool_(std::max<std::size_t>(1, std::min(threads, num_envs))) {}

void vector_navigation::clear(std::size_t k, const navigation_batch_out& out) const {
  out.rewards[k] = 0.0;
  out.terminated[k] = false;
  out.truncated[k] = false;
  out.began[k] = false;
  out.ticks[k] = 0;
  out.contacts[k] = 0;
  out.ended[k] = false;
  out.episode_return[k] = 0.0;
  out.episode_steps[k] = 0;
  out.episode_seconds[k] = 0.0;
  out.episode_success[k] = false;
}

void vector_navigation::observe(std::size_t k, const navigation_batch_out& out) {
  navigation_episode& episode = *envs_[k];
  if (out.observations != nullptr) {
    episode.observe_vector(out.observations + k * kObservationSize);
  }
  if (out.images != nullptr) {
    const std::size_t bytes = static_cast<std::size_t>(settings_.image_width) *
                              static_cast<std::size_t>(settings_.image_height) * 3;
    episode.observe_image(settings_, out.images + k * bytes);
  }
  out.seeds[k] = seeds_[k];
}

void vector_navigation::reset(const std::uint32_t* seeds, const navigation_settings& settings,
                              const navigation_placement& placement,
                              const navigation_batch_out& out) {
  // Every new episode first; they replace the old ones only when all began.
  std::vector<std::unique_ptr<navigation_episode>> fresh(envs_.size());
  pool_.run(envs_.size(), [&](std::size_t k) {
    fresh[k] = std::make_unique<navigation_episode>(seeds[k], settings, placement);
  });
  settings_ = settings;
  envs_ = std::move(fresh);
  std::copy(seeds, seeds + envs_.size(), seeds_.begin());
  std::fill(ended_.begin(), ended_.end(), 0);
  pool_.run(envs_.size(), [&](std::size_t k) {
    clear(k, out);
    out.began[k] = true;
    observe(k, out);
  });
}

void vector_navigation::step(const double* actions, const std::uint32_t* next_seeds,
                             const navigation_batch_out& out) {
  pool_.run(envs_.size(), [&](std::size_t k) {
    clear(k, out);
    if (envs_[k] == nullptr || ended_[k]) {
      // What NavigationEnv.reset() does: a fresh episode of the next seed.
      envs_[k] =
          std::make_unique<navigation_episode>(next_seeds[k], settings_, navigation_placement{});
      seeds_[k] = next_seeds[k];
      ended_[k] = 0;
      out.began[k] = true;
    } else {
      navigation_episode& episode = *envs_[k];
      const navigation_step_result r = episode.step(actions[2 * k], actions[2 * k + 1], settings_);
      out.rewards[k] = r.reward;
      out.terminated[k] = r.terminated;
      out.truncated[k] = r.truncated;
      out.ticks[k] = static_cast<std::int64_t>(r.tick);
      out.contacts[k] = static_cast<std::int64_t>(r.outcome.contact_ticks);
      if (r.terminated || r.truncated) {
        const navigation_episode_stats stats = episode.stats();
        ended_[k] = 1;
        out.ended[k] = true;
        out.episode_return[k] = stats.episode_return;
        out.episode_steps[k] = static_cast<std::int64_t>(stats.steps);
        out.episode_seconds[k] = stats.seconds;
        out.episode_success[k] = stats.success;
      }
    }
    observe(k, out);
  });
}
