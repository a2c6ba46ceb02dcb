#include "shell/run_metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/simulation.h"
#include "shell/simulator.h"

namespace {

using observer_state = run_metrics_observer;

double distance_between(double ax, double ay, double bx, double by) {
  return vect_mag(ax - bx, ay - by);
}

// A target moved by anything (the robot reaching it, the planner's random choice,
// a click, a loaded file) is one set now, with the robot at (from_x, from_y).
void notice_target_change(observer_state& state, const world_state& world, double from_x,
                          double from_y) {
  if (world.target_x == state.target_x && world.target_y == state.target_y) return;
  state.target_x = world.target_x;
  state.target_y = world.target_y;
  state.target_distance_when_set = distance_between(from_x, from_y, world.target_x, world.target_y);
}

void begin_span(observer_state& state, const robot_state& robot, std::uint64_t next_tick,
                std::uint64_t now_ms) {
  state.span = observer_state::open_span{next_tick, now_ms, robot.x, robot.y};
}

// The open span as a spell when it is long enough; it ended at the last
// observation, after tick last_tick.
bool span_as_spell(const observer_state& state, std::uint64_t last_tick, stuck_spell& spell) {
  if (state.last_ms - state.span.start_ms < kStuckSpellMs) return false;
  spell = stuck_spell{state.span.first_tick, last_tick,    state.span.start_ms,
                      state.last_ms,         state.span.x, state.span.y};
  return true;
}

void add_spell(run_metrics_record& record, const stuck_spell& spell, bool keep) {
  const std::uint64_t length = spell.end_ms - spell.start_ms;
  ++record.stuck_spells;
  record.stuck_ms += length;
  record.longest_stuck_ms = std::max(record.longest_stuck_ms, length);
  if (keep) record.stuck.push_back(spell);
}

void record_reach(observer_state& state, std::uint64_t tick, std::uint64_t now_ms,
                  double distance_before_tick) {
  target_event event;
  event.tick = tick;
  event.time_ms = now_ms;
  event.ticks_since = tick - state.last_reach_tick;
  event.distance_since = distance_before_tick - state.distance_at_last_reach;
  event.distance_when_set = state.target_distance_when_set;
  event.x = state.target_x;
  event.y = state.target_y;
  if (state.record.targets_reached == 0) state.record.first_target_ms = now_ms;
  ++state.record.targets_reached;
  if (state.keep_events) state.record.targets.push_back(event);
  state.last_reach_tick = tick;
  state.distance_at_last_reach = distance_before_tick;
}

void update_span(observer_state& state, const robot_state& robot, std::uint64_t tick,
                 std::uint64_t now_ms, bool reached) {
  const bool left = distance_between(robot.x, robot.y, state.span.x, state.span.y) >= kStuckRadius;
  if (reached || left) {
    stuck_spell spell;
    if (span_as_spell(state, tick - 1, spell)) add_spell(state.record, spell, state.keep_events);
    begin_span(state, robot, tick + 1, now_ms);
  }
}

// The stretch without progress from the last progress to the last
// observation, when it is long enough to count as trapped.
std::uint64_t trapped_length(const observer_state& state) {
  const std::uint64_t length = state.last_ms - state.progress.since_ms;
  return length >= kTrappedWindowMs ? length : 0;
}

void begin_progress(observer_state& state, const robot_state& robot, const world_state& world,
                    std::uint64_t now_ms) {
  state.progress = observer_state::progress_stretch{
      world.target_x, world.target_y,
      distance_between(robot.x, robot.y, world.target_x, world.target_y), now_ms};
}

// After a tick, before last_ms moves on to now_ms: a target reached, or the
// distance to the target falling kProgressMargin below its best, is progress
// and ends the stretch at the previous observation. A target set otherwise (a
// click, the planner's random choice) only starts its own best distance: a
// robot that gets ever new targets without reaching one is still trapped. A
// robot sliding along walls makes no progress until it gets closer than it was.
void update_progress(observer_state& state, const robot_state& robot, const world_state& world,
                     std::uint64_t now_ms, bool reached) {
  observer_state::progress_stretch& p = state.progress;
  const double distance = distance_between(robot.x, robot.y, world.target_x, world.target_y);
  if (reached || distance <= p.best_distance - kProgressMargin) {
    state.record.trapped_ms += trapped_length(state);
    begin_progress(state, robot, world, now_ms);
  } else if (world.target_x != p.target_x || world.target_y != p.target_y) {
    p = observer_state::progress_stretch{world.target_x, world.target_y, distance, p.since_ms};
  }
}

using figures = run_figures;

// The rows: the text summary prints them after the planner's counts, the JSON
// summary in the same place, Simulation.stats before its console, a sweep after
// its ticks and simulated time.
constexpr run_metric kRunMetrics[] = {
    {.name = "targets_reached",
     .label = "targets reached",
     .description = "targets reached in the run",
     .unit = "",
     .field = &run_metrics_record::targets_reached},
    {.name = "planning_runs",
     .label = "planning runs",
     .description = "planning runs",
     .unit = "",
     .read = [](const figures& f) -> metric_value { return f.planning_runs; }},
    {.name = "planning_failures",
     .label = "planning failures",
     .description = "planning runs that found no path",
     .unit = "",
     .read = [](const figures& f) -> metric_value { return f.planning_failures; }},
    {.name = "planning_gave_up",
     .label = "planning gave up",
     .description = "planning runs that found no path for any target",
     .unit = "",
     .read = [](const figures& f) -> metric_value { return f.planning_gave_up; }},
    {.name = "targets_per_minute",
     .label = "targets per simulated minute",
     .description = "targets reached per simulated minute",
     .unit = "1/min",
     .decimals = 6,
     .text_decimals = 3,
     .read = [](const figures& f) -> metric_value {
       return targets_per_minute(f.metrics.targets_reached, f.simulated_seconds);
     }},
    {.name = "distance_travelled",
     .label = "distance travelled",
     .description = "distance travelled",
     .unit = "world units",
     .decimals = 6,
     .text_decimals = 6,
     .field = &run_metrics_record::distance},
    {.name = "contacts",
     .label = "contacts",
     .description = "ticks with a wall contact",
     .unit = "ticks",
     .field = &run_metrics_record::contacts},
    {.name = "least_push_distance",
     .label = "least push-back distance",
     .description = "least push-back distance to a wall",
     .unit = "world units",
     .decimals = 6,
     .text_decimals = 6,
     .field = &run_metrics_record::least_push_distance,
     .read = [](const figures& f) -> metric_value {
       const double d = f.metrics.least_push_distance;
       return std::isfinite(d) ? metric_value{d} : metric_value{};
     },
     .none_when = "no push-back ray met a wall"},
    {.name = "largest_step",
     .label = "largest step",
     .description = "longest move of the robot in one tick",
     .unit = "world units",
     .decimals = 6,
     .text_decimals = 6,
     .golden = false,
     .field = &run_metrics_record::largest_step},
    {.name = "wall_crossings_prevented",
     .label = "wall crossings prevented",
     .description = "ticks whose move into a wall was not made",
     .unit = "ticks",
     .golden = false,
     .field = &run_metrics_record::wall_crossings_prevented},
    {.name = "steps_shortened",
     .label = "steps shortened",
     .description = "ticks whose overshooting push-back was shortened",
     .unit = "ticks",
     .golden = false,
     .field = &run_metrics_record::steps_shortened},
    {.name = "stuck_spells",
     .label = "stuck spells",
     .description = "stuck spells (5 s or longer without progress)",
     .unit = "",
     .field = &run_metrics_record::stuck_spells,
     // With the next two rows in one line.
     .text =
         [](const figures& f) {
           const run_metrics_record& m = f.metrics;
           return std::to_string(m.stuck_spells) + ", " + format_fixed(m.stuck_seconds(), 3) +
                  " s in all, longest " + format_fixed(m.longest_stuck_seconds(), 3) + " s";
         }},
    {.name = "stuck_seconds",
     .label = nullptr,
     .description = "time stuck",
     .unit = "simulated s",
     .decimals = 3,
     .text_decimals = 3,
     .field = &run_metrics_record::stuck_ms,
     .read = [](const figures& f) -> metric_value { return f.metrics.stuck_seconds(); }},
    {.name = "longest_stuck_seconds",
     .label = nullptr,
     .description = "longest stuck spell",
     .unit = "simulated s",
     .decimals = 3,
     .text_decimals = 3,
     .field = &run_metrics_record::longest_stuck_ms,
     .read = [](const figures& f) -> metric_value { return f.metrics.longest_stuck_seconds(); }},
    {.name = "time_to_first_target",
     .label = "time to first target",
     .description = "simulated time until the first target was reached",
     .unit = "simulated s",
     .decimals = 3,
     .text_decimals = 3,
     .golden = false,
     .field = &run_metrics_record::first_target_ms,
     .read = [](const figures& f) -> metric_value {
       const run_metrics_record& m = f.metrics;
       if (m.targets_reached == 0) return {};
       return static_cast<double>(m.first_target_ms) / 1000.0;
     },
     .text_suffix = " s",
     .none_when = "no target was reached"},
    {.name = "trapped_seconds",
     .label = "trapped",
     .description = "time in stretches of 10 s or longer without progress toward the target",
     .unit = "simulated s",
     .decimals = 3,
     .text_decimals = 3,
     .golden = false,
     .field = &run_metrics_record::trapped_ms,
     .read = [](const figures& f) -> metric_value { return f.metrics.trapped_seconds(); },
     .text_suffix = " s"},
};

}  // namespace

