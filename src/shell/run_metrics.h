// Run metrics: what a run of the simulation achieved, gathered by watching the
// simulation between ticks without changing it (targets reached, distance
// travelled, wall contacts, stuck spells). The runs without a window (the
// headless runner, the Python module) call the three observation points around
// their ticks; docs/experiments.md defines every figure.
#pragma once

#include <cstdint>
#include <vector>

// A span this long (in simulated milliseconds) without leaving the stuck radius
// and without reaching a target is a stuck spell.
constexpr std::uint64_t kStuckSpellMs = 5000;
// Moving this far from where a span began ends it.
constexpr double kStuckRadius = 0.25;

struct target_event {
  std::uint64_t tick = 0;          // the tick that found the robot at the target
  std::uint64_t time_ms = 0;       // simulated time at the end of that tick
  std::uint64_t ticks_since = 0;   // ticks since the previous target (or the run's start)
  double distance_since = 0.0;     // distance travelled since then
  double distance_when_set = 0.0;  // straight line from the robot to it when it was set
  double x = 0.0;                  // where the target was
  double y = 0.0;

  template <typename Self, typename Visit>
  static void fields(Self& e, Visit& visit) {
    visit(e.tick);
    visit(e.time_ms);
    visit(e.ticks_since);
    visit(e.distance_since);
    visit(e.distance_when_set);
    visit(e.x);
    visit(e.y);
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
    visit(s.first_tick);
    visit(s.last_tick);
    visit(s.start_ms);
    visit(s.end_ms);
    visit(s.x);
    visit(s.y);
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
  // Each target reached and each spell, in order of their first tick; kept only
  // when the run asked for them, as they grow with the run.
  std::vector<target_event> targets;
  std::vector<stuck_spell> stuck;

  double stuck_seconds() const { return static_cast<double>(stuck_ms) / 1000.0; }
  double longest_stuck_seconds() const { return static_cast<double>(longest_stuck_ms) / 1000.0; }

  // The totals (every field but the two lists of events).
  template <typename Self, typename Visit>
  static void totals(Self& r, Visit& visit) {
    visit(r.ticks);
    visit(r.targets_reached);
    visit(r.distance);
    visit(r.contacts);
    visit(r.least_push_distance);
    visit(r.largest_step);
    visit(r.wall_crossings_prevented);
    visit(r.steps_shortened);
    visit(r.stuck_spells);
    visit(r.stuck_ms);
    visit(r.longest_stuck_ms);
  }
  friend bool operator==(const run_metrics_record&, const run_metrics_record&) = default;
};

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
      visit(s.first_tick);
      visit(s.start_ms);
      visit(s.x);
      visit(s.y);
    }
    friend bool operator==(const open_span&, const open_span&) = default;
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
  std::uint64_t last_ms = 0;

  // The record's lists of events come last.
  template <typename Self, typename Visit>
  static void fields(Self& m, Visit& visit) {
    visit(m.started);
    visit(m.keep_events);
    run_metrics_record::totals(m.record, visit);
    visit(m.robot_x);
    visit(m.robot_y);
    visit(m.target_x);
    visit(m.target_y);
    visit(m.target_distance_when_set);
    visit(m.reach_pending);
    visit(m.last_reach_tick);
    visit(m.distance_at_last_reach);
    visit(m.span);
    visit(m.last_ms);
    visit(m.record.targets);
    visit(m.record.stuck);
  }
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

// The metrics so far. The span still open counts as a stuck spell when it is
// already long enough, so this can be read at any time.
run_metrics_record run_metrics(const simulator& app);
