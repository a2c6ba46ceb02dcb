// The world record: extent, walls, waypoints, impacts, markers, target, field
// gains, display switches, the navigation grid and the drawing objects; the
// default world; list operations; conversions between world units and pixels.
#pragma once

#include <cstdint>
#include <functional>

#include "core/draw_object.h"

struct simulation;

constexpr int kMapSize = 75;

struct wall_node {
  double x;       // left edge
  double y;       // top edge
  double width;   // extent along x
  double height;  // extent along y
  wall_node* next;
};

struct waypoint_node {
  double x;
  double y;
  double angle;  // direction handed over by the planner; nothing reads it
  std::int32_t index;
  waypoint_node* next;
};

struct impact_node {
  double x;
  double y;
  impact_node* next;
};

struct marker_node {
  double x;
  double y;
  marker_node* next;
};

struct world_state {
  draw_object white_brush;
  draw_object black_brush;
  draw_object green_brush;
  draw_object blue_brush;
  draw_object red_brush;
  draw_object wall_brush;
  draw_object white_pen;
  draw_object black_pen;
  draw_object green_pen;
  draw_object blue_pen;
  draw_object wall_pen;
  double width;
  double height;
  wall_node* walls;
  std::int32_t num_walls;
  waypoint_node* waypoints;
  std::int32_t num_waypoints;
  std::int32_t cur_waypoint;
  marker_node* markers;
  impact_node* impacts;
  std::int32_t num_impacts;
  bool show_walls;
  double target_x;
  double target_y;
  bool target_set;
  bool show_grad;
  double scale1;                         // impact repulsion gain
  double scale2;                         // waypoint attraction gain
  double scale3;                         // grid navigation gain
  std::int32_t map[kMapSize][kMapSize];  // [i along x][j along y]
};

// Copies the lists of `from` into `to`, node for node in the same order, for a
// copy of a simulation; `to`'s own lists must be empty or already owned elsewhere.
void world_copy_lists(const world_state& from, world_state& to);
// Frees every list node of the record (a simulation's end).
void world_free_lists(world_state& world);

// Resets the world to the default 10 x 10 world with four boundary walls,
// re-initialises the robot and runs a planning run.
void world_setup(simulation& sim);
// Empties every list and releases the eleven drawing objects.
void world_destroy(simulation& sim);
// One simulation step.
void world_update(simulation& sim);

void world_add_wall(simulation& sim, double x, double y, double width, double height);
void world_add_waypoint(simulation& sim, double x, double y, double angle);
void world_add_marker(simulation& sim, double x, double y);
// Adds an impact unless one lies closer than 0.1; an accepted impact replans.
void world_add_impact(simulation& sim, double x, double y);
// Receives every point offered to world_add_impact, accepted or not, in order;
// none by default. Lets a test compare the impacts two forms of vision offer.
using impact_offer_watcher = std::function<void(double x, double y)>;
void world_watch_impact_offers(simulation& sim, impact_offer_watcher watcher);
// Moves the target and replans.
void world_set_target(simulation& sim, double x, double y);

// Changes a wall's extent in place (a wall being dragged out with the mouse).
// Every change of a wall in the list goes through here, so that vision's index of
// the walls stays true.
void world_resize_wall(simulation& sim, wall_node* wall, double width, double height);

void world_free_walls(simulation& sim);
void world_free_waypoints(simulation& sim);
void world_free_impacts(simulation& sim);
void world_free_markers(simulation& sim);

// 1 when the point lies in or on some wall, else 0.
int world_check_wall_point(simulation& sim, double x, double y);

// World units to pixels of the simulation's client area (display_x by
// display_y), truncated toward zero. Values that do not fit an int (NaN,
// infinities, huge coordinates) saturate; NaN gives 0.
int get_screen_x(const simulation& sim, double x);
int get_screen_y(const simulation& sim, double y);
// Pixels to world units. A zero-sized client area gives 0 instead of NaN.
double get_world_x(const simulation& sim, unsigned int px);
double get_world_y(const simulation& sim, unsigned int py);

struct pixel_rect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};
// Pixel rectangle of a w x h box centred on (cx, cy).
void get_bounding_rect(const simulation& sim, double cx, double cy, double w, double h,
                       pixel_rect& r);