std::span<const run_metric> run_metrics_table() {
  return kRunMetrics;
}

metric_value metric_read(const run_metric& metric, const run_figures& figures) {
  using count_field = std::uint64_t run_metrics_record::*;
  using real_field = double run_metrics_record::*;
  if (metric.read != nullptr) return metric.read(figures);
  if (const count_field* field = std::get_if<count_field>(&metric.field)) {
    return figures.metrics.**field;
  }
  if (const real_field* field = std::get_if<real_field>(&metric.field)) {
    return figures.metrics.**field;
  }
  return std::monostate{};
}

std::string format_fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string metric_text(const run_metric& metric, const run_figures& figures) {
  if (metric.text != nullptr) return metric.text(figures);
  const metric_value value = metric_read(metric, figures);
  if (const auto* count = std::get_if<std::uint64_t>(&value)) {
    return std::to_string(*count) + metric.text_suffix;
  }
  if (const auto* real = std::get_if<double>(&value)) {
    return format_fixed(*real, metric.text_decimals) + metric.text_suffix;
  }
  return "none";
}

std::string metric_json(const run_metric& metric, const run_figures& figures) {
  const metric_value value = metric_read(metric, figures);
  if (const auto* count = std::get_if<std::uint64_t>(&value)) return std::to_string(*count);
  const auto* real = std::get_if<double>(&value);
  // JSON has no NaN or infinity.
  return real != nullptr && std::isfinite(*real) ? format_fixed(*real, metric.decimals) : "null";
}

