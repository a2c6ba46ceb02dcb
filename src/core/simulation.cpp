#include "core/simulation.h"

#include <cmath>
#include <utility>

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
