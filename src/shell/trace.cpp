#include "shell/trace.h"

#include <cstdio>

#include "core/simulation.h"

void append_trace_row(std::string& out, const simulation& sim, std::uint64_t tick,
                      std::uint64_t now_ms) {
  const robot_state& robot = sim.robot;
  const world_state& world = sim.world;
  constexpr const char* kFormat = "%llu,%llu.%03llu,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%d,%d,%d,%llu\n";
  const auto args = [&](char* buffer, std::size_t size) {
    return std::snprintf(buffer, size, kFormat, static_cast<unsigned long long>(tick),
                         static_cast<unsigned long long>(now_ms / 1000),
                         static_cast<unsigned long long>(now_ms % 1000), robot.x, robot.y,
                         robot.heading, robot.speed, robot.turn, world.target_x, world.target_y,
                         static_cast<int>(world.num_impacts), static_cast<int>(world.num_waypoints),
                         static_cast<int>(world.cur_waypoint),
                         static_cast<unsigned long long>(sim.planner_stats.runs));
  };
  // A row fits here unless a value is huge (%f prints every digit of 1e300).
  char line[256];
  const int length = args(line, sizeof line);
  if (length < 0) return;
  if (static_cast<std::size_t>(length) < sizeof line) {
    out.append(line, static_cast<std::size_t>(length));
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(length) + 1);
  args(out.data() + start, static_cast<std::size_t>(length) + 1);
  out.resize(start + static_cast<std::size_t>(length));
}
