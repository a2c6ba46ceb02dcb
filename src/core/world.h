// The world record: extent, walls, waypoints, impacts, markers, target, field
// gains, display switches, the navigation grid and the drawing objects; the
// default world; list operations; conversions between world units and pixels.
#pragma once

#include <cstdint>
#include <functional>

#include "core/draw_object.h"
#include "core/utility.h"

struct simulation;

constexpr int kMapSize = 75;
// The grid's values (core/map.h).
constexpr std::int32_t kMapOutside = 255;      // beyond the wavefront or the grid
constexpr std::int32_t kMapBlocked = -1;       // stored value of a blocked cell
constexpr std::int32_t kMapPathMark = 0x4000;  // set on cells of the last path
constexpr std::int32_t kMapValueMask = 0xFFF;  // every read takes the low 12 bits
// The world's extent along each axis: world_setup gives every world 10 x 10.
constexpr double kWorldSide = 10.0;
// The most waypoints a planning run lays out: one per step of a path down the
// wavefront, whose distances end below 255.
constexpr int kMaxWaypoints = 254;

// The nodes of the world's lists. Their descriptions leave out the link; their
// == compares it too (see world_same_state).
struct wall_node {
  double x;       // left edge
  double y;       // top edge
  double width;   // extent along x
  double height;  // extent along y
  wall_node* next;

  // Walls lie anywhere, of any finite size (world files and programs place them).
  template <typename Self, typename Visit>
  static void fields(Self& n, Visit& visit) {
    visit(n.x, "x", kFinite);
    visit(n.y, "y", kFinite);
    visit(n.width, "width", kFinite);
    visit(n.height, "height", kFinite);
  }
  friend bool operator==(const wall_node&, const wall_node&) = default;
};

struct waypoint_node {
  double x;
  double y;
  double angle;  // direction handed over by the planner; nothing reads it
  std::int32_t index;
  waypoint_node* next;

  // A cell's corner of the grid over the world, the direction of its
  // navigation vector, and its place in the list (simulation_data's relations).
  template <typename Self, typename Visit>
  static void fields(Self& n, Visit& visit) {
    visit(n.x, "x", real_limit{0.0, kWorldSide});
    visit(n.y, "y", real_limit{0.0, kWorldSide});
    visit(n.angle, "angle", real_limit{-kPi, kPi});
    visit(n.index, "index", whole_limit{0, kMaxWaypoints - 1});
  }
  friend bool operator==(const waypoint_node&, const waypoint_node&) = default;
};

struct impact_node {
  double x;
  double y;
  impact_node* next;

  // Where a vision ray met a wall: anywhere a wall lies.
  template <typename Self, typename Visit>
  static void fields(Self& n, Visit& visit) {
    visit(n.x, "x", kFinite);
    visit(n.y, "y", kFinite);
  }
  friend bool operator==(const impact_node&, const impact_node&) = default;
};

struct marker_node {
  double x;
  double y;
  marker_node* next;

  // The robot's positions (none is kept: world_add_marker).
  template <typename Self, typename Visit>
  static void fields(Self& n, Visit& visit) {
    visit(n.x, "x", kFinite);
    visit(n.y, "y", kFinite);
  }
  friend bool operator==(const marker_node&, const marker_node&) = default;
};

// A cell of the navigation grid as the planner leaves it (core/map.h): -1
// blocked, or 0 to 255 (the target's cell, the distance to it, beyond the
// wavefront), with or without the mark of the last path, 0x4000.
struct grid_cell_limit {
  constexpr bool admits(std::int32_t cell) const {
    const std::int32_t value = cell & ~kMapPathMark;
    return cell == kMapBlocked || (value >= 0 && value <= kMapOutside);
  }
};

// The drawing objects a world owns, made by world_setup.
constexpr int kWorldDrawingObjects = 11;

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

  // Every field but the lists and their counts, which lists() describes.
  template <typename Self, typename Visit>
  static void fields(Self& w, Visit& visit) {
    visit(w.white_brush, "white_brush");
    visit(w.black_brush, "black_brush");
    visit(w.green_brush, "green_brush");
    visit(w.blue_brush, "blue_brush");
    visit(w.red_brush, "red_brush");
    visit(w.wall_brush, "wall_brush");
    visit(w.white_pen, "white_pen");
    visit(w.black_pen, "black_pen");
    visit(w.green_pen, "green_pen");
    visit(w.blue_pen, "blue_pen");
    visit(w.wall_pen, "wall_pen");
    visit(w.width, "width", exactly(kWorldSide));
    visit(w.height, "height", exactly(kWorldSide));
    // At most the last waypoint's index (simulation_data's relations).
    visit(w.cur_waypoint, "cur_waypoint", whole_limit{0, kMaxWaypoints - 1});
    visit(w.show_walls, "show_walls");
    // Anywhere: a program may place the target outside the world.
    visit(w.target_x, "target_x", kFinite);
    visit(w.target_y, "target_y", kFinite);
    visit(w.target_set, "target_set");
    visit(w.show_grad, "show_grad");
    // Any finite gain: the keys move them by 0.01 and 0.001, programs set any.
    visit(w.scale1, "scale1", kFinite);
    visit(w.scale2, "scale2", kFinite);
    visit(w.scale3, "scale3", kFinite);
    visit(w.map, "map", grid_cell_limit{});
  }
  // The drawing objects are those world_setup makes (world.cpp).
  static void relations(const world_state& w, field_check& check);

  // The lists, head first, with the count each keeps (the markers keep none):
  // walls without limit but memory, the waypoints of one planning run, impacts
  // (which lie at least their merge distance apart: simulation_data's
  // relations) and no markers, which the world is handed but never keeps.
  template <typename Self, typename Visit>
  static void lists(Self& w, Visit& visit) {
    // Named as the simulation, which visits them, reaches them.
    constexpr std::int64_t kAny = std::numeric_limits<std::int32_t>::max();
    visit.list(w.walls, w.num_walls, "world.walls", kAny);
    visit.list(w.waypoints, w.num_waypoints, "world.waypoints", kMaxWaypoints);
    visit.list(w.impacts, w.num_impacts, "world.impacts", kAny);
    visit.list(w.markers, "world.markers", 0);
  }
  // Every member, the lists by their heads (the very same nodes); world_same_state
  // compares what the lists hold.
  friend bool operator==(const world_state&, const world_state&) = default;
};

// The same values and lists that hold the same values in the same order.
bool world_same_state(const world_state& a, const world_state& b);

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

// A size in pixels onto which the world is mapped: the simulation's client
// area (display_x by display_y), or a picture of its own size.
struct screen_size {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// World units to pixels of the simulation's client area (display_x by
// display_y), truncated toward zero. Values that do not fit an int (NaN,
// infinities, huge coordinates) saturate; NaN gives 0.
int get_screen_x(const simulation& sim, double x);
int get_screen_y(const simulation& sim, double y);
// The same onto another screen, the world's extent as it is.
int get_screen_x(const world_state& world, screen_size screen, double x);
int get_screen_y(const world_state& world, screen_size screen, double y);
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
void get_bounding_rect(const world_state& world, screen_size screen, double cx, double cy, double w,
                       double h, pixel_rect& r);
