// A simulator: one simulation with the shell's state that drives it (the
// driver's flags and keys, the mouse drag, the run metrics' observer, the
// robot's trail) and the off-screen image it draws into. The window, the
// headless runner and every Python simulation each own one; nothing of it is
// shared, so any number can run in one process.
#pragma once

#include <memory>

#include "core/simulation.h"
#include "draw/draw_context.h"
#include "shell/driver.h"
#include "shell/mouse_edit.h"
#include "shell/run_metrics.h"
#include "shell/trail.h"

// The members a copy takes over as they are.
struct simulator_data {
  simulation sim;
  driver_state driver;
  mouse_edit_state mouse;
  run_metrics_observer metrics;
  trail_state trail;

  template <typename Self, typename Visit>
  static void fields(Self& s, Visit& visit) {
    visit(s.sim, "sim");
    visit(s.driver, "driver");
    visit(s.mouse, "mouse");
    visit(s.metrics, "metrics");
    visit(s.trail, "trail");
  }
  friend bool operator==(const simulator_data&, const simulator_data&) = default;
};

struct simulator : simulator_data {
  simulator() = default;
  // A copy has the same simulation and the same shell state but no off-screen
  // image: the image belongs to the window that made it.
  simulator(const simulator& other) : simulator_data(other) {}
  simulator& operator=(const simulator& other) {
    simulator_data::operator=(other);
    memdc.reset();
    return *this;
  }
  ~simulator() = default;

  // The off-screen image every world drawing of the tick goes into; none in a
  // run without a window.
  std::unique_ptr<draw_context> memdc;
};
