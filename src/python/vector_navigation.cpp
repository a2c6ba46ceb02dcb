#include "python/vector_navigation.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <utility>

// Whether a step is to stop: the caller's question, asked on the calling thread
// when it is due, and the answer every thread looks at after its ticks.
struct vector_navigation::interruption {
  explicit interruption(const std::function<bool()>& q) : question(q) {}

  // True when the step is to stop; asks first when this is the calling thread
  // and the question is due.
  bool operator()() {
    if (std::this_thread::get_id() == caller) ask_if_due();
    return stopped();
  }
  void ask_if_due() {
    if (!question || stopped() || !timer.due_by_clock()) return;
    try {
      if (question()) stop.store(true, std::memory_order_relaxed);
    } catch (...) {
      failure = std::current_exception();
      stop.store(true, std::memory_order_relaxed);
    }
    timer.restart(0);
  }
  bool stopped() const { return stop.load(std::memory_order_relaxed); }

  const std::function<bool()>& question;
  const std::thread::id caller = std::this_thread::get_id();
  question_timer timer;  // the calling thread's only
  std::atomic<bool> stop{false};
  std::exception_ptr failure;  // what the question threw
};

vector_navigation::vector_navigation(std::size_t num_envs, navigation_settings settings,
                                     std::size_t threads, autoreset_mode mode)
    : settings_(std::move(settings)),
      mode_(mode),
      envs_(num_envs),
      pool_(std::max<std::size_t>(1, std::min(threads, num_envs))) {}

void vector_navigation::set_reward(double target_bonus, double contact_penalty) {
  settings_.target_bonus = target_bonus;
  settings_.contact_penalty = contact_penalty;
}

void vector_navigation::set_actions(const navigation_action_range& actions) {
  settings_.actions = actions;
}

void vector_navigation::set_world(std::optional<std::string> world) {
  settings_.world = std::move(world);
  for (environment& e : envs_) e.next.reset();
}

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
  navigation_episode& episode = *envs_[k].episode;
  if (out.observations != nullptr) {
    episode.observe_vector(out.observations + k * kObservationSize);
  }
  if (out.images != nullptr) {
    const std::size_t bytes = static_cast<std::size_t>(settings_.image_width) *
                              static_cast<std::size_t>(settings_.image_height) * 3;
    episode.observe_image(settings_, out.images + k * bytes);
  }
  out.seeds[k] = envs_[k].seed;
}

void vector_navigation::observe_final(std::size_t k, const navigation_batch_out& out) {
  navigation_episode& episode = *envs_[k].episode;
  if (out.final_observations != nullptr) {
    episode.observe_vector(out.final_observations + k * kObservationSize);
  }
  if (out.final_images != nullptr) {
    const std::size_t bytes = static_cast<std::size_t>(settings_.image_width) *
                              static_cast<std::size_t>(settings_.image_height) * 3;
    episode.observe_image(settings_, out.final_images + k * bytes);
  }
  if (out.final_seeds != nullptr) out.final_seeds[k] = envs_[k].seed;
}

void vector_navigation::reset(const std::uint32_t* seeds, const navigation_settings& settings,
                              const navigation_placement& placement,
                              const navigation_batch_out& out) {
  // Every new episode first; they replace the old ones only when all began.
  std::vector<std::unique_ptr<navigation_episode>> fresh(envs_.size());
  pool_.run(
      envs_.size(),
      [&](std::size_t k) {
        fresh[k] = std::make_unique<navigation_episode>(seeds[k], settings, placement);
      },
      &begin_history_);
  settings_ = settings;
  for (std::size_t k = 0; k < envs_.size(); ++k) {
    envs_[k] = environment{std::move(fresh[k]), nullptr, seeds[k], 0, false};
  }
  pool_.run(envs_.size(), [&](std::size_t k) {
    clear(k, out);
    out.began[k] = true;
    observe(k, out);
  });
}

