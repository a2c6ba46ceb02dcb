// The robot: its record, placement, per-tick update, intersection tests and
// sensing. Its drawing lives in draw/robot_draw.h.
#pragma once

#include <cstdint>
#include <limits>

#include "core/utility.h"
#include "core/world.h"

struct simulation;

constexpr int kNumSensors = 6;
// The body and the touch probes, as robot_init makes them.
constexpr double kRobotDiameter = 0.5;
constexpr double kSensorDistance = 0.25;
constexpr double kSensorSize = 0.125;
constexpr int kAuxCount = 5;
// The largest heading, either way, a run keeps: a loaded or placed heading
// beyond it is folded to within half a turn of 0 (core/world_file.h), and a tick
// turns by at most pi and then corrects by a turn, which never carries a heading
// farther from 0 than the larger of it and pi.
constexpr double kLargestHeading = 1000.0;
// A heading error: the field's direction (-pi to pi) minus a heading, with the
// three corrections by a turn (robot.cpp), or what an overflow of the field made it.
constexpr real_limit kHeadingErrorLimit =
    real_limit{-(kLargestHeading + kTwoPi), kLargestHeading + kTwoPi}.or_not_finite();
// Within this distance of the target the robot has reached it and draws a new one.
constexpr double kTargetReachedDistance = 0.3;
// The robot leaves a marker once it is farther than diameter / 8 from the last,
// compared squared: distance^2 > diameter^2 * (1/8)^2, with no square root, which
// could round a border case the other way. The trail keeps its points by the same rule.
constexpr double kMarkerSpacingSquared = 0.015625;

struct robot_state {
  double size_x;
  double size_y;
  double x;
  double y;
  double vel_x;
  double vel_y;
  double heading;
  double turn;   // heading change per tick
  double speed;  // distance per tick
  double sensor_dist;
  double sensor_size;
  std::int32_t num_sensors;
  bool sensor_hit[kNumSensors];
  double sensor_value[kNumSensors];
  std::int32_t aux_count;
  double diameter;
  double motion_speed;
  double motion_turn;
  bool vision_seen[kNumSensors];
  point vision_point[kNumSensors];
  bool show_vision;
  double grad_angle;
  double grad_mag;
  double heading_error;

  // The body and its probes are robot_init's; the pose is any finite place
  // (world files and programs place the robot anywhere, and the next tick brings
  // it into the world); the heading is within kLargestHeading; the readings are
  // those a tick takes in a world of kWorldSide. The values an overflow of the
  // field (gains far too large) can make NaN or infinite are described so: such
  // a run stops at once (first_non_finite_value), and so does its snapshot.
  template <typename Self, typename Visit>
  static void fields(Self& r, Visit& visit) {
    visit(r.size_x, "size_x", exactly(kRobotDiameter));
    visit(r.size_y, "size_y", exactly(kRobotDiameter));
    visit(r.x, "x", kFinite);
    visit(r.y, "y", kFinite);
    visit(r.vel_x, "vel_x", kFinite.or_not_finite());
    visit(r.vel_y, "vel_y", kFinite.or_not_finite());
    visit(r.heading, "heading", real_limit{-kLargestHeading, kLargestHeading}.or_not_finite());
    // The keys' and the automatic mode's turns, or a program's (-pi to pi).
    visit(r.turn, "turn", real_limit{-kPi, kPi}.or_not_finite());
    visit(r.speed, "speed", kFinite);
    visit(r.sensor_dist, "sensor_dist", exactly(kSensorDistance));
    visit(r.sensor_size, "sensor_size", exactly(kSensorSize));
    visit(r.num_sensors, "num_sensors", whole_limit{kNumSensors, kNumSensors});
    visit(r.sensor_hit, "sensor_hit");
    // 2 minus a vision distance: up to width + height, or -1 without walls.
    visit(r.sensor_value, "sensor_value", real_limit{2 - 2 * kWorldSide, 3});
    visit(r.aux_count, "aux_count", whole_limit{kAuxCount, kAuxCount});
    visit(r.diameter, "diameter", exactly(kRobotDiameter));
    // Left as robot_init sets them by everything but robot_motion, which has no callers.
    visit(r.motion_speed, "motion_speed", kFinite);
    visit(r.motion_turn, "motion_turn", kFinite);
    visit(r.vision_seen, "vision_seen");
    visit(r.vision_point, "vision_point", kFinite);
    visit(r.show_vision, "show_vision");
    visit(r.grad_angle, "grad_angle", real_limit{-kPi, kPi}.or_not_finite());
    // The impacts' and the grid's strengths less the waypoint's, with any gains.
    visit(r.grad_mag, "grad_mag", kFinite.or_not_finite());
    visit(r.heading_error, "heading_error", kHeadingErrorLimit);
  }
  friend bool operator==(const robot_state&, const robot_state&) = default;
};

