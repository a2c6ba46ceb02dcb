#include "headless/summary.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace {

// JSON has no NaN or infinity.
std::string json_number(double value, int decimals) {
  return std::isfinite(value) ? format_fixed(value, decimals) : "null";
}

std::string seconds_of(std::uint64_t ms) {
  return format_fixed(static_cast<double>(ms) / 1000.0, 3);
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
  line("simulated seconds", format_fixed(s.simulated_seconds, 3));
  line("wall seconds", format_fixed(s.wall_seconds, 3));
  line("ticks per wall second", format_fixed(ticks_per_wall_second(s), 0));
  for (const run_metric& metric : run_metrics_table()) {
    if (metric.label != nullptr) line(metric.label, metric_text(metric, s));
  }
  line("walls", std::to_string(s.walls));
  line("impacts", std::to_string(s.impacts));
  line("waypoints", std::to_string(s.waypoints));
  line("final pose", "x " + format_fixed(s.x, 6) + " y " + format_fixed(s.y, 6) + " heading " +
                         format_fixed(s.heading, 6));
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
  for (const run_metric& metric : run_metrics_table()) field(metric.name, metric_json(metric, s));
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
           format_fixed(spell.x, 6), format_fixed(spell.y, 6), std::to_string(spell.last_tick),
           format_fixed(spell.seconds(), 3)});
    }
  };
  for (const target_event& event : m.targets) {
    spells_until(event.tick);
    row({"target", std::to_string(event.tick), seconds_of(event.time_ms),
         std::to_string(event.ticks_since), format_fixed(event.distance_since, 6),
         format_fixed(event.distance_when_set, 6), format_fixed(event.x, 6),
         format_fixed(event.y, 6), "", ""});
  }
  spells_until(UINT64_MAX);
  return out;
}

std::int64_t peak_memory_kib() {
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;  // KiB on Linux
}