void vector_navigation::make_next_episodes(const std::uint32_t* next_seeds) {
  std::vector<std::size_t> wanted;
  for (std::size_t k = 0; k < envs_.size(); ++k) {
    const environment& e = envs_[k];
    const bool begins_soon =
        e.episode == nullptr || mode_ == autoreset_mode::same_step || e.ended;
    if (begins_soon && (e.next == nullptr || e.next_seed != next_seeds[k])) wanted.push_back(k);
  }
  if (wanted.empty()) return;
  // All made before any is kept: a failure changes nothing.
  std::vector<std::unique_ptr<navigation_episode>> made(wanted.size());
  pool_.run(
      wanted.size(),
      [&](std::size_t i) {
        made[i] = std::make_unique<navigation_episode>(next_seeds[wanted[i]], settings_,
                                                       navigation_placement{});
      },
      &begin_history_);
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    envs_[wanted[i]].next = std::move(made[i]);
    envs_[wanted[i]].next_seed = next_seeds[wanted[i]];
  }
}

void vector_navigation::begin_next(std::size_t k, change& undo, const navigation_batch_out& out) {
  environment& e = envs_[k];
  std::swap(e.episode, e.next);
  undo.swapped = true;
  e.seed = e.next_seed;
  e.ended = false;
  out.began[k] = true;
}

void vector_navigation::step_one(std::size_t k, const double* actions,
                                 const navigation_batch_out& out, change& undo,
                                 interruption& stop) {
  environment& e = envs_[k];
  clear(k, out);
  undo.seed = e.seed;
  undo.ended = e.ended;
  if (e.episode == nullptr || (mode_ == autoreset_mode::next_step && e.ended)) {
    begin_next(k, undo, out);  // what NavigationEnv.reset() does
    observe(k, out);
    return;
  }
  undo.stats = e.episode->stats();
  const navigation_step_result r =
      e.episode->advance(actions[2 * k], actions[2 * k + 1], settings_, [&] { return stop(); });
  if (r.stopped) return;  // the step is undone
  e.episode->record(r.reward, r);
  out.rewards[k] = r.reward;
  out.terminated[k] = r.terminated;
  out.truncated[k] = r.truncated;
  out.ticks[k] = static_cast<std::int64_t>(r.tick);
  out.contacts[k] = static_cast<std::int64_t>(r.outcome.contact_ticks);
  if (r.terminated || r.truncated) {
    const navigation_episode_stats stats = e.episode->stats();
    out.ended[k] = true;
    out.episode_return[k] = stats.episode_return;
    out.episode_steps[k] = static_cast<std::int64_t>(stats.steps);
    out.episode_seconds[k] = stats.seconds;
    out.episode_success[k] = stats.success;
    if (mode_ == autoreset_mode::same_step) {
      observe_final(k, out);
      begin_next(k, undo, out);
    } else {
      e.ended = true;
    }
  }
  observe(k, out);
}

void vector_navigation::undo_step(const std::vector<change>& changes) {
  for (std::size_t k = 0; k < envs_.size(); ++k) {
    environment& e = envs_[k];
    const change& c = changes[k];
    if (c.swapped) std::swap(e.episode, e.next);
    e.seed = c.seed;
    e.ended = c.ended;
    if (e.episode != nullptr) e.episode->restore_stats(c.stats);
  }
}

bool vector_navigation::step(const double* actions, const std::uint32_t* next_seeds,
                             const navigation_batch_out& out,
                             const std::function<bool()>& interrupted) {
  make_next_episodes(next_seeds);
  std::vector<change> changes(envs_.size());
  interruption stop(interrupted);
  const std::function<void()> waiting = [&] { stop.ask_if_due(); };
  try {
    pool_.run(
        envs_.size(),
        [&](std::size_t k) { step_one(k, actions, out, changes[k], stop); }, &step_history_,
        &waiting);
  } catch (...) {
    undo_step(changes);
    throw;
  }
  if (stop.stopped()) {
    undo_step(changes);
    if (stop.failure) std::rethrow_exception(stop.failure);
    return false;
  }
  // The episodes that ended and were replaced are let go.
  for (std::size_t k = 0; k < envs_.size(); ++k) {
    if (changes[k].swapped) envs_[k].next.reset();
  }
  return true;
}

void vector_navigation::restore(std::size_t k, std::unique_ptr<navigation_episode> episode,
                                std::uint32_t seed, bool ended) {
  envs_[k] = environment{std::move(episode), nullptr, seed, 0, ended};
}
