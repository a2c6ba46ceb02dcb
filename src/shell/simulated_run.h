// A run of the simulation on a simulated clock, without a window: the window's
// start-up and the window's tick, with timers that are due times on a simulated
// millisecond clock. The headless runner and the Python module both run the
// simulation through it, so a run with the same seed, world and keys is the same
// run in either.
//
// There is no off-screen image while it runs, so the tick does no drawing at all;
// pictures are drawn on request from the state.
#pragma once

#include <cstdint>
#include <memory>

#include "shell/driver.h"
#include "shell/scene.h"
#include "shell/simulator.h"

// The simulated clock starts here rather than at 0: the automatic mode's ramp
// timers take a start time of 0 to mean "not running", and a window's monotonic
// clock is never near 0 either.
constexpr double kSimulatedClockStart = 1000.0;

// Limits on what a run accepts; the front ends refuse values outside them. The
// limits of pictures and films are those of shell/scene.h and shell/film.h.
constexpr std::uint64_t kMaxTicks = 1'000'000'000'000ULL;
constexpr int kMaxPeriodMs = 60'000;
// The latest simulated time a restored run may have reached, in milliseconds
// (146 million years): far beyond any run, and far enough from the end of the
// clock's range that no timer's due time overflows.
constexpr std::uint64_t kLatestRunTimeMs = std::uint64_t{1} << 62;

// A run owns its simulator; a copy of a run is a second run in the same state,
// with the same future.
class simulated_run final : public platform {
 public:
  // The client size only sets display_x and display_y at start-up, as the
  // window's size does.
  simulated_run(int client_width, int client_height)
      : client_width_(client_width), client_height_(client_height) {}

  // The window's start-up: the tick period and the driving mode as given, the
  // simulated clock, then system_startup with the seed. The caller installs its
  // console sink first, if it wants one.
  void start(std::uint32_t seed, int period_ms, bool manual);

  simulator& app() { return app_; }
  const simulator& app() const { return app_; }
  simulation& sim() { return app_.sim; }
  const simulation& sim() const { return app_.sim; }

  // A front end with a real one-second timer of its own (the web page) sends the
  // rate timer's events to timer_message itself, so that the rate counts ticks
  // per real second; the run then leaves that timer out. Call before start().
  void leave_rate_timer_to_caller() { own_rate_timer_ = false; }

  // Begins the run metrics (shell/run_metrics.h) from the state now, once the
  // run's world is loaded; every tick from then on is observed.
  void start_metrics(bool keep_events);

  // One tick as the window runs it (keys, world step), with the rate timer's
  // events that fall due before or with it, in time order, and the run metrics'
  // observations around it.
  void tick();

  std::uint64_t ticks() const { return ticks_; }
  bool quit_requested() const { return quit_; }
  std::uint64_t now_ms() const { return now_; }
  std::uint64_t tick_period_ms() const { return tick_period_; }

  // The platform the driver talks to.
  void set_timer(int id, int period_ms) override;
  void request_repaint() override {}
  void request_quit(int /*exit_code*/) override { quit_ = true; }
  void client_size(int& width, int& height) override;
  std::unique_ptr<draw_context> create_image(int width, int height) override;

  // The whole state (shell/snapshot.h): the simulator, then the timers.
  template <typename Self, typename Visit>
  static void fields(Self& run, Visit& visit) {
    visit(run.app_, "app");
    visit(run.client_width_, "client_width", whole_limit{0, kMaxImageSide});
    visit(run.client_height_, "client_height", whole_limit{0, kMaxImageSide});
    visit(run.quit_, "quit");
    visit(run.now_, "now", whole_limit{0, kLatestRunTimeMs});
    // What the driver's period makes them, and the clock's (relations).
    visit(run.tick_period_, "tick_period", any_value{});
    visit(run.tick_due_, "tick_due", any_value{});
    visit(run.rate_period_, "rate_period", any_value{});
    visit(run.rate_due_, "rate_due", any_value{});
    visit(run.ticks_, "ticks", any_value{});
  }
  // A started run between two ticks: the timers due one period ahead of the
  // clock, as the driver's period and the rate count set them; the client area
  // the simulation's; the simulation's clock this clock in seconds, from
  // kSimulatedClockStart; the run metrics' time the run's.
  static void relations(const simulated_run& run, field_check& check);
  friend bool operator==(const simulated_run&, const simulated_run&) = default;

 private:
  void advance_to(std::uint64_t time_ms);
  void rate_events_before(std::uint64_t time_ms, bool or_at);

  simulator app_;
  int client_width_;
  int client_height_;
  bool quit_ = false;
  bool own_rate_timer_ = true;
  std::uint64_t now_ = 0;
  std::uint64_t tick_period_ = 10;
  std::uint64_t tick_due_ = 10;
  std::uint64_t rate_period_ = 0;
  std::uint64_t rate_due_ = 0;
  std::uint64_t ticks_ = 0;
};

// True when the robot is within the distance at which it takes a target as reached.
bool robot_at_target(const simulation& sim);
