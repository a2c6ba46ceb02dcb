#include "python/navigation.h"

#include <cmath>

#include "core/simulation.h"

namespace {

double wrapped(double angle) {
  return std::remainder(angle, kTwoPi);
}

}  // namespace

namespace {

template <typename Readings>
void fill_observation(const robot_state& robot, const Readings& read, const world_state& world,
                      float* out) {
  for (int i = 0; i < kNumSensors; ++i) {
    out[i] = static_cast<float>(read.sensor_value[i]);
    out[kNumSensors + i] = read.sensor_hit[i] ? 1.0f : 0.0f;
  }
  const double dx = world.target_x - robot.x;
  const double dy = world.target_y - robot.y;
  out[12] = static_cast<float>(vect_mag(dx, dy));
  out[13] = static_cast<float>(wrapped(std::atan2(dy, dx) - robot.heading));
  out[14] = static_cast<float>(wrapped(read.grad_angle - robot.heading));
}

}  // namespace

void navigation_observation(const simulation& sim, const robot_readings* fresh, float* out) {
  if (fresh != nullptr) {
    fill_observation(sim.robot, *fresh, sim.world, out);
  } else {
    fill_observation(sim.robot, sim.robot, sim.world, out);
  }
}

navigation_outcome navigation_step(session& s, double speed, double turn, std::uint64_t ticks) {
  s.drive(speed, turn);
  const simulation& sim = s.sim();
  const robot_state& robot = sim.robot;
  const world_state& world = sim.world;
  const double start_x = robot.x;
  const double start_y = robot.y;
  navigation_outcome outcome;
  while (outcome.ticks < ticks && s.tick_once()) {
    ++outcome.ticks;
    if (sim.last_push_back.wall_pushed) ++outcome.contact_ticks;
    if (robot_at_target(sim)) {
      outcome.reached = true;
      break;
    }
  }
  outcome.progress = vect_mag(world.target_x - start_x, world.target_y - start_y) -
                     vect_mag(world.target_x - robot.x, world.target_y - robot.y);
  return outcome;
}
