// Run metrics: what a run of the simulation achieved, gathered by watching the
// simulation between ticks without changing it (targets reached, distance
// travelled, wall contacts, stuck spells). The runs without a window (the
// headless runner, the Python module) call the three observation points around
// their ticks; docs/experiments.md defines every figure.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "core/utility.h"

// A span this long (in simulated milliseconds) without leaving the stuck radius
// and without reaching a target is a stuck spell.
constexpr std::uint64_t kStuckSpellMs = 5000;
// Moving this far from where a span began ends it.
constexpr double kStuckRadius = 0.25;
// A stretch this long (in simulated milliseconds) without progress toward the
// target counts as trapped time, all of it; progress is a target reached, or
// the robot's distance to the target falling by at least kProgressMargin below
// the best it had since the last progress (or since the target was set).
constexpr std::uint64_t kTrappedWindowMs = 10000;
constexpr double kProgressMargin = 0.1;

struct target_event {
  std::uint64_t tick = 0;          // the tick that found the robot at the target
  std::uint64_t time_ms = 0;       // simulated time at the end of that tick
  std::uint64_t ticks_since = 0;   // ticks since the previous target (or the run's start)
  double distance_since = 0.0;     // distance travelled since then
  double distance_when_set = 0.0;  // straight line from the robot to it when it was set
  double x = 0.0;                  // where the target was
  double y = 0.0;

  // The ticks and times are the run's (run_metrics_observer's relations).
  template <typename Self, typename Visit>
  static void fields(Self& e, Visit& visit) {
    visit(e.tick, "tick", any_value{});
    visit(e.time_ms, "time_ms", any_value{});
    visit(e.ticks_since, "ticks_since", any_value{});
    visit(e.distance_since, "distance_since", kNotNegative.or_infinity());
    // Infinite from a robot placed that far away (a world file's 1e308).
    visit(e.distance_when_set, "distance_when_set", kNotNegative.or_infinity());
    visit(e.x, "x", kFinite);
    visit(e.y, "y", kFinite);
  }
  static void relations(const target_event& e, field_check& check) {
    check.require(e.ticks_since <= e.tick, "a target reached before the run began");
  }
  friend bool operator==(const target_event&, const target_event&) = default;
};

struct stuck_spell {
  std::uint64_t first_tick = 0;  // the span began after tick first_tick - 1
  std::uint64_t last_tick = 0;   // the last tick still inside the span
  std::uint64_t start_ms = 0;
  std::uint64_t end_ms = 0;
  double x = 0.0;  // where the span began
  double y = 0.0;
  double seconds() const { return static_cast<double>(end_ms - start_ms) / 1000.0; }

  template <typename Self, typename Visit>
  static void fields(Self& s, Visit& visit) {
    visit(s.first_tick, "first_tick", any_value{});
    visit(s.last_tick, "last_tick", any_value{});
    visit(s.start_ms, "start_ms", any_value{});
    visit(s.end_ms, "end_ms", any_value{});
    visit(s.x, "x", kFinite);
    visit(s.y, "y", kFinite);
  }
  static void relations(const stuck_spell& s, field_check& check) {
    check.require(s.start_ms <= s.end_ms && s.end_ms - s.start_ms >= kStuckSpellMs,
                  "a stuck spell shorter than a spell is");
  }
  friend bool operator==(const stuck_spell&, const stuck_spell&) = default;
};

struct run_metrics_record {
  std::uint64_t ticks = 0;
  std::uint64_t targets_reached = 0;
  double distance = 0.0;
  std::uint64_t contacts = 0;  // ticks on which a push-back ray pushed off a wall
  // The least distance at which a push-back ray met a wall; infinity when none did.
  double least_push_distance = 0.0;
  // The longest move of the robot's centre in one tick, the ticks on which a move
  // into or through a wall was not made and those on which a push-back that
  // overshot was shortened (see robot_update).
  double largest_step = 0.0;
  std::uint64_t wall_crossings_prevented = 0;
  std::uint64_t steps_shortened = 0;
  std::uint64_t stuck_spells = 0;
  std::uint64_t stuck_ms = 0;  // their total length
  std::uint64_t longest_stuck_ms = 0;
  // The run's simulated time when it reached its first target; 0 while none was.
  std::uint64_t first_target_ms = 0;
  // The stretches without progress of kTrappedWindowMs or longer, in all.
  std::uint64_t trapped_ms = 0;
  // Each target reached and each spell, in order of their first tick; kept only
  // when the run asked for them, as they grow with the run.
  std::vector<target_event> targets;
  std::vector<stuck_spell> stuck;

