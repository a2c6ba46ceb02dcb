// The robot: its record, placement, per-tick update, intersection tests and
// sensing. Its drawing lives in draw/robot_draw.h.
#pragma once

#include <cstdint>

#include "core/utility.h"

constexpr int kNumSensors = 6;

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
};

extern robot_state robot;

// Places the robot at random inside the world (walls are not consulted).
void robot_init();
// One tick: target, field, waypoints, replanning, sensing, steering, push-back,
// move, marker trail.
void robot_update();
// Stores its arguments in motion_speed and motion_turn; nothing else.
void robot_motion(double speed, double turn);

// Clears the update's tick-to-tick state (last waypoint arrival and last marker),
// which otherwise lives for the whole run; tests call it between cases.
void robot_reset_update_state();

// Segment test: true when a and b meet; hit receives the crossing of the lines.
bool check_intersect(line a, line b, point& hit);
// Distance from the ray's start to its nearest crossing of the box's sides, or 2;
// a crossing closer than 1 is offered to the world as an impact.
double check_box_intersect(line ray, line box, point& hit);

// Touch probe: the point dist from (x, y) in direction angle lies in a wall or
// outside the world.
bool check_sensor(double x, double y, double angle, double dist);
// Vision ray: distance to the nearest wall met (capped at 2 while any wall is
// missed), -1 with no walls; seen and hit tell where the nearest wall was met.
double check_vision(double x, double y, double angle, bool& seen, point& hit);
