// The batched navigation environment (robosim.env.VectorNavigationEnv): many
// navigation episodes stepped together, one call per batch, on a pool of
// threads. Environment k is exactly robosim.env.NavigationEnv under the same
// seeds and actions: a fresh session per episode (seed, world, manual mode), the
// same clamping of the actions, the same step, reward, termination and
// truncation. Ended environments are reset by the following step (Gymnasium's
// "next step" autoreset): that step returns the new episode's first
// observation, reward 0 and both flags false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "python/navigation.h"
#include "python/session.h"
#include "shell/worker_pool.h"

struct navigation_settings {
  std::optional<std::string> world;  // loaded at every reset
  std::uint64_t max_ticks = 6000;
  std::uint64_t frame_skip = 1;
  double speed_low = 0.0, speed_high = 0.0;  // the actions are clamped into these
  double turn_low = 0.0, turn_high = 0.0;
  double target_bonus = 10.0;
  double contact_penalty = 0.01;
};

// What one step of every environment returns, one entry per environment.
struct navigation_batch {
  std::vector<float> observations;  // num_envs x kObservationSize
  std::vector<double> rewards;
  std::vector<std::uint8_t> terminated;
  std::vector<std::uint8_t> truncated;
  std::vector<std::uint8_t> was_reset;  // this step began a new episode
  std::vector<std::uint64_t> ticks;
  std::vector<std::uint64_t> contacts;
  std::vector<std::uint32_t> seeds;  // the seed of each environment's episode
};

class vector_navigation {
 public:
  vector_navigation(std::size_t num_envs, navigation_settings settings, std::size_t threads);

  std::size_t size() const { return envs_.size(); }
  std::size_t threads() const { return pool_.threads(); }
  void set_action_range(double speed_low, double speed_high, double turn_low, double turn_high);

  // New episodes with these seeds (num_envs of them); fills the observations
  // and seeds of `out`, the rest zero.
  void reset(const std::uint32_t* seeds, navigation_batch& out);
  // One step: actions num_envs x 2 (speed, turn); an environment that ended in
  // the last step begins the episode of next_seeds[k] instead.
  void step(const double* actions, const std::uint32_t* next_seeds, navigation_batch& out);

  // Environment k's session (for render()); null before the first reset.
  session* env(std::size_t k) { return envs_[k].get(); }

 private:
  void begin_episode(std::size_t k, std::uint32_t seed, navigation_batch& out);
  void step_one(std::size_t k, const double* action, navigation_batch& out);

  navigation_settings settings_;
  std::vector<std::unique_ptr<session>> envs_;
  std::vector<std::uint8_t> ended_;
  worker_pool pool_;
};

// One step of a NavigationEnv: the clamped action held for frame_skip ticks,
// the reward and the flags. Shared by the single and the batched environment.
struct navigation_step_result {
  navigation_outcome outcome;
  double reward = 0.0;
  bool terminated = false;
  bool truncated = false;
  std::uint64_t tick = 0;
};
double navigation_clamp(double value, double low, double high);
navigation_step_result navigation_env_step(session& s, double speed, double turn,
                                           const navigation_settings& settings);
