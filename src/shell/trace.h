// The trace of a run: one CSV row per tick with the robot's pose and command,
// the target and the planner's counts. The headless runner writes it to a file
// and the web page hands it to scripts; both take the text from here, so a run
// in either gives the same bytes.
#pragma once

#include <cstdint>
#include <string>

struct simulation;

// The header line, without the line break.
constexpr const char* kTraceHeader =
    "tick,time,x,y,heading,speed,turn,target_x,target_y,impacts,waypoints,current_waypoint,"
    "planning_runs";

// Appends the row of the state after `tick` ticks, `now_ms` milliseconds into the
// run's clock, with its line break.
void append_trace_row(std::string& out, const simulation& sim, std::uint64_t tick,
                      std::uint64_t now_ms);