  double stuck_seconds() const { return static_cast<double>(stuck_ms) / 1000.0; }
  double longest_stuck_seconds() const { return static_cast<double>(longest_stuck_ms) / 1000.0; }
  double trapped_seconds() const { return static_cast<double>(trapped_ms) / 1000.0; }

  friend bool operator==(const run_metrics_record&, const run_metrics_record&) = default;
};

// ---------------------------------------------------------------------------
// The table of run metrics: every figure of a run that the front ends report
// under the same name, in the order they report it (run_metrics.cpp). The
// headless runner's text and JSON summaries, Python's Simulation.stats and its
// docstring and RUN_METRICS (a sweep's columns), the web page's stats(), the
// snapshot of the record's totals and the golden runs' filter all go through it:
// adding a metric is one row there and its computation (a field of the record,
// kept up to date by run_metrics_after_tick, or a read of other figures).

// What the rows are read from: a run's metrics, its planner's counters and its
// simulated time.
struct run_figures {
  std::uint64_t planning_runs = 0;
  std::uint64_t planning_failures = 0;  // random targets chosen because no path was found
  std::uint64_t planning_gave_up = 0;   // runs that found no path even with random targets
  double simulated_seconds = 0.0;
  run_metrics_record metrics;
  friend bool operator==(const run_figures&, const run_figures&) = default;
};

// A metric's value: a count, a real, or none (a least push-back distance of a run
// whose rays met no wall).
using metric_value = std::variant<std::monostate, std::uint64_t, double>;
// The field of the record that keeps a metric, or none for a metric read from
// other figures.
using metric_field =
    std::variant<std::monostate, std::uint64_t run_metrics_record::*, double run_metrics_record::*>;

// The decimals of a count.
constexpr int kWholeNumber = -1;

struct run_metric {
  const char* name;         // the key in the JSON summary and Simulation.stats, a sweep's column
  const char* label;        // the text summary's name; nullptr: shown in the line of a row before
  const char* description;  // what it counts or measures (a sweep's --list-metrics and axes)
  const char* unit;         // "" for a plain count
  int decimals = kWholeNumber;       // in the JSON summary and a sweep's rows
  int text_decimals = kWholeNumber;  // in the text summary
  // The golden runs compare it; those added after they were recorded are left out.
  bool golden = true;
  metric_field field{};  // where the record keeps it (its value unless `read` is given)
  metric_value (*read)(const run_figures&) = nullptr;
  // The text summary's value when it is more than the number; nullptr for the number.
  std::string (*text)(const run_figures&) = nullptr;
  // What follows the number in the text summary (" s"), when it has a value.
  const char* text_suffix = "";
  // When the metric has no value (for the docstring); nullptr when it always has one.
  const char* none_when = nullptr;
};

std::span<const run_metric> run_metrics_table();

metric_value metric_read(const run_metric& metric, const run_figures& figures);
// The value as the text summary shows it ("none" for none).
std::string metric_text(const run_metric& metric, const run_figures& figures);
// The value as a JSON number, or null for none and for what is not finite.
std::string metric_json(const run_metric& metric, const run_figures& figures);
// printf's %.*f.
std::string format_fixed(double value, int decimals);

// The record's totals (every field but the two lists of events) for field
// descriptions: the ticks, then each metric's field in the table's order, by
// the metric's name. Counts take any value; the real totals are distances, of
// at least 0, infinite once poses a program set were ±1e308 apart (or, for the
// least push-back distance, while no ray met a wall).
template <typename Record, typename Visit>
void run_metrics_totals(Record& record, Visit& visit) {
  visit(record.ticks, "ticks", any_value{});
  for (const run_metric& metric : run_metrics_table()) {
    std::visit(
        [&](auto field) {
          using member = decltype(field);
          if constexpr (std::is_same_v<member, std::uint64_t run_metrics_record::*>) {
            visit(record.*field, metric.name, any_value{});
          } else if constexpr (!std::is_same_v<member, std::monostate>) {
            visit(record.*field, metric.name, kNotNegative.or_infinity());
          }
        },
        metric.field);
  }
}

