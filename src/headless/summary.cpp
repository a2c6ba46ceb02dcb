#include "headless/summary.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

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

std::string seconds_of(std::uint64_t ms) {
  return fixed(static_cast<double>(ms) / 1000.0, 3);
}

double minute_rate(const run_summary& s) {
  return targets_per_minute(s.targets_reached, s.simulated_seconds);
}

}  // namespace

const char* const kEventsHeader =
    "event,tick,time,ticks_since_previous,distance_since_previous,distance_when_set,x,y,"
    "last_tick,seconds";

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
  const std::string why = s.ended_by_escape       ? " (ended by Esc)"
                          : !s.not_finite.empty() ? " (" + s.not_finite + " stopped being finite)"
                                                  : "";
  line("ticks", s.ticks == s.ticks_requested && why.empty()
                    ? std::to_string(s.ticks)
                    : std::to_string(s.ticks) + " of " + std::to_string(s.ticks_requested) + why);
  line("simulated seconds", fixed(s.simulated_seconds, 3));
  line("wall seconds", fixed(s.wall_seconds, 3));
  line("ticks per wall second", fixed(ticks_per_wall_second(s), 0));
  line("targets reached", std::to_string(s.targets_reached));
  line("planning runs", std::to_string(s.planning_runs));
  line("planning failures", std::to_string(s.planning_failures));
  line("planning gave up", std::to_string(s.planning_gave_up));
  line("targets per simulated minute", fixed(minute_rate(s), 3));
  line("distance travelled", fixed(s.metrics.distance, 6));
  line("contacts", std::to_string(s.metrics.contacts));
  line("least push-back distance", std::isfinite(s.metrics.least_push_distance)
                                       ? fixed(s.metrics.least_push_distance, 6)
                                       : "none");
  line("largest step", fixed(s.metrics.largest_step, 6));
  line("wall crossings prevented", std::to_string(s.metrics.wall_crossings_prevented));
  line("steps shortened", std::to_string(s.metrics.steps_shortened));
  line("stuck spells", std::to_string(s.metrics.stuck_spells) + ", " +
                           fixed(s.metrics.stuck_seconds(), 3) + " s in all, longest " +
                           fixed(s.metrics.longest_stuck_seconds(), 3) + " s");
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
  field("ended_by_escape", s.ended_by_escape ? "true" : "false");
  field("simulated_seconds", json_number(s.simulated_seconds, 3));
  field("wall_seconds", json_number(s.wall_seconds, 6));
  field("ticks_per_wall_second", json_number(ticks_per_wall_second(s), 1));
  field("targets_reached", std::to_string(s.targets_reached));
  field("planning_runs", std::to_string(s.planning_runs));
  field("planning_failures", std::to_string(s.planning_failures));
  field("planning_gave_up", std::to_string(s.planning_gave_up));
  field("targets_per_minute", json_number(minute_rate(s), 6));
  field("distance_travelled", json_number(s.metrics.distance, 6));
  field("contacts", std::to_string(s.metrics.contacts));
  field("least_push_distance", json_number(s.metrics.least_push_distance, 6));
  field("largest_step", json_number(s.metrics.largest_step, 6));
  field("wall_crossings_prevented", std::to_string(s.metrics.wall_crossings_prevented));
  field("steps_shortened", std::to_string(s.metrics.steps_shortened));
  field("stuck_spells", std::to_string(s.metrics.stuck_spells));
  field("stuck_seconds", json_number(s.metrics.stuck_seconds(), 3));
  field("longest_stuck_seconds", fixed(s.metrics.longest_stuck_seconds(), 3));
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

std::string format_events_csv(const run_metrics_record& m) {
  std::string out = kEventsHeader;
  out += '\n';
  auto row = [&out](std::initializer_list<std::string> cells) {
    bool first = true;
    for (const std::string& cell : cells) {
      if (!first) out += ',';
      first = false;
      out += cell;
    }
    out += '\n';
  };
  std::size_t next_spell = 0;
  auto spells_until = [&](std::uint64_t tick) {
    for (; next_spell < m.stuck.size() && m.stuck[next_spell].first_tick <= tick; ++next_spell) {
      const stuck_spell& spell = m.stuck[next_spell];
      row({"stuck", std::to_string(spell.first_tick), seconds_of(spell.start_ms), "", "", "",
           fixed(spell.x, 6), fixed(spell.y, 6), std::to_string(spell.last_tick),
           fixed(spell.seconds(), 3)});
    }
  };
  for (const target_event& event : m.targets) {
    spells_until(event.tick);
    row({"target", std::to_string(event.tick), seconds_of(event.time_ms),
         std::to_string(event.ticks_since), fixed(event.distance_since, 6),
         fixed(event.distance_when_set, 6), fixed(event.x, 6), fixed(event.y, 6), "", ""});
  }
  spells_until(UINT64_MAX);
  return out;
}

std::int64_t peak_memory_kib() {
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;  // KiB on Linux
}
