// The batched navigation environment (robosim.env.VectorNavigationEnv): many
// navigation episodes stepped together, one call per batch, on a pool of
// threads. Environment k is exactly robosim.env.NavigationEnv under the same
// seeds and actions: each is a navigation_episode, as the single environment's
// are, stepped with the same settings.
//
// An ended environment begins its next episode by itself, as Gymnasium's vector
// environments do, in one of two ways:
// - next step: the step after the one that ended it returns the new episode's
//   first observation, reward 0 and both flags false;
// - same step: the step that ends it returns the new episode's first observation
//   at once, and the ended one's last observation and seed beside it. So that a
//   step stays all or nothing, the next episode of every environment is made
//   (its world file read) ahead, at the first step of the one before it.
//
// A step is all or nothing: when an episode cannot begin (its world file is gone)
// the failure is thrown before any environment moved, and when the caller asks
// to stop (Ctrl-C), every environment stops at the end of a tick and the step
// counts for none of them (see step()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "python/navigation_episode.h"
#include "shell/worker_pool.h"

enum class autoreset_mode { next_step, same_step };

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
  // Same step: the last observation (as the view has it) and the seed of each
  // episode that ended; the rows of the others are left as they are.
  float* final_observations = nullptr;
  std::uint8_t* final_images = nullptr;
  std::int64_t* final_seeds = nullptr;
};

class vector_navigation {
 public:
  vector_navigation(std::size_t num_envs, navigation_settings settings, std::size_t threads,
                    autoreset_mode mode);

  std::size_t size() const { return envs_.size(); }
  std::size_t threads() const { return pool_.threads(); }
  std::size_t threads_asked() const { return pool_.threads_asked(); }
  autoreset_mode mode() const { return mode_; }
  const navigation_settings& settings() const { return settings_; }
  void set_reward(double target_bonus, double contact_penalty);
  void set_actions(const navigation_action_range& actions);
  // The world of the episodes that begin from now on (the next episodes made
  // ahead are made again).
  void set_world(std::optional<std::string> world);

  // New episodes with these seeds (num_envs of them), the settings and the
  // placement for every environment. All or nothing: when an episode cannot
  // begin, its failure is thrown and every environment, the settings too, stays
  // as it was. Fills the observations and the seeds of `out`, the rest zero.
  void reset(const std::uint32_t* seeds, const navigation_settings& settings,
             const navigation_placement& placement, const navigation_batch_out& out);
  // One step: actions num_envs x 2; an environment whose episode ended begins
  // the episode of next_seeds[k] (without a placement), at this step (next step)
  // or at the step that ends it (same step). `interrupted`, when given, is asked
  // on the calling thread about every kInterruptIntervalMs while the step runs;
  // when it says stop or throws, every environment stops at the end of its tick
  // and keeps the ticks it ran, but the step counts for none: no reward or step
  // recorded, no episode ended or begun, so each goes on from where it stopped
  // (an episode that ended meanwhile ends again at the next step). Then step()
  // throws what `interrupted` threw, or returns false.
  bool step(const double* actions, const std::uint32_t* next_seeds,
            const navigation_batch_out& out, const std::function<bool()>& interrupted = {});

  // Environment k's episode; null before the first reset.
  navigation_episode* env(std::size_t k) { return envs_[k].episode.get(); }
  std::uint32_t seed(std::size_t k) const { return envs_[k].seed; }
  // Whether environment k's episode ended and begins anew at the next step (next
  // step mode).
  bool ended(std::size_t k) const { return envs_[k].ended; }
  // Puts an episode in place of environment k's (to restore a copy); all
  // environments are restored before the next step.
  void restore(std::size_t k, std::unique_ptr<navigation_episode> episode, std::uint32_t seed,
               bool ended);

 private:
  struct environment {
    std::unique_ptr<navigation_episode> episode;
    std::unique_ptr<navigation_episode> next;  // the next episode, made ahead
    std::uint32_t seed = 0;                    // of the episode
    std::uint32_t next_seed = 0;               // of the next one
    bool ended = false;                        // next step: begins anew at the next step
  };
  // What a step changed in an environment besides its ticks, to be undone when
  // the step is stopped.
  struct change {
    navigation_episode_stats stats;
    bool swapped = false;
    std::uint32_t seed = 0;
    bool ended = false;
  };
  // The interruption of a step: the question, asked on the calling thread, and
  // the answer every thread looks at.
  struct interruption;

  void make_next_episodes(const std::uint32_t* next_seeds);
  void step_one(std::size_t k, const double* actions, const navigation_batch_out& out,
                change& undo, interruption& stop);
  void begin_next(std::size_t k, change& undo, const navigation_batch_out& out);
  void undo_step(const std::vector<change>& changes);
  void observe(std::size_t k, const navigation_batch_out& out);
  void observe_final(std::size_t k, const navigation_batch_out& out);
  void clear(std::size_t k, const navigation_batch_out& out) const;

  navigation_settings settings_;
  autoreset_mode mode_;
  std::vector<environment> envs_;
  worker_pool pool_;
  batch_history step_history_;   // steps and resets cost very different times
  batch_history begin_history_;
};
