#include "core/world.h"

#include <cmath>
#include <iterator>
#include <limits>
#include <utility>

#include "core/impact_array.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/simulation.h"
#include "core/wall_index.h"

namespace {

constexpr double kBoundaryThickness = 0.05;

template <typename Node>
void free_list(Node*& head) {
  while (head != nullptr) {
    Node* next = head->next;
    delete head;
    head = next;
  }
}

// A copy of the list, node for node in the same order.
template <typename Node>
Node* copy_list(const Node* head) {
  Node* first = nullptr;
  Node** tail = &first;
  for (const Node* node = head; node != nullptr; node = node->next) {
    *tail = new Node(*node);
    (*tail)->next = nullptr;
    tail = &(*tail)->next;
  }
  return first;
}

void release(simulation& sim, draw_object& object) {
  delete_object(sim, object);
  object = draw_object{};  // a second release of the same handle is then harmless
}

// The world's drawing objects, in the order world_setup makes them.
struct drawing_object_made {
  draw_object world_state::*member;
  draw_object_kind kind;
  colour_ref colour;
};
constexpr drawing_object_made kDrawingObjects[] = {
    {&world_state::white_brush, draw_object_kind::brush, rgb(255, 255, 255)},
    {&world_state::black_brush, draw_object_kind::brush, rgb(0, 0, 0)},
    {&world_state::green_brush, draw_object_kind::brush, rgb(0, 255, 0)},
    {&world_state::blue_brush, draw_object_kind::brush, rgb(0, 0, 255)},
    {&world_state::red_brush, draw_object_kind::brush, rgb(255, 0, 0)},
    {&world_state::wall_brush, draw_object_kind::brush, rgb(0, 128, 200)},
    {&world_state::white_pen, draw_object_kind::pen, rgb(255, 255, 255)},
    {&world_state::black_pen, draw_object_kind::pen, rgb(0, 0, 0)},
    {&world_state::green_pen, draw_object_kind::pen, rgb(0, 255, 0)},
    {&world_state::blue_pen, draw_object_kind::pen, rgb(0, 0, 255)},
    {&world_state::wall_pen, draw_object_kind::pen, rgb(0, 128, 200)},
};

static_assert(std::size(kDrawingObjects) == kWorldDrawingObjects);

void create_drawing_objects(simulation& sim) {
  for (const drawing_object_made& made : kDrawingObjects) {
    sim.world.*made.member = made.kind == draw_object_kind::brush
                                 ? create_solid_brush(sim, made.colour)
                                 : create_pen(sim, 1, made.colour);
  }
}

void release_drawing_objects(simulation& sim) {
  world_state& world = sim.world;
  release(sim, world.black_brush);
  release(sim, world.white_brush);
  release(sim, world.green_brush);
  release(sim, world.blue_brush);
  release(sim, world.red_brush);
  release(sim, world.wall_brush);
  release(sim, world.white_pen);
  release(sim, world.black_pen);
  release(sim, world.green_pen);
  release(sim, world.blue_pen);
  release(sim, world.wall_pen);
}

// Truncation toward zero, saturating at the int range; NaN gives 0. Every pixel
// conversion goes through it.
int saturating_trunc(double value) {
  if (std::isnan(value)) return 0;
  // Every double in (-2^31 - 1, 2^31) truncates to a representable int.
  if (value >= 2147483648.0) return std::numeric_limits<int>::max();
  if (value <= -2147483649.0) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

bool wall_holds(const wall_node* wall, double x, double y) {
  return wall->x <= x && x <= wall->x + wall->width && wall->y <= y && y <= wall->y + wall->height;
}

// Node for node the same values, links aside.
template <typename Node>
bool same_list(const Node* a, const Node* b) {
  for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
    Node x = *a;
    Node y = *b;
    x.next = y.next = nullptr;
    if (!(x == y)) return false;
  }
  return a == b;
}

}  // namespace

bool world_same_state(const world_state& a, const world_state& b) {
  world_state values = a;
  values.walls = b.walls;
  values.waypoints = b.waypoints;
  values.impacts = b.impacts;
  values.markers = b.markers;
  return values == b && same_list(a.walls, b.walls) && same_list(a.waypoints, b.waypoints) &&
         same_list(a.impacts, b.impacts) && same_list(a.markers, b.markers);
}

void world_state::relations(const world_state& w, field_check& check) {
  for (const drawing_object_made& made : kDrawingObjects) {
    const draw_object& object = w.*made.member;
    check.require(object.kind == made.kind && object.colour == made.colour,
                  "a drawing object of another kind or colour than the world makes");
    check.require(!object.is_null() && object.id != kStockObjectId,
                  "a drawing object that was never made");
    for (const drawing_object_made& other : kDrawingObjects) {
      check.require(&other == &made || (w.*other.member).id != object.id,
                    "two drawing objects of the same id");
    }
  }
}

void world_copy_lists(const world_state& from, world_state& to) {
  // Nothing of `from` stays in `to`, even if a copy runs out of memory halfway.
  to.walls = nullptr;
  to.waypoints = nullptr;
  to.impacts = nullptr;
  to.markers = nullptr;
  to.walls = copy_list(from.walls);
  to.waypoints = copy_list(from.waypoints);
  to.impacts = copy_list(from.impacts);
  to.markers = copy_list(from.markers);
}

void world_free_lists(world_state& world) {
  free_list(world.walls);
  free_list(world.waypoints);
  free_list(world.impacts);
  free_list(world.markers);
}

