#include "shell/observation.h"

#include <cmath>

#include "core/portable_math.h"
#include "core/world.h"

namespace {

double wrapped(double angle) {
  return std::remainder(angle, kTwoPi);
}

}  // namespace

void robot_observation(const robot_state& robot, const world_state& world,
                       const double (&sensor_value)[kNumSensors],
                       const bool (&sensor_hit)[kNumSensors], double grad_angle, float* out) {
  for (int i = 0; i < kNumSensors; ++i) {
    out[i] = static_cast<float>(sensor_value[i]);
    out[kNumSensors + i] = sensor_hit[i] ? 1.0f : 0.0f;
  }
  const double dx = world.target_x - robot.x;
  const double dy = world.target_y - robot.y;
  out[kObservationTargetDistance] = static_cast<float>(vect_mag(dx, dy));
  out[kObservationTargetBearing] = static_cast<float>(wrapped(portable_atan2(dy, dx) - robot.heading));
  out[kObservationFieldBearing] = static_cast<float>(wrapped(grad_angle - robot.heading));
}

void robot_observation(const robot_state& robot, const world_state& world, float* out) {
  robot_observation(robot, world, robot.sensor_value, robot.sensor_hit, robot.grad_angle, out);
}
