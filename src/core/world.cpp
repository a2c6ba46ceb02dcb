#include "core/world.h"

#include <cmath>
#include <limits>
#include <unordered_map>
#include <vector>

#include "core/impact_array.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/wall_index.h"

world_state world;
std::int32_t display_x = 0;
std::int32_t display_y = 0;

namespace {

constexpr double kBoundaryThickness = 0.05;
constexpr double kImpactMergeDistance = 0.1;  // impacts closer than this merge
// Written out, not squared: 0.1 * 0.1 is not the double 0.01 the test compares with.
constexpr double kImpactMergeDistanceSquared = 0.01;

impact_offer_watcher offer_watcher = nullptr;

// The impacts by square buckets a little wider than the merge distance, so that
// the test "is an impact closer than 0.1" looks at the nine buckets around a
// point instead of the whole list. It is only a yes or no, so the order in which
// impacts are looked at does not matter. Impacts with coordinates beyond
// kBucketedRange (or not finite) are kept apart and always looked at. The buckets
// follow impacts put at the head of the list; anything else fills them afresh.
class impact_buckets {
 public:
  bool any_within_merge_distance(double x, double y) {
    refresh();
    // A ray meets the same spot tick after tick: the impact that answered last
    // time usually answers again, without a look at the buckets. Which impact
    // answers does not matter, only whether any does.
    if (last_close_ != nullptr && close(last_close_, x, y)) return true;
    if (!bucketed(x, y)) return any_in_list(x, y);
    for (const impact_node* impact : outside_) {
      if (close(impact, x, y)) return remember(impact);
    }
    // Only the buckets that come within the merge distance (and a margin far
    // above rounding) along each axis: two at most, as a bucket is wider than
    // that distance. An impact farther along one axis is farther in all.
    const double reach_x = kImpactMergeDistance + 1e-9 + 1e-15 * std::fabs(x);
    const double reach_y = kImpactMergeDistance + 1e-9 + 1e-15 * std::fabs(y);
    const std::int64_t i0 = bucket_of(x - reach_x);
    const std::int64_t i1 = bucket_of(x + reach_x);
    const std::int64_t j0 = bucket_of(y - reach_y);
    const std::int64_t j1 = bucket_of(y + reach_y);
    for (std::int64_t i = i0; i <= i1; ++i) {
      for (std::int64_t j = j0; j <= j1; ++j) {
        const auto found = buckets_.find(key(i, j));
        if (found == buckets_.end()) continue;
        for (const impact_node* impact : found->second) {
          if (close(impact, x, y)) return remember(impact);
        }
      }
    }
    return false;
  }

  void forget() {
    buckets_.clear();
    outside_.clear();
    last_close_ = nullptr;
    head_ = nullptr;
    count_ = 0;
  }

 private:
  static constexpr double kBucketSide = 0.125;  // above the merge distance
  static constexpr double kBucketedRange = 1e9;

  static bool close(const impact_node* impact, double x, double y) {
    const double dx = x - impact->x;
    const double dy = y - impact->y;
    return dx * dx + dy * dy < kImpactMergeDistanceSquared;
  }
  bool any_in_list(double x, double y) {
    for (const impact_node* impact = world.impacts; impact != nullptr; impact = impact->next) {
      if (close(impact, x, y)) return remember(impact);
    }
    return false;
  }
  bool remember(const impact_node* impact) {
    last_close_ = impact;
    return true;
  }
  static bool bucketed(double x, double y) {
    return std::fabs(x) <= kBucketedRange && std::fabs(y) <= kBucketedRange;
  }
  static std::int64_t bucket_of(double v) {
    return static_cast<std::int64_t>(std::floor(v / kBucketSide));
  }
  static std::uint64_t key(std::int64_t i, std::int64_t j) {
    return (static_cast<std::uint64_t>(i) << 32) ^ static_cast<std::uint64_t>(j & 0xFFFFFFFF);
  }
  void add(const impact_node* impact) {
    if (bucketed(impact->x, impact->y)) {
      buckets_[key(bucket_of(impact->x), bucket_of(impact->y))].push_back(impact);
    } else {
      outside_.push_back(impact);
    }
  }
  void refresh() {
    if (world.impacts == head_ && world.num_impacts == count_) return;
    const std::int32_t added = world.num_impacts - count_;
    std::vector<const impact_node*> fresh;
    const impact_node* impact = world.impacts;
    while (added > 0 && impact != nullptr && impact != head_ &&
           static_cast<std::int32_t>(fresh.size()) < added) {
      fresh.push_back(impact);
      impact = impact->next;
    }
    if (added > 0 && impact == head_ && static_cast<std::int32_t>(fresh.size()) == added) {
      for (const impact_node* n : fresh) add(n);
    } else {
      forget();
      for (const impact_node* n = world.impacts; n != nullptr; n = n->next) add(n);
    }
    head_ = world.impacts;
    count_ = world.num_impacts;
  }

