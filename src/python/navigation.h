// What the navigation environment (robosim.env.NavigationEnv) sees of the
// simulation and what one of its steps does, in C++ so that a step costs little
// more than its ticks.
//
// The observation is the fifteen values of shell/observation.h.
#pragma once

#include <cstdint>
#include <functional>

#include "python/session.h"
#include "shell/observation.h"

// Fills out[0..14] from the simulation as it is now: the robot's readings are
// `fresh` when given (see session::fresh_readings()), else the record's.
void navigation_observation(const simulation& sim, const robot_readings* fresh, float* out);

struct navigation_outcome {
  std::uint64_t ticks = 0;          // ticks run
  bool reached = false;             // a tick ended with the robot at the target
  std::uint64_t contact_ticks = 0;  // ticks on which the push-back moved the robot
  double progress = 0.0;            // how much nearer the target the robot got
  bool stopped = false;             // `stop` said so before the ticks were all run
};

// Drives (speed, turn) in manual mode (in automatic mode the simulation
// drives and the command is not used) for up to `ticks` ticks, ending early after
// the tick that brings the robot to the target, or when `stop` (when given, asked
// every kTicksBetweenClockReads ticks) says so. Progress is measured to the
// target as it stands afterwards, so a target moved by the planner in between
// does not count as progress.
navigation_outcome navigation_step(session& s, double speed, double turn, std::uint64_t ticks,
                                   const std::function<bool()>& stop = {});
