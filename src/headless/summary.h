// The summary of a headless run, as text lines or as one JSON object.
#pragma once

#include <cstdint>
#include <string>

#include "shell/run_metrics.h"

// The run's metrics (run_figures: the table's rows) and what else the summary tells.
struct run_summary : run_figures {
  std::uint32_t seed = 0;
  std::uint64_t ticks = 0;            // ticks run
  std::uint64_t ticks_requested = 0;  // ticks asked for; more than ticks when the run ended early
  // Why the run ended early: Esc, or the name of a value that stopped being
  // finite (the run ends after that tick); neither for a run of every tick asked.
  bool ended_by_escape = false;
  std::string not_finite;
  double wall_seconds = 0.0;
  std::int64_t walls = 0;
  std::int64_t impacts = 0;
  std::int64_t waypoints = 0;
  double x = 0.0;
  double y = 0.0;
  double heading = 0.0;
  std::int64_t peak_memory_kib = -1;  // -1 when the system does not tell
  std::uint64_t console_messages = 0;
};

// Ticks per wall-clock second, 0 when no time was measured.
double ticks_per_wall_second(const run_summary& s);

// "name: value" lines, each ending in a line break.
std::string format_summary_text(const run_summary& s);
// One JSON object on one line, ending in a line break.
std::string format_summary_json(const run_summary& s);

// The events file: a header, then one CSV row per target reached and per stuck
// spell, in the order of their first tick.
extern const char* const kEventsHeader;
std::string format_events_csv(const run_metrics_record& metrics);

// Peak resident memory of this process in KiB, or -1.
std::int64_t peak_memory_kib();
