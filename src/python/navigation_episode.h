// One episode of the navigation environment (robosim.env.NavigationEnv), and
// the settings that make it: its own session, the mapping from the action to the
// driving command, the step's reward and flags, the episode's statistics and
// its observations. The single environment holds one episode at a time, the
// batched one (vector_navigation.h) one per environment, so both run exactly
// the same code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "python/navigation.h"
#include "python/session.h"
#include "shell/driver.h"

// What the environment observes: the 15 values, a top view, or both.
enum class navigation_view { vector, image, both };

// How an action (a, b) becomes the driving command (speed, turn): clipped into
// the range, or, when normalized, clipped into -1 ... 1 and scaled onto it
// (-1 the low end, 1 the high end).
struct navigation_action_range {
  double speed_low = -0.03, speed_high = 0.03;
  double turn_low = -0.03, turn_high = 0.03;
  bool normalized = false;
};

struct navigation_settings {
  std::optional<std::string> world;  // loaded at every new episode
  std::uint64_t max_ticks = 6000;    // the episode is truncated at this tick
  std::uint64_t frame_skip = 1;      // ticks per step (the last step may be shorter)
  navigation_action_range actions;
  double target_bonus = 10.0;
  double contact_penalty = 0.01;
  navigation_view view = navigation_view::vector;
  int image_width = 64;
  int image_height = 64;
};

// Where an episode starts, when not where its seed and world put it.
struct navigation_placement {
  std::optional<std::array<double, 3>> pose;    // x, y, heading
  std::optional<std::array<double, 2>> target;  // x, y
};

// The driving command of an action under the range.
drive_command navigation_command(double a, double b, const navigation_action_range& range);

// One step: what navigation_step() did, the reward of the built-in rule, the flags.
struct navigation_step_result {
  navigation_outcome outcome;
  double reward = 0.0;
  bool terminated = false;
  bool truncated = false;
  std::uint64_t tick = 0;
  bool stopped = false;  // cut short by `stop`: the ticks run are kept, the step is none
};

// The statistics of an episode so far, as Gymnasium's episode statistics
// wrapper keeps them: the return, the steps, the simulated seconds, and whether
// the target was reached.
struct navigation_episode_stats {
  double episode_return = 0.0;
  std::uint64_t steps = 0;
  double seconds = 0.0;
  bool success = false;
};

class navigation_episode {
 public:
  // A new episode: a fresh session (seed, the settings' world, manual mode),
  // placed as asked. Its first observation holds the readings the first tick
  // will take (session::fresh_readings()). Throws file_failure when the
  // world cannot be loaded and std::invalid_argument for a placement that
  // cannot be taken (outside the world, a target the robot stands on).
  navigation_episode(std::uint32_t seed, const navigation_settings& settings,
                     const navigation_placement& placement);
  // An episode going on in this session, with its statistics so far.
  navigation_episode(std::shared_ptr<session> s, const navigation_episode_stats& stats);
  navigation_episode(const navigation_episode&) = delete;
  navigation_episode& operator=(const navigation_episode&) = delete;

  session& sim() { return *session_; }
  const std::shared_ptr<session>& shared_session() const { return session_; }

  // Runs one step of the action: the command held for frame_skip ticks, fewer
  // when the target is reached first or max_ticks comes, or when `stop` (see
  // navigation_step) says so. The reward is the built-in rule's; record() adds
  // the reward actually given to the statistics.
  navigation_step_result advance(double a, double b, const navigation_settings& settings,
                                 const std::function<bool()>& stop = {});
  void record(double reward, const navigation_step_result& step);

  navigation_episode_stats stats() const;
  // The statistics as stats() gave them (the seconds are the session's own).
  void restore_stats(const navigation_episode_stats& stats);

  // The observations of the state now: 15 floats, and the top view as
  // image_height x image_width x 3 bytes (R, G, B), drawn as render() draws.
  void observe_vector(float* out);
  void observe_image(const navigation_settings& settings, std::uint8_t* out);

 private:
  std::shared_ptr<session> session_;
  double return_ = 0.0;
  std::uint64_t steps_ = 0;
  bool success_ = false;
};
