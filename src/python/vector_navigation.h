// The batched navigation environment (robosim.env.VectorNavigationEnv): many
// navigation episodes stepped together, one call per batch, on a pool of
// threads. Environment k is exactly robosim.env.NavigationEnv under the same
// seeds and actions: each is a navigation_episode, as the single environment's
// are, stepped with the same settings. Ended environments are reset by the
// following step (Gymnasium's "next step" autoreset): that step returns the new
// episode's first observation, reward 0 and both flags false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "python/navigation_episode.h"
#include "shell/worker_pool.h"

// Where a batch's results go, one entry (or row) per environment; the caller
// owns the memory. observations is used when the view has the 15 values,
// images when it has the top view.
struct navigation_batch_out {
  float* observations = nullptr;   // num_envs x kObservationSize
  std::uint8_t* images = nullptr;  // num_envs x image_height x image_width x 3
  double* rewards = nullptr;
  bool* terminated = nullptr;
  bool* truncated = nullptr;
  bool* began = nullptr;  // this step began a new episode
  std::int64_t* ticks = nullptr;
  std::int64_t* contacts = nullptr;
  std::int64_t* seeds = nullptr;  // the seed of each environment's episode
  // The statistics of the episodes that ended with this step (ended[k]); zero
  // for the others.
  bool* ended = nullptr;
  double* episode_return = nullptr;
  std::int64_t* episode_steps = nullptr;
  double* episode_seconds = nullptr;
  bool* episode_success = nullptr;
};

class vector_navigation {
 public:
  vector_navigation(std::size_t num_envs, navigation_settings settings, std::size_t threads);

  std::size_t size() const { return envs_.size(); }
  std::size_t threads() const { return pool_.threads(); }
  const navigation_settings& settings() const { return settings_; }

  // New episodes with these seeds (num_envs of them), the settings and the
  // placement for every environment. All or nothing: when an episode cannot
  // begin, its failure is thrown and every environment, the settings too, stays
  // as it was. Fills the observations and the seeds of `out`, the rest zero.
  void reset(const std::uint32_t* seeds, const navigation_settings& settings,
             const navigation_placement& placement, const navigation_batch_out& out);
  // One step: actions num_envs x 2; an environment that ended in the last step
  // begins the episode of next_seeds[k] instead (without a placement).
  void step(const double* actions, const std::uint32_t* next_seeds,
            const navigation_batch_out& out);

  // Environment k's episode; null before the first reset.
  navigation_episode* env(std::size_t k) { return envs_[k].get(); }

 private:
  void observe(std::size_t k, const navigation_batch_out& out);
  void clear(std::size_t k, const navigation_batch_out& out) const;

  navigation_settings settings_;
  std::vector<std::unique_ptr<navigation_episode>> envs_;
  std::vector<std::uint32_t> seeds_;
  std::vector<std::uint8_t> ended_;
  worker_pool pool_;
};