  std::unordered_map<std::uint64_t, std::vector<const impact_node*>> buckets_;
  std::vector<const impact_node*> outside_;
  const impact_node* head_ = nullptr;
  std::int32_t count_ = 0;
  const impact_node* last_close_ = nullptr;  // in the list while head_ and count_ hold
};

impact_buckets impact_index;

template <typename Node>
void free_list(Node*& head) {
  while (head != nullptr) {
    Node* next = head->next;
    delete head;
    head = next;
  }
}

void release(draw_object& object) {
  delete_object(object);
  object = draw_object{};  // a second release of the same handle is then harmless
}

void create_drawing_objects() {
  world.white_brush = create_solid_brush(rgb(255, 255, 255));
  world.black_brush = create_solid_brush(rgb(0, 0, 0));
  world.green_brush = create_solid_brush(rgb(0, 255, 0));
  world.blue_brush = create_solid_brush(rgb(0, 0, 255));
  world.red_brush = create_solid_brush(rgb(255, 0, 0));
  world.wall_brush = create_solid_brush(rgb(0, 128, 200));
  world.white_pen = create_pen(1, rgb(255, 255, 255));
  world.black_pen = create_pen(1, rgb(0, 0, 0));
  world.green_pen = create_pen(1, rgb(0, 255, 0));
  world.blue_pen = create_pen(1, rgb(0, 0, 255));
  world.wall_pen = create_pen(1, rgb(0, 128, 200));
}

void release_drawing_objects() {
  release(world.black_brush);
  release(world.white_brush);
  release(world.green_brush);
  release(world.blue_brush);
  release(world.red_brush);
  release(world.wall_brush);
  release(world.white_pen);
  release(world.black_pen);
  release(world.green_pen);
  release(world.blue_pen);
  release(world.wall_pen);
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

}  // namespace

void world_setup() {
  world.width = 10;
  world.height = 10;
  world_destroy();
  create_drawing_objects();

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
  world_add_wall(0, 0, w, t);      // top
  world_add_wall(0, h - t, w, t);  // bottom
  world_add_wall(0, 0, t, h);      // left
  world_add_wall(w - t, 0, t, h);  // right

  robot_init();
  world_compute_map_grid();
}

void world_destroy() {
  world_free_walls();
  world_free_markers();
  world_free_impacts();
  world_free_waypoints();
  release_drawing_objects();
}

void world_reset() {
  world_destroy();
  offer_watcher = nullptr;
  world = world_state{};
  display_x = 0;
  display_y = 0;
}

void world_update() {
  robot_update();
}

void world_add_wall(double x, double y, double width, double height) {
  world.walls = new wall_node{x, y, width, height, world.walls};
  ++world.num_walls;
}

void world_add_waypoint(double x, double y, double angle) {
  world.waypoints = new waypoint_node{x, y, angle, 0, world.waypoints};
  ++world.num_waypoints;
}

void world_add_marker(double /*x*/, double /*y*/) {
  // The trail of markers is handed over but not kept.
}

void world_watch_impact_offers(impact_offer_watcher watcher) {
  offer_watcher = watcher;
}

void world_add_impact(double x, double y) {
  if (offer_watcher != nullptr) offer_watcher(x, y);
  if (impact_index.any_within_merge_distance(x, y)) return;
  world.impacts = new impact_node{x, y, world.impacts};
  ++world.num_impacts;
  world_compute_map_grid();
}

void world_set_target(double x, double y) {
  world.target_set = true;
  world.target_x = x;
  world.target_y = y;
  world_compute_map_grid();
}

void world_resize_wall(wall_node* wall, double width, double height) {
  wall->width = width;
  wall->height = height;
  wall_index_wall_changed(wall);
}

void world_free_walls() {
  free_list(world.walls);
  world.num_walls = 0;
  wall_index_forget();
}

void world_free_waypoints() {
  free_list(world.waypoints);
  world.num_waypoints = 0;
}

void world_free_impacts() {
  impact_index.forget();
  impact_array_forget();
  world_impacts_freed();
  free_list(world.impacts);
  world.num_impacts = 0;
}

void world_free_markers() {
  free_list(world.markers);
}

namespace {

bool wall_holds(const wall_node* wall, double x, double y) {
  return wall->x <= x && x <= wall->x + wall->width && wall->y <= y && y <= wall->y + wall->height;
}

}  // namespace

int world_check_wall_point(double x, double y) {
  constexpr int kWallsForIndex = 16;  // fewer are quicker to test one by one
  const auto* near = world.num_walls > kWallsForIndex ? wall_index_point_candidates(x, y) : nullptr;
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

int get_screen_x(double x) {
  return saturating_trunc(x / world.width * display_x);
}

int get_screen_y(double y) {
  return saturating_trunc(y / world.height * display_y);
}

double get_world_x(unsigned int px) {
  if (display_x <= 0) return 0.0;  // a minimised window has no pixels to map
  return px / static_cast<double>(display_x) * world.width;
}

double get_world_y(unsigned int py) {
  if (display_y <= 0) return 0.0;
  return py / static_cast<double>(display_y) * world.height;
}

void get_bounding_rect(double cx, double cy, double w, double h, pixel_rect& r) {
  r.left = saturating_trunc((cx - w * 0.5) / world.width * display_x);
  r.top = saturating_trunc((cy - h * 0.5) / world.height * display_y);
  r.right = saturating_trunc((cx + w * 0.5) / world.width * display_x);
  r.bottom = saturating_trunc((cy + h * 0.5) / world.height * display_y);
}