void world_setup(simulation& sim) {
  world_state& world = sim.world;
  world.width = kWorldSide;
  world.height = kWorldSide;
  world_destroy(sim);
  create_drawing_objects(sim);

  world.scale1 = 0.11;
  world.scale2 = 0.86;
  world.scale3 = 0.193;
  world.target_x = world.width * 0.5;
  world.target_y = world.height * 0.5;
  world.show_walls = true;

  world.walls = nullptr;
  world.markers = nullptr;
  world.impacts = nullptr;
  world.waypoints = nullptr;
  world.num_walls = 0;
  world.num_waypoints = 0;
  world.cur_waypoint = 0;
  world.show_grad = false;
  world.target_set = true;

  const double w = world.width;
  const double h = world.height;
  const double t = kBoundaryThickness;
  world_add_wall(sim, 0, 0, w, t);      // top
  world_add_wall(sim, 0, h - t, w, t);  // bottom
  world_add_wall(sim, 0, 0, t, h);      // left
  world_add_wall(sim, w - t, 0, t, h);  // right

  robot_init(sim);
  world_compute_map_grid(sim);
}

void world_destroy(simulation& sim) {
  world_free_walls(sim);
  world_free_markers(sim);
  world_free_impacts(sim);
  world_free_waypoints(sim);
  release_drawing_objects(sim);
}

void world_update(simulation& sim) {
  robot_update(sim);
}

void world_add_wall(simulation& sim, double x, double y, double width, double height) {
  world_state& world = sim.world;
  world.walls = new wall_node{x, y, width, height, world.walls};
  ++world.num_walls;
}

void world_add_waypoint(simulation& sim, double x, double y, double angle) {
  world_state& world = sim.world;
  world.waypoints = new waypoint_node{x, y, angle, 0, world.waypoints};
  ++world.num_waypoints;
}

void world_add_marker(simulation& /*sim*/, double /*x*/, double /*y*/) {
  // The trail of markers is handed over but not kept.
}

void world_watch_impact_offers(simulation& sim, impact_offer_watcher watcher) {
  sim.offer_watcher = std::move(watcher);
}

void world_add_impact(simulation& sim, double x, double y) {
  world_state& world = sim.world;
  if (sim.offer_watcher) sim.offer_watcher(x, y);
  if (sim.impact_merge->any_within_merge_distance(world, x, y)) return;
  world.impacts = new impact_node{x, y, world.impacts};
  ++world.num_impacts;
  world_compute_map_grid(sim);
}

void world_set_target(simulation& sim, double x, double y) {
  world_state& world = sim.world;
  world.target_set = true;
  world.target_x = x;
  world.target_y = y;
  world_compute_map_grid(sim);
}

void world_resize_wall(simulation& sim, wall_node* wall, double width, double height) {
  wall->width = width;
  wall->height = height;
  wall_index_wall_changed(sim, wall);
}

void world_free_walls(simulation& sim) {
  free_list(sim.world.walls);
  sim.world.num_walls = 0;
  wall_index_forget(sim);
}

void world_free_waypoints(simulation& sim) {
  free_list(sim.world.waypoints);
  sim.world.num_waypoints = 0;
}

void world_free_impacts(simulation& sim) {
  sim.impact_merge->forget();
  impact_array_forget(sim);
  world_impacts_freed(sim);
  free_list(sim.world.impacts);
  sim.world.num_impacts = 0;
}

void world_free_markers(simulation& sim) {
  free_list(sim.world.markers);
}

int world_check_wall_point(simulation& sim, double x, double y) {
  constexpr int kWallsForIndex = 16;  // fewer are quicker to test one by one
  const world_state& world = sim.world;
  const auto* near =
      world.num_walls > kWallsForIndex ? wall_index_point_candidates(sim, x, y) : nullptr;
  if (near != nullptr) {
    for (const wall_node* wall : *near) {
      if (wall_holds(wall, x, y)) return 1;
    }
    return 0;
  }
  for (const wall_node* wall = world.walls; wall != nullptr; wall = wall->next) {
    if (wall_holds(wall, x, y)) return 1;
  }
  return 0;
}

int get_screen_x(const world_state& world, screen_size screen, double x) {
  return saturating_trunc(x / world.width * screen.width);
}

int get_screen_y(const world_state& world, screen_size screen, double y) {
  return saturating_trunc(y / world.height * screen.height);
}

int get_screen_x(const simulation& sim, double x) {
  return get_screen_x(sim.world, screen_size{sim.display_x, sim.display_y}, x);
}

int get_screen_y(const simulation& sim, double y) {
  return get_screen_y(sim.world, screen_size{sim.display_x, sim.display_y}, y);
}

double get_world_x(const simulation& sim, unsigned int px) {
  if (sim.display_x <= 0) return 0.0;  // a minimised window has no pixels to map
  return px / static_cast<double>(sim.display_x) * sim.world.width;
}

double get_world_y(const simulation& sim, unsigned int py) {
  if (sim.display_y <= 0) return 0.0;
  return py / static_cast<double>(sim.display_y) * sim.world.height;
}

void get_bounding_rect(const world_state& world, screen_size screen, double cx, double cy, double w,
                       double h, pixel_rect& r) {
  r.left = saturating_trunc((cx - w * 0.5) / world.width * screen.width);
  r.top = saturating_trunc((cy - h * 0.5) / world.height * screen.height);
  r.right = saturating_trunc((cx + w * 0.5) / world.width * screen.width);
  r.bottom = saturating_trunc((cy + h * 0.5) / world.height * screen.height);
}

void get_bounding_rect(const simulation& sim, double cx, double cy, double w, double h,
                       pixel_rect& r) {
  get_bounding_rect(sim.world, screen_size{sim.display_x, sim.display_y}, cx, cy, w, h, r);
}
