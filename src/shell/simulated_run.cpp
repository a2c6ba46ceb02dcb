#include "shell/simulated_run.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/simulation.h"
#include "draw/draw_context.h"
#include "shell/run_metrics.h"

void simulated_run::start(std::uint32_t seed, int period_ms, bool manual) {
  app_.driver.timer_val = period_ms;
  app_.sim.manual_mode = manual;
  use_simulated_clock(app_.sim, kSimulatedClockStart);
  system_startup(app_, *this, seed);
}

namespace {

// The most rate events that can fall due before one tick: one a rate period
// over the longest tick period the keys can set, and one more.
constexpr std::uint64_t kMostRateEventsPerTick =
    std::numeric_limits<std::int32_t>::max() / kRatePeriodMs + 2;

std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

}  // namespace

void simulated_run::tick() {
  run_metrics_before_tick(app_);
  // The tick first when both fall due together, as it was started first.
  rate_events_before(tick_due_, false);
  advance_to(tick_due_);
  tick_due_ += tick_period_;
  timer_message(app_, *this, kTickTimerId);
  ++ticks_;
  rate_events_before(now_, true);
  run_metrics_after_tick(app_, now_);
}

// The rate timer's events due before time_ms (or at it), each at its time.
// Between two ticks of a run the timer is never more than a period behind, so
// this is at most kMostRateEventsPerTick events; a timer somehow farther behind
// (a state no run has) is re-armed after them, one period from now, as a window
// system's timer posts one event however many it missed.
void simulated_run::rate_events_before(std::uint64_t time_ms, bool or_at) {
  for (std::uint64_t events = 0; rate_period_ != 0; ++events) {
    if (!(rate_due_ < time_ms || (or_at && rate_due_ == time_ms))) return;
    if (events == kMostRateEventsPerTick) {
      rate_due_ = saturating_sum(now_, rate_period_);
      return;
    }
    advance_to(rate_due_);
    rate_due_ += rate_period_;
    timer_message(app_, *this, kRateTimerId);
  }
}

void simulated_run::relations(const simulated_run& run, field_check& check) {
  const simulation& sim = run.app_.sim;
  check.require(sim.clock.simulated, "a run without its simulated clock");
  check.require(run.ticks_ <= run.now_, "more ticks than milliseconds");
  const std::uint64_t period = static_cast<std::uint64_t>(std::max(run.app_.driver.timer_val, 1));
  check.require(run.tick_period_ == period, "a tick period that is not the driver's");
  check.require(run.tick_due_ == run.now_ + run.tick_period_,
                "a tick due other than one period from now");
  // The rate count due within a second, or left to the caller (never armed).
  const bool rate_armed = run.rate_period_ == kRatePeriodMs && run.now_ < run.rate_due_ &&
                          run.rate_due_ <= run.now_ + run.rate_period_;
  const bool rate_left = run.rate_period_ == 0 && run.rate_due_ == 0;
  check.require(rate_armed || rate_left, "a rate count not due within a second");
  check.require(sim.display_x == run.client_width_ && sim.display_y == run.client_height_,
                "a simulation's client area that is not the run's");
  const run_metrics_observer& metrics = run.app_.metrics;
  check.require(
      !metrics.started || (metrics.last_ms == run.now_ && metrics.record.ticks <= run.ticks_),
      "run metrics of another time than the run's");
  // The clock in seconds is the sum of every step of this one, each rounded:
  // within a rounding per step of the value it should have.
  const double seconds = kSimulatedClockStart + static_cast<double>(run.now_) / 1000.0;
  const double steps = static_cast<double>(run.ticks_) + static_cast<double>(run.now_) / 1000.0 + 2;
  const double tolerance = 2 * steps * seconds * std::numeric_limits<double>::epsilon();
  check.require(std::fabs(sim.clock.simulated_now - seconds) <= tolerance,
                "a simulated clock that is not the run's");
  bool timers_on_the_clock = sim.robot_memory.last_waypoint_time == 0 ||
                             sim.robot_memory.last_waypoint_time >= kSimulatedClockStart;
  for (const double start : sim.automode.stime) {
    timers_on_the_clock = timers_on_the_clock && (start == 0 || start >= kSimulatedClockStart);
  }
  check.require(timers_on_the_clock, "a timer started before the run's clock");
}

void simulated_run::start_metrics(bool keep_events) {
  run_metrics_start(app_, now_, keep_events);
}

void simulated_run::set_timer(int id, int period_ms) {
  // A period of 0 (the Up arrow can reach it) still moves the clock on, so the
  // rate timer and the automatic mode's ramps keep running.
  const std::uint64_t period = static_cast<std::uint64_t>(std::max(period_ms, 1));
  if (id == kTickTimerId) {
    tick_period_ = period;
    tick_due_ = now_ + period;
  } else if (id == kRateTimerId && own_rate_timer_) {
    rate_period_ = period;
    rate_due_ = now_ + period;
  }
}

void simulated_run::client_size(int& width, int& height) {
  width = client_width_;
  height = client_height_;
}

std::unique_ptr<draw_context> simulated_run::create_image(int /*width*/, int /*height*/) {
  return nullptr;
}

void simulated_run::advance_to(std::uint64_t time_ms) {
  if (time_ms <= now_) return;
  advance_simulated_clock(app_.sim, static_cast<double>(time_ms - now_) / 1000.0);
  now_ = time_ms;
}

bool robot_at_target(const simulation& sim) {
  return vect_mag(sim.robot.x - sim.world.target_x, sim.robot.y - sim.world.target_y) <
         kTargetReachedDistance;
}