// What the last tick's push-back met, for observers such as the run metrics; the
// simulation itself never reads it. Rays that met no wall (the vision's -1 of a
// world without walls) count for neither field.
struct push_back_observation {
  bool wall_pushed = false;  // some ray met a wall closer than the body's radius
  // The least distance at which a ray met a wall; infinity when none met one.
  double least_distance = std::numeric_limits<double>::infinity();
  // The tick's move would have carried the centre into or through a wall, so the
  // robot stayed where it was (see robot_update).
  bool crossing_prevented = false;
  // The push-back overshot and the step was shortened (see robot_update).
  bool step_shortened = false;

  template <typename Self, typename Visit>
  static void fields(Self& o, Visit& visit) {
    visit(o.wall_pushed, "wall_pushed");
    visit(o.least_distance, "least_distance", kNotNegative.or_infinity());
    visit(o.crossing_prevented, "crossing_prevented");
    visit(o.step_shortened, "step_shortened");
  }
  friend bool operator==(const push_back_observation&, const push_back_observation&) = default;
};

// The update's tick-to-tick state: when the robot last arrived at a waypoint and
// where it left its last marker.
struct robot_update_memory {
  double last_waypoint_time = 0.0;
  double last_x = 0.0;
  double last_y = 0.0;

  // The time is 0 or one of the clock's (simulation_data's relations); the
  // marker's place is one of the robot's.
  template <typename Self, typename Visit>
  static void fields(Self& m, Visit& visit) {
    visit(m.last_waypoint_time, "last_waypoint_time", kNotNegative);
    visit(m.last_x, "last_x", kFinite);
    visit(m.last_y, "last_y", kFinite);
  }
  friend bool operator==(const robot_update_memory&, const robot_update_memory&) = default;
};

// The cosines and sines of the last angles a ray was cast at: a tick's sensor
// rays often have exactly the angles of the previous tick's push-back rays, and
// the first push-back ray has the heading's own angle; the same bits give the
// same values. A cache of the simulation (robot.cpp reads it).
struct ray_direction {
  double c;  // cosine
  double s;  // sine
};
struct ray_direction_memo {
  static constexpr int kSize = 16;
  std::uint64_t angle_bits[kSize] = {};
  ray_direction values[kSize] = {};
  int used = 0;
  int next = 0;
};

// The point the clamp of the robot's move keeps its centre at: inside the world
// by half the body's size on each side. std::max(bound, value) also turns a NaN
// coordinate into the bound.
point clamped_into_world(const robot_state& robot, const world_state& world, point p);

// Places the robot at random inside the world (walls are not consulted).
void robot_init(simulation& sim);
// One tick: target, field, waypoints, replanning, sensing, steering, push-back,
// move, marker trail.
//
// Two rules keep the move sound where the push-back alone does not. A thin wall
// can slip between the twelve push-back rays deep into the body; the pushes that
// throw it out add up along several rays and could fling the robot almost 1 in a
// tick, so a move longer than 0.1 and than twice the commanded step is shortened
// to that length along its own direction. And a move whose straight path from
// the old centre to the new one meets a wall that does not hold the old centre
// (a robot driven at a thin wall faster than the push-back can hold it) is not
// made: the robot stays where it was for that tick (it has turned). Every other
// move is made exactly as before. A centre that starts outside the world (a
// world file) is pulled in by the clamp as before, walls or not.
void robot_update(simulation& sim);
// Kept without callers: stores its arguments in motion_speed and motion_turn;
// nothing else.
void robot_motion(simulation& sim, double speed, double turn);

// Segment test: true when a and b meet; hit receives the crossing of the lines.
bool check_intersect(line a, line b, point& hit);
// Distance from the ray's start to its nearest crossing of the box's sides, or 2;
// a crossing closer than 1 is offered to the world as an impact.
double check_box_intersect(simulation& sim, line ray, line box, point& hit);

// Touch probe: the point dist from (x, y) in direction angle lies in a wall or
// outside the world.
bool check_sensor(simulation& sim, double x, double y, double angle, double dist);
// Vision ray: distance to the nearest wall met (capped at 2 while any wall is
// missed), -1 with no walls; seen and hit tell where the nearest wall was met.
double check_vision(simulation& sim, double x, double y, double angle, bool& seen, point& hit);
