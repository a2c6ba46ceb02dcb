#include "python/vector_navigation.h"

#include <algorithm>
#include <utility>

vector_navigation::vector_navigation(std::size_t num_envs, navigation_settings settings,
                                     std::size_t threads)
    : settings_(std::move(settings)),
      envs_(num_envs),
      ended_(num_envs, 0),
      pool_(std::max<std::size_t>(1, std::min(threads, num_envs))) {}

void vector_navigation::set_action_range(double speed_low, double speed_high, double turn_low,
                                         double turn_high) {
  settings_.speed_low = speed_low;
  settings_.speed_high = speed_high;
  settings_.turn_low = turn_low;
  settings_.turn_high = turn_high;
}

namespace {

void size_batch(navigation_batch& out, std::size_t n) {
  out.observations.assign(n * kObservationSize, 0.0f);
  out.rewards.assign(n, 0.0);
  out.terminated.assign(n, 0);
  out.truncated.assign(n, 0);
  out.was_reset.assign(n, 0);
  out.ticks.assign(n, 0);
  out.contacts.assign(n, 0);
  out.seeds.resize(n);
}

}  // namespace

void vector_navigation::begin_episode(std::size_t k, std::uint32_t seed, navigation_batch& out) {
  // What NavigationEnv.reset does: a fresh simulation for the episode.
  envs_[k] = std::make_unique<session>(seed, settings_.world, 10, true);
  ended_[k] = 0;
  out.seeds[k] = seed;
  out.was_reset[k] = 1;
  navigation_observation(envs_[k]->sim(), &out.observations[k * kObservationSize]);
}

void vector_navigation::reset(const std::uint32_t* seeds, navigation_batch& out) {
  size_batch(out, envs_.size());
  pool_.run(envs_.size(), [&](std::size_t k) { begin_episode(k, seeds[k], out); });
}

void vector_navigation::step_one(std::size_t k, const double* action, navigation_batch& out) {
  const navigation_step_result r = navigation_env_step(*envs_[k], action[0], action[1], settings_);
  navigation_observation(envs_[k]->sim(), &out.observations[k * kObservationSize]);
  out.rewards[k] = r.reward;
  out.terminated[k] = r.terminated;
  out.truncated[k] = r.truncated;
  out.ticks[k] = r.tick;
  out.contacts[k] = r.outcome.contact_ticks;
  ended_[k] = r.terminated || r.truncated;
}

void vector_navigation::step(const double* actions, const std::uint32_t* next_seeds,
                             navigation_batch& out) {
  const std::vector<std::uint32_t> seeds = out.seeds;  // the episodes going on
  size_batch(out, envs_.size());
  for (std::size_t k = 0; k < envs_.size(); ++k) out.seeds[k] = k < seeds.size() ? seeds[k] : 0;
  pool_.run(envs_.size(), [&](std::size_t k) {
    if (envs_[k] == nullptr || ended_[k]) {
      begin_episode(k, next_seeds[k], out);
    } else {
      step_one(k, actions + 2 * k, out);
    }
  });
}

double navigation_clamp(double value, double low, double high) {
  // min(max(value, low), high), as Python's min and max take them.
  return std::min(std::max(value, low), high);
}

navigation_step_result navigation_env_step(session& s, double speed, double turn,
                                           const navigation_settings& settings) {
  navigation_step_result r;
  speed = navigation_clamp(speed, settings.speed_low, settings.speed_high);
  turn = navigation_clamp(turn, settings.turn_low, settings.turn_high);
  r.outcome = navigation_step(s, speed, turn, settings.frame_skip);
  r.tick = s.tick();
  r.reward =
      r.outcome.progress - settings.contact_penalty * static_cast<double>(r.outcome.contact_ticks);
  if (r.outcome.reached) r.reward += settings.target_bonus;
  r.terminated = r.outcome.reached;
  r.truncated = !r.outcome.reached && r.tick >= settings.max_ticks;
  return r;
}
