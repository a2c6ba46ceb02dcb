// What a program that drives the robot sees of it: fifteen values, the same for
// the Python environments and the web page's controllers.
//   0..5   sensor_value of the six sensors (2 minus the vision distance)
//   6..11  sensor_hit of the six touch probes, 0 or 1
//   12     distance from the robot to the target, world units
//   13     bearing of the target in the robot's frame: its direction minus the
//          heading, wrapped into -pi..pi (positive: clockwise on the screen)
//   14     bearing of the field: grad_angle minus the heading, wrapped likewise
#pragma once

#include "core/robot.h"

struct world_state;

constexpr int kObservationSize = 15;
constexpr int kObservationTargetDistance = 12;
constexpr int kObservationTargetBearing = 13;
constexpr int kObservationFieldBearing = 14;

// Fills out[0..14] from the robot's pose, the target and the given readings (the
// robot record's own, or readings taken afresh).
void robot_observation(const robot_state& robot, const world_state& world,
                       const double (&sensor_value)[kNumSensors],
                       const bool (&sensor_hit)[kNumSensors], double grad_angle, float* out);
// The same with the readings of the robot record.
void robot_observation(const robot_state& robot, const world_state& world, float* out);