void run_metrics_observer::relations(const run_metrics_observer& m, field_check& check) {
  if (!m.started) {
    check.require(m == run_metrics_observer{}, "metrics that were never started hold figures");
    return;
  }
  const run_metrics_record& r = m.record;
  check.require(!m.reach_pending, "a target's reach pending between two ticks");
  check.require(r.targets_reached <= r.ticks && r.contacts <= r.ticks &&
                    r.wall_crossings_prevented <= r.ticks && r.steps_shortened <= r.ticks &&
                    r.stuck_spells <= r.ticks && m.last_reach_tick <= r.ticks &&
                    m.span.first_tick <= r.ticks + 1,
                "more events than ticks");
  check.require(r.largest_step <= r.distance && m.distance_at_last_reach <= r.distance,
                "a step longer than the whole distance travelled");
  check.require(r.stuck_ms <= m.last_ms && r.longest_stuck_ms <= r.stuck_ms &&
                    r.stuck_ms / kStuckSpellMs >= r.stuck_spells &&
                    (r.stuck_spells == 0) == (r.longest_stuck_ms == 0) &&
                    m.span.start_ms <= m.last_ms,
                "stuck spells that do not fit the time");
  check.require(r.first_target_ms <= m.last_ms && (r.targets_reached > 0 || r.first_target_ms == 0),
                "a first target that does not fit the time");
  // The open stretch follows the trapped ones.
  check.require(r.trapped_ms <= m.last_ms && m.progress.since_ms <= m.last_ms &&
                    m.last_ms - m.progress.since_ms <= m.last_ms - r.trapped_ms,
                "trapped time that does not fit the time");
  const bool kept = r.targets.size() == (m.keep_events ? r.targets_reached : 0) &&
                    r.stuck.size() == (m.keep_events ? r.stuck_spells : 0);
  check.require(kept, "events kept that were not counted");
  for (const target_event& e : r.targets) {
    check.require(e.tick <= r.ticks && e.time_ms <= m.last_ms,
                  "a target reached after the last tick");
  }
  for (const stuck_spell& s : r.stuck) {
    check.require(s.last_tick <= r.ticks && s.end_ms <= m.last_ms,
                  "a stuck spell after the last tick");
  }
}

