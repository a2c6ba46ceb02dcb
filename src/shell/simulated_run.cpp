#include "shell/simulated_run.h"

#include <algorithm>

#include "core/simulation.h"
#include "draw/draw_context.h"
#include "shell/run_metrics.h"

void simulated_run::start(std::uint32_t seed, int period_ms, bool manual) {
  app_.driver.timer_val = period_ms;
  app_.sim.manual_mode = manual;
  use_simulated_clock(app_.sim, kSimulatedClockStart);
  system_startup(app_, *this, seed);
}

void simulated_run::tick() {
  run_metrics_before_tick(app_);
  // The tick first when both fall due together, as it was started first.
  while (rate_period_ != 0 && rate_due_ < tick_due_) {
    advance_to(rate_due_);
    rate_due_ += rate_period_;
    timer_message(app_, *this, kRateTimerId);
  }
  advance_to(tick_due_);
  tick_due_ += tick_period_;
  timer_message(app_, *this, kTickTimerId);
  ++ticks_;
  while (rate_period_ != 0 && rate_due_ <= now_) {
    rate_due_ += rate_period_;
    timer_message(app_, *this, kRateTimerId);
  }
  run_metrics_after_tick(app_, now_);
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
