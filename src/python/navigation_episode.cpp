#include "python/navigation_episode.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "core/map.h"
#include "core/simulation.h"
#include "core/world.h"
#include "core/world_file.h"

namespace {

double clamped(double value, double low, double high) {
  // min(max(value, low), high), as Python's min and max take them.
  return std::min(std::max(value, low), high);
}

// -1 ... 1 onto low ... high, 0 onto the middle.
double scaled(double value, double low, double high) {
  return (low + high) / 2 + clamped(value, -1.0, 1.0) * ((high - low) / 2);
}

// The shortest text that reads back as the value, as Python's repr writes it.
std::string number_text(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

void check_inside(double value, double low, double high, const char* what) {
  if (value < low || value > high) {
    throw std::invalid_argument(std::string(what) + " must be from " + number_text(low) + " to " +
                                number_text(high) + ", got " + number_text(value));
  }
}

// Puts the robot and the target where asked, with one planning run for the
// placement (the target's own when one is set), as the mouse would.
void place(session& s, const navigation_placement& placement) {
  const world_state& world = s.sim().world;
  const robot_state& robot = s.sim().robot;
  if (placement.pose) {
    const auto [x, y, heading] = *placement.pose;
    // Where the clamping of a tick keeps the robot's centre.
    check_inside(x, robot.size_x / 2, world.width - robot.size_x / 2, "the pose's x");
    check_inside(y, robot.size_y / 2, world.height - robot.size_y / 2, "the pose's y");
    s.set_pose(x, y, heading);
  }
  if (placement.target) {
    const auto [x, y] = *placement.target;
    check_inside(x, 0.0, world.width, "the target's x");
    check_inside(y, 0.0, world.height, "the target's y");
    if (vect_mag(x - robot.x, y - robot.y) < kTargetReachedDistance) {
      throw std::invalid_argument("the target must be at least " +
                                  number_text(kTargetReachedDistance) +
                                  " from the robot, or the episode ends before it begins");
    }
    // A new episode has no impacts yet, so the planner finds a path to anywhere
    // in the world and keeps the target.
    s.set_target(x, y);
  } else if (placement.pose) {
    s.plan();
  }
}

}  // namespace

drive_command navigation_command(double a, double b, const navigation_action_range& range) {
  if (range.normalized) {
    return {scaled(a, range.speed_low, range.speed_high),
            scaled(b, range.turn_low, range.turn_high)};
  }
  return {clamped(a, range.speed_low, range.speed_high),
          clamped(b, range.turn_low, range.turn_high)};
}

navigation_episode::navigation_episode(std::uint32_t seed, const navigation_settings& settings,
                                       const navigation_placement& placement)
    : session_(std::make_shared<session>(seed, settings.world, 10, true)) {
  if (placement.pose || placement.target) place(*session_, placement);
}

navigation_episode::navigation_episode(std::shared_ptr<session> s,
                                       const navigation_episode_stats& stats)
    : session_(std::move(s)),
      return_(stats.episode_return),
      steps_(stats.steps),
      success_(stats.success) {}

navigation_step_result navigation_episode::advance(double a, double b,
                                                   const navigation_settings& settings,
                                                   const std::function<bool()>& stop) {
  const drive_command command = navigation_command(a, b, settings.actions);
  const std::uint64_t tick = session_->tick();
  // The last step of an episode is shorter, so that it ends at max_ticks exactly.
  const std::uint64_t ticks =
      tick < settings.max_ticks ? std::min(settings.frame_skip, settings.max_ticks - tick) : 0;
  navigation_step_result r;
  r.outcome = navigation_step(*session_, command.speed, command.turn, ticks, stop);
  r.tick = session_->tick();
  r.stopped = r.outcome.stopped;
  r.reward =
      r.outcome.progress - settings.contact_penalty * static_cast<double>(r.outcome.contact_ticks);
  if (r.outcome.reached) r.reward += settings.target_bonus;
  r.terminated = r.outcome.reached;
  r.truncated = !r.outcome.reached && r.tick >= settings.max_ticks;
  return r;
}

void navigation_episode::record(double reward, const navigation_step_result& step) {
  return_ += reward;
  ++steps_;
  if (step.terminated) success_ = true;
}

navigation_episode_stats navigation_episode::stats() const {
  return {return_, steps_, session_->time(), success_};
}

void navigation_episode::restore_stats(const navigation_episode_stats& stats) {
  return_ = stats.episode_return;
  steps_ = stats.steps;
  success_ = stats.success;
}

void navigation_episode::observe_vector(float* out) {
  navigation_observation(session_->sim(), session_->fresh_readings(), out);
}

void navigation_episode::observe_image(const navigation_settings& settings, std::uint8_t* out) {
  session_->render(settings.image_width, settings.image_height, false, false, out);
}