// What the observer keeps between its observations. Only run_metrics.cpp reads
// the fields.
struct run_metrics_observer {
  struct open_span {
    std::uint64_t first_tick = 1;
    std::uint64_t start_ms = 0;
    double x = 0.0;
    double y = 0.0;

    template <typename Self, typename Visit>
    static void fields(Self& s, Visit& visit) {
      visit(s.first_tick, "first_tick", any_value{});
      visit(s.start_ms, "start_ms", any_value{});
      visit(s.x, "x", kFinite);
      visit(s.y, "y", kFinite);
    }
    friend bool operator==(const open_span&, const open_span&) = default;
  };
  // The stretch since the last progress; (x, y) is the target the best
  // distance is to.
  struct progress_stretch {
    double target_x = 0.0;
    double target_y = 0.0;
    double best_distance = 0.0;  // the robot's at that progress, or when the target was set
    std::uint64_t since_ms = 0;

    template <typename Self, typename Visit>
    static void fields(Self& s, Visit& visit) {
      visit(s.target_x, "target_x", kFinite);
      visit(s.target_y, "target_y", kFinite);
      visit(s.best_distance, "best_distance", kNotNegative.or_infinity());
      visit(s.since_ms, "since_ms", any_value{});
    }
    friend bool operator==(const progress_stretch&, const progress_stretch&) = default;
  };
  bool started = false;
  bool keep_events = false;
  run_metrics_record record;
  // The robot where the last observation saw it.
  double robot_x = 0.0;
  double robot_y = 0.0;
  // The target as last seen and how far the robot was from it when it was set.
  double target_x = 0.0;
  double target_y = 0.0;
  double target_distance_when_set = 0.0;
  // Set before a tick that will find the robot at the target.
  bool reach_pending = false;
  std::uint64_t last_reach_tick = 0;
  double distance_at_last_reach = 0.0;
  open_span span;
  progress_stretch progress;
  std::uint64_t last_ms = 0;

  // The record's lists of events come last.
  template <typename Self, typename Visit>
  static void fields(Self& m, Visit& visit) {
    visit(m.started, "started");
    visit(m.keep_events, "keep_events");
    run_metrics_totals(m.record, visit);
    visit(m.robot_x, "robot_x", kFinite);
    visit(m.robot_y, "robot_y", kFinite);
    visit(m.target_x, "target_x", kFinite);
    visit(m.target_y, "target_y", kFinite);
    visit(m.target_distance_when_set, "target_distance_when_set", kNotNegative.or_infinity());
    visit(m.reach_pending, "reach_pending");
    visit(m.last_reach_tick, "last_reach_tick", any_value{});
    visit(m.distance_at_last_reach, "distance_at_last_reach", kNotNegative.or_infinity());
    visit(m.span, "span");
    visit(m.progress, "progress");
    visit(m.last_ms, "last_ms", any_value{});
    visit(m.record.targets, "targets");
    visit(m.record.stuck, "stuck");
  }
  // As run_metrics.cpp leaves them between two ticks: the counts within the
  // ticks, the events those counted when they are kept. The run relates the
  // ticks and times to its own (shell/simulated_run.h).
  static void relations(const run_metrics_observer& m, field_check& check);
  friend bool operator==(const run_metrics_observer&, const run_metrics_observer&) = default;
};

struct simulator;

// Targets per simulated minute, 0 for a run of no time.
double targets_per_minute(std::uint64_t targets_reached, double simulated_seconds);

// Begins a run's metrics from the current state (after start-up and loading);
// now_ms is the run's simulated time, 0 at its start. keep_events keeps every
// target reached and stuck spell in the record, not only the totals.
void run_metrics_start(simulator& app, std::uint64_t now_ms, bool keep_events = false);
// Just before a tick: notes a target that was moved since the last tick and
// whether the tick will find the robot at the target.
void run_metrics_before_tick(simulator& app);
// Just after a tick, with the simulated time at its end.
void run_metrics_after_tick(simulator& app, std::uint64_t now_ms);

// The metrics so far. The span still open counts as a stuck spell, and the
// stretch without progress still open as trapped time, when it is already long
// enough, so this can be read at any time.
run_metrics_record run_metrics(const simulator& app);
// The figures the table's rows read, now: the metrics so far, the planner's
// counters and the simulated time (now_ms, as for run_metrics_after_tick).
run_figures run_figures_of(const simulator& app, std::uint64_t now_ms);
