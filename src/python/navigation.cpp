#include "python/navigation.h"

#include "core/simulation.h"
#include "shell/observation.h"

void navigation_observation(const simulation& sim, const robot_readings* fresh, float* out) {
  if (fresh != nullptr) {
    robot_observation(sim.robot, sim.world, fresh->sensor_value, fresh->sensor_hit,
                      fresh->grad_angle, out);
  } else {
    robot_observation(sim.robot, sim.world, out);
  }
}

navigation_outcome navigation_step(session& s, double speed, double turn, std::uint64_t ticks,
                                   const std::function<bool()>& stop) {
  // In automatic mode (the baseline driver) the simulation steers itself.
  if (s.manual()) s.drive(speed, turn);
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
    if (stop && outcome.ticks % kTicksBetweenClockReads == 0 && outcome.ticks < ticks && stop()) {
      outcome.stopped = true;
      break;
    }
  }
  outcome.progress = vect_mag(world.target_x - start_x, world.target_y - start_y) -
                     vect_mag(world.target_x - robot.x, world.target_y - robot.y);
  return outcome;
}
