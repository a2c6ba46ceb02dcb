// The world record: extent, walls, waypoints, impacts, markers, target, field
// gains, display switches, the navigation grid and the drawing objects; the
// default world; list operations; conversions between world units and pixels.
#pragma once

#include <cstdint>

#include "core/draw_object.h"

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

extern world_state world;

// The client area's size in pixels, onto which the conversions below map the
// world. The shell sets it (memdc_setup); the simulation only reads it.
extern std::int32_t display_x;
extern std::int32_t display_y;

// Resets the world to the default 10 x 10 world with four boundary walls,
// re-initialises the robot and runs a planning run.
void world_setup();
// Empties every list and releases the eleven drawing objects.
void world_destroy();
// world_destroy, then the record and the display size as at program start (all
// zero). Part of simulation_reset(), which is what callers use.
void world_reset();
// One simulation step.
void world_update();

void world_add_wall(double x, double y, double width, double height);
void world_add_waypoint(double x, double y, double angle);
void world_add_marker(double x, double y);
// Adds an impact unless one lies closer than 0.1; an accepted impact replans.
void world_add_impact(double x, double y);
// Receives every point offered to world_add_impact, accepted or not, in order;
// none by default. Lets a test compare the impacts two forms of vision offer.
using impact_offer_watcher = void (*)(double x, double y);
void world_watch_impact_offers(impact_offer_watcher watcher);
// Moves the target and replans.
void world_set_target(double x, double y);

// Changes a wall's extent in place (a wall being dragged out with the mouse).
// Every change of a wall in the list goes through here, so that vision's index of
// the walls stays true.
void world_resize_wall(wall_node* wall, double width, double height);

void world_free_walls();
void world_free_waypoints();
void world_free_impacts();
void world_free_markers();

// 1 when the point lies in or on some wall, else 0.
int world_check_wall_point(double x, double y);

// World units to pixels of the client area, truncated toward zero. Values that do
// not fit an int (NaN, infinities, huge coordinates) saturate; NaN gives 0.
int get_screen_x(double x);
int get_screen_y(double y);
// Pixels to world units. A zero-sized client area gives 0 instead of NaN.
double get_world_x(unsigned int px);
double get_world_y(unsigned int py);

struct pixel_rect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};
// Pixel rectangle of a w x h box centred on (cx, cy).
void get_bounding_rect(double cx, double cy, double w, double h, pixel_rect& r);
