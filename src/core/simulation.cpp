#include "core/simulation.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// Whether every impact lies at least the merge distance from those recorded
// before it, as world_add_impact accepts them (by the same test, oldest first).
bool impacts_kept_apart(const world_state& world) {
  std::vector<const impact_node*> newest_first;
  for (const impact_node* n = world.impacts; n != nullptr; n = n->next) newest_first.push_back(n);
  impact_buckets merge;
  world_state older{};  // the impacts before the one looked at: a tail of the list
  for (auto n = newest_first.rbegin(); n != newest_first.rend(); ++n) {
    if (merge.any_within_merge_distance(older, (*n)->x, (*n)->y)) return false;
    older.impacts = const_cast<impact_node*>(*n);
    ++older.num_impacts;
  }
  return true;
}

// Whether the waypoints are numbered from the head, as a planning run numbers them.
bool waypoints_numbered(const world_state& world) {
  std::int32_t index = 0;
  for (const waypoint_node* n = world.waypoints; n != nullptr; n = n->next) {
    if (n->index != index++) return false;
  }
  return true;
}

// A start time of the clock (0 stands for none), at or before its present.
bool time_of_the_clock(const simulation_clock& clock, double time) {
  return time == 0 || !clock.simulated || time <= clock.simulated_now;
}

}  // namespace

void simulation_data::relations(const simulation_data& s, field_check& check) {
  const world_state& world = s.world;
  check.require(waypoints_numbered(world), "waypoints not numbered as a planning run numbers them");
  check.require(world.cur_waypoint <= std::max(world.num_waypoints - 1, 0),
                "the current waypoint is not one of the waypoints");
  check.require(impacts_kept_apart(world), "two impacts closer than their merge distance");
  bool timers_run_on_the_clock = time_of_the_clock(s.clock, s.robot_memory.last_waypoint_time);
  for (const double start : s.automode.stime) {
    timers_run_on_the_clock = timers_run_on_the_clock && time_of_the_clock(s.clock, start);
  }
  check.require(timers_run_on_the_clock, "a timer started after the clock's present");
  check.require(s.draw_objects.live == kWorldDrawingObjects,
                "drawing objects live besides the world's own");
}

simulation::simulation(const simulation& other) : simulation_data(other) {
  world_copy_lists(other.world, world);
}

simulation& simulation::operator=(const simulation& other) {
  if (this == &other) return *this;
  world_free_lists(world);
  simulation_data::operator=(other);
  world_copy_lists(other.world, world);
  return *this;
}

simulation::~simulation() {
  world_free_lists(world);
}

bool operator==(const simulation& a, const simulation& b) {
  if (!world_same_state(a.world, b.world)) return false;
  // Every other member, through copies whose world is one record.
  simulation_data a_rest = a;
  simulation_data b_rest = b;
  a_rest.world = b_rest.world;
  return a_rest == b_rest;
}

const char* first_non_finite_value(const simulation& sim) {
  const robot_state& r = sim.robot;
  const world_state& w = sim.world;
  // Asked after every tick: first the quick answer. x * 0 is 0 for every finite
  // x and NaN for an infinity or a NaN, so the sum is 0 exactly when all are finite.
  const double zero = r.x * 0 + r.y * 0 + r.heading * 0 + r.speed * 0 + r.turn * 0 + r.vel_x * 0 +
                      r.vel_y * 0 + r.grad_angle * 0 + w.target_x * 0 + w.target_y * 0 +
                      w.scale1 * 0 + w.scale2 * 0 + w.scale3 * 0;
  if (zero == 0) return nullptr;
  const std::pair<const char*, double> values[] = {
      {"the robot's x", r.x},
      {"the robot's y", r.y},
      {"the robot's heading", r.heading},
      {"the robot's speed", r.speed},
      {"the robot's turn", r.turn},
      {"the robot's velocity", r.vel_x},
      {"the robot's velocity", r.vel_y},
      {"the field's direction at the robot", r.grad_angle},
      {"the target's x", w.target_x},
      {"the target's y", w.target_y},
      {"scale1", w.scale1},
      {"scale2", w.scale2},
      {"scale3", w.scale3},
  };
  for (const auto& [name, value] : values) {
    if (!std::isfinite(value)) return name;
  }
  return nullptr;
}
