// Automatic mode: speed and turn from the sensors and the field direction, with
// two one-second ramp timers for obstruction.
#pragma once

#include "core/robot.h"
#include "core/utility.h"

struct simulation;

constexpr int kAutomodeTimers = 10;

// The automatic mode's tick-to-tick state.
struct automode_state {
  // The last two heading errors seen by robot_auto_mode; element 1 is the newest.
  double nav_average[2] = {0.0, 0.0};
  // The ramp timers: start time (0 when idle) and the rate they ramp at.
  double stime[kAutomodeTimers] = {};
  double limits[kAutomodeTimers] = {};
  bool first_run = true;

  // Start times are 0 or times of the clock (simulation_data's relations);
  // ramp rates are 2 or a draw from -2 to 2, and only timers 0 and 1 run.
  template <typename Self, typename Visit>
  static void fields(Self& a, Visit& visit) {
    visit(a.nav_average, "nav_average", kHeadingErrorLimit);
    visit(a.stime, "stime", kNotNegative);
    visit(a.limits, "limits", real_limit{-2.0, 2.0});
    visit(a.first_run, "first_run");
  }
  static void relations(const automode_state& a, field_check& check) {
    for (int i = 2; i < kAutomodeTimers; ++i) {
      check.require(a.stime[i] == 0 && a.limits[i] == 0, "a ramp timer that never runs has run");
    }
  }
  friend bool operator==(const automode_state&, const automode_state&) = default;
};

// Ramp timer: 0 while idle (arms when input >= threshold), then elapsed * limit
// for one second, then exactly 1.0 once. Indices above 9 return 0.
double timer_func(simulation& sim, double input, unsigned index, double threshold, double limit);
// Sets the robot's speed and turn for this tick.
void robot_auto_mode(simulation& sim);
// Kept without callers: speed and turn with uniform noise; speed capped at 0.07.
// Nothing in manual mode.
void set_motion(simulation& sim, double speed, double turn, double speed_noise, double turn_noise);
