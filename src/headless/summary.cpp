#include "headless/summary.h"

#include <sys/resource.h>

#include <cmath>
#include <cstdio>

namespace {

std::string fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

// JSON has no NaN or infinity.
std::string json_number(double value, int decimals) {
  return std::isfinite(value) ? fixed(value, decimals) : "null";
}

}  // namespace

double ticks_per_wall_second(const run_summary& s) {
  return s.wall_seconds > 0 ? static_cast<double>(s.ticks) / s.wall_seconds : 0.0;
}

std::string format_summary_text(const run_summary& s) {
  std::string out;
  auto line = [&out](const char* name, const std::string& value) {
    out += name;
    out += ": ";
    out += value;
    out += '\n';
  };
  line("seed", std::to_string(s.seed));
  line("ticks", s.ticks == s.ticks_requested
                    ? std::to_string(s.ticks)
                    : std::to_string(s.ticks) + " of " + std::to_string(s.ticks_requested) +
                          " (ended by Esc)");
  line("simulated seconds", fixed(s.simulated_seconds, 3));
  line("wall seconds", fixed(s.wall_seconds, 3));
  line("ticks per wall second", fixed(ticks_per_wall_second(s), 0));
  line("targets reached", std::to_string(s.targets_reached));
  line("planning runs", std::to_string(s.planning_runs));
  line("planning failures", std::to_string(s.planning_failures));
  line("planning gave up", std::to_string(s.planning_gave_up));
  line("walls", std::to_string(s.walls));
  line("impacts", std::to_string(s.impacts));
  line("waypoints", std::to_string(s.waypoints));
  line("final pose",
       "x " + fixed(s.x, 6) + " y " + fixed(s.y, 6) + " heading " + fixed(s.heading, 6));
  line("peak memory",
       s.peak_memory_kib >= 0 ? std::to_string(s.peak_memory_kib) + " KiB" : "unknown");
  line("console messages", std::to_string(s.console_messages));
  return out;
}

std::string format_summary_json(const run_summary& s) {
  std::string out = "{";
  bool first = true;
  auto field = [&out, &first](const char* name, const std::string& value) {
    if (!first) out += ',';
    first = false;
    out += '"';
    out += name;
    out += "\":";
    out += value;
  };
  field("seed", std::to_string(s.seed));
  field("ticks", std::to_string(s.ticks));
  field("ticks_requested", std::to_string(s.ticks_requested));
  field("ended_by_escape", s.ticks < s.ticks_requested ? "true" : "false");
  field("simulated_seconds", json_number(s.simulated_seconds, 3));
  field("wall_seconds", json_number(s.wall_seconds, 6));
  field("ticks_per_wall_second", json_number(ticks_per_wall_second(s), 1));
  field("targets_reached", std::to_string(s.targets_reached));
  field("planning_runs", std::to_string(s.planning_runs));
  field("planning_failures", std::to_string(s.planning_failures));
  field("planning_gave_up", std::to_string(s.planning_gave_up));
  field("walls", std::to_string(s.walls));
  field("impacts", std::to_string(s.impacts));
  field("waypoints", std::to_string(s.waypoints));
  field("final_pose", "{\"x\":" + json_number(s.x, 6) + ",\"y\":" + json_number(s.y, 6) +
                          ",\"heading\":" + json_number(s.heading, 6) + "}");
  field("peak_memory_kib", s.peak_memory_kib >= 0 ? std::to_string(s.peak_memory_kib) : "null");
  field("console_messages", std::to_string(s.console_messages));
  out += "}\n";
  return out;
}

std::int64_t peak_memory_kib() {
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;  // KiB on Linux
}