double targets_per_minute(std::uint64_t targets_reached, double simulated_seconds) {
  return simulated_seconds > 0 ? static_cast<double>(targets_reached) * 60.0 / simulated_seconds
                               : 0.0;
}

void run_metrics_start(simulator& app, std::uint64_t now_ms, bool keep_events) {
  observer_state& state = app.metrics;
  const robot_state& robot = app.sim.robot;
  const world_state& world = app.sim.world;
  state = observer_state{};
  state.started = true;
  state.keep_events = keep_events;
  state.record.least_push_distance = std::numeric_limits<double>::infinity();
  state.robot_x = robot.x;
  state.robot_y = robot.y;
  state.target_x = world.target_x;
  state.target_y = world.target_y;
  state.target_distance_when_set =
      distance_between(robot.x, robot.y, world.target_x, world.target_y);
  state.last_ms = now_ms;
  begin_span(state, robot, 1, now_ms);
  begin_progress(state, robot, world, now_ms);
}

void run_metrics_before_tick(simulator& app) {
  observer_state& state = app.metrics;
  if (!state.started) return;
  const robot_state& robot = app.sim.robot;
  const world_state& world = app.sim.world;
  // The robot may have been placed anew between ticks; that is no travel.
  state.robot_x = robot.x;
  state.robot_y = robot.y;
  notice_target_change(state, world, robot.x, robot.y);
  // The condition the robot's update tests first thing in the tick.
  state.reach_pending =
      vect_mag(robot.x - world.target_x, robot.y - world.target_y) < kTargetReachedDistance;
}

void run_metrics_after_tick(simulator& app, std::uint64_t now_ms) {
  observer_state& state = app.metrics;
  if (!state.started) return;
  const robot_state& robot = app.sim.robot;
  const push_back_observation& last_push_back = app.sim.last_push_back;
  run_metrics_record& record = state.record;
  const std::uint64_t tick = ++record.ticks;
  const double distance_before_tick = record.distance;
  // From where the tick's clamp put the robot before it moved: a robot placed
  // outside the world (a world file) is pulled in at once, which is no travel.
  const point start = clamped_into_world(robot, app.sim.world, {state.robot_x, state.robot_y});
  const double step = distance_between(robot.x, robot.y, start.x, start.y);
  record.distance += step;
  record.largest_step = std::max(record.largest_step, step);
  if (last_push_back.crossing_prevented) ++record.wall_crossings_prevented;
  if (last_push_back.step_shortened) ++record.steps_shortened;
  if (state.reach_pending) record_reach(state, tick, now_ms, distance_before_tick);
  // Every target change inside a tick happens before the robot moves.
  notice_target_change(state, app.sim.world, state.robot_x, state.robot_y);
  if (last_push_back.wall_pushed) ++record.contacts;
  record.least_push_distance = std::min(record.least_push_distance, last_push_back.least_distance);
  update_span(state, robot, tick, now_ms, state.reach_pending);
  update_progress(state, robot, app.sim.world, now_ms, state.reach_pending);
  state.reach_pending = false;
  state.robot_x = robot.x;
  state.robot_y = robot.y;
  state.last_ms = now_ms;
}

run_metrics_record run_metrics(const simulator& app) {
  const observer_state& state = app.metrics;
  run_metrics_record result = state.record;
  stuck_spell spell;
  if (state.started && span_as_spell(state, result.ticks, spell)) {
    add_spell(result, spell, state.keep_events);
  }
  if (state.started) result.trapped_ms += trapped_length(state);
  return result;
}

run_figures run_figures_of(const simulator& app, std::uint64_t now_ms) {
  run_figures figures;
  figures.planning_runs = app.sim.planner_stats.runs;
  figures.planning_failures = app.sim.planner_stats.random_targets;
  figures.planning_gave_up = app.sim.planner_stats.gave_up;
  figures.simulated_seconds = static_cast<double>(now_ms) / 1000.0;
  figures.metrics = run_metrics(app);
  return figures;
}
