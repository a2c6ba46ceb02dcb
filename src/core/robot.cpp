#include "core/robot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/automode.h"
#include "core/map.h"
#include "core/portable_math.h"
#include "core/simulation.h"
#include "core/wall_index.h"
#include "core/world.h"
#include "core/world_field.h"

namespace {

// A planning run follows every tick except those of the second after the robot
// arrived at a waypoint: in that second cur_waypoint keeps counting down along
// the path planned before.
constexpr double kNoReplanAfterWaypointSeconds = 1.0;
constexpr double kNoHit = 2.0;        // vision distance when nothing is met within range
constexpr double kImpactRange = 1.0;  // crossings closer than this become impacts
// Longest move of a tick at the automatic mode's speeds (top speed 0.07 and a push).
constexpr double kLongestStep = 0.1;
constexpr double kSixthOfPi = 0.5235987755982988;
constexpr int kPushRays = 12;

using direction = ray_direction;

// The cosine and sine of a ray's angle, computed once for every use of the ray.
[[gnu::always_inline]] inline direction direction_of(simulation& sim, double angle) {
  ray_direction_memo& memo = *sim.ray_directions;
  const std::uint64_t bits = bits_of(angle);
  for (int k = 0; k < memo.used; ++k) {
    if (memo.angle_bits[k] == bits) return memo.values[k];
  }
  double c = portable_cos(angle);
  double s = portable_sin(angle);
  // The library writes the pair through memory one value at a time; reading it
  // back as one 16-byte value stalled on store forwarding. Take each on its own.
#if defined(__x86_64__) || defined(__i386__)
  asm("" : "+x"(c));
  asm("" : "+x"(s));
#endif
  const direction u{c, s};
  memo.angle_bits[memo.next] = bits;
  memo.values[memo.next] = u;
  memo.next = (memo.next + 1) % ray_direction_memo::kSize;
  if (memo.used < ray_direction_memo::kSize) ++memo.used;
  return u;
}

bool probe_blocked(simulation& sim, double x, double y, direction u, double dist);
double vision_along(simulation& sim, double x, double y, direction u, bool& seen, point& hit);

// True when both values lie strictly on the same side of the crossing.
bool both_beyond(double a, double b, double crossing) {
  return (a > crossing && b > crossing) || (a < crossing && b < crossing);
}

double sensor_angle(const robot_state& robot, int i) {
  return robot.heading - kPi / 3 + i * kPi / 3;
}

void handle_target_reached(simulation& sim) {
  const robot_state& robot = sim.robot;
  const world_state& world = sim.world;
  const double dx = robot.x - world.target_x;
  const double dy = robot.y - world.target_y;
  if (vect_mag(dx, dy) < kTargetReachedDistance) {
    // y is drawn before x. The order of the draws decides every later random
    // number, so swapping them would change every run.
    const double ty = f_rand(sim, 1, world.height - 1);
    const double tx = f_rand(sim, 1, world.width - 1);
    world_set_target(sim, tx, ty);
  }
}

void count_waypoints(simulation& sim) {
  robot_update_memory& memory = sim.robot_memory;
  point v;
  compute_waypoint_vector(sim, sim.robot.x, sim.robot.y, v);
  if (vect_mag(v.x, v.y) < sim.robot.diameter && sim.world.cur_waypoint > 0) {
    memory.last_waypoint_time = get_time(sim);
    --sim.world.cur_waypoint;
  }
  if (get_time(sim) - memory.last_waypoint_time > kNoReplanAfterWaypointSeconds) {
    world_compute_map_grid(sim);
  }
}

void read_sensors(simulation& sim) {
  robot_state& robot = sim.robot;
  const double probe = robot.sensor_dist + robot.sensor_size / 2;
  for (int i = 0; i < kNumSensors; ++i) {
    const direction u = direction_of(sim, sensor_angle(robot, i));
    robot.sensor_hit[i] = probe_blocked(sim, robot.x, robot.y, u, probe);
    const double d =
        vision_along(sim, robot.x, robot.y, u, robot.vision_seen[i], robot.vision_point[i]);
    robot.sensor_value[i] = 2 - d;
  }
}

// Three single corrections in this order, as the rule gives them, not a modulo or
// a loop: an error more than a turn off stays out of (-pi, pi], and the automatic
// mode steers by these exact values.
void update_heading_error(robot_state& robot) {
  double e = robot.grad_angle - robot.heading;
  if (e > kTwoPi) e -= kTwoPi;
  if (e < 0) e += kTwoPi;
  if (e > kPi) e -= kTwoPi;
  robot.heading_error = e;
}

void turn_and_step(simulation& sim) {
  robot_state& robot = sim.robot;
  robot.heading += robot.turn;
  if (robot.heading > kPi) robot.heading -= kTwoPi;
  if (robot.heading < -kPi) robot.heading += kTwoPi;
  const direction u = direction_of(sim, robot.heading);
  robot.vel_x = robot.speed * u.c;
  robot.vel_y = robot.speed * u.s;
}

// Observation only: the simulation never reads last_push_back. A distance of -1
// (no walls at all) met no wall and is left out.
void note_push_back_ray(push_back_observation& last_push_back, double distance, double radius) {
  if (distance < 0) return;
  if (distance < radius) last_push_back.wall_pushed = true;
  last_push_back.least_distance = std::min(last_push_back.least_distance, distance);
}

// Twelve rays from the candidate position; each wall closer than the body's
// radius pushes the step back along its ray.
void push_back_from_walls(simulation& sim) {
  robot_state& robot = sim.robot;
  const double nx = robot.x + robot.vel_x;
  const double ny = robot.y + robot.vel_y;
  const double radius = robot.diameter / 2;
  sim.last_push_back = push_back_observation{};
  for (int k = 0; k < kPushRays; ++k) {
    const direction u = direction_of(sim, robot.heading + k * kSixthOfPi);
    bool seen = false;
    point hit;
    const double d = vision_along(sim, nx, ny, u, seen, hit);
    note_push_back_ray(sim.last_push_back, d, radius);
    if (d < radius) {
      const double p = radius - d;
      robot.vel_x -= p * u.c;
      robot.vel_y -= p * u.s;
    }
  }
}

bool move_crosses_a_wall(simulation& sim, point from, point to);

// The step with its push-back, shortened when the push-back overshot: a wall that
// slipped between the twelve rays deep into the body is pushed out by its whole
// depth along several rays at once, which can fling the robot across a room in
// one tick. No move is longer than twice the commanded step or kLongestStep; every
// shorter move is the step itself, bit for bit.
point pushed_position(simulation& sim) {
  const robot_state& robot = sim.robot;
  const double limit = std::max(kLongestStep, 2 * std::fabs(robot.speed));
  const double length = vect_mag(robot.vel_x, robot.vel_y);
  if (!(length > limit)) return {robot.x + robot.vel_x, robot.y + robot.vel_y};
  sim.last_push_back.step_shortened = true;
  const double scale = limit / length;
  return {robot.x + robot.vel_x * scale, robot.y + robot.vel_y * scale};
}

// Moves and keeps the centre inside the world (a NaN position, from a hostile
// world file, becomes the bound), unless the move would cross a wall.
void move_and_clamp(simulation& sim) {
  robot_state& robot = sim.robot;
  const point moved = clamped_into_world(robot, sim.world, pushed_position(sim));
  const point from{robot.x, robot.y};
  const point held = clamped_into_world(robot, sim.world, from);
  const bool starts_inside = same_bits(held.x, from.x) && same_bits(held.y, from.y);
  if (starts_inside && move_crosses_a_wall(sim, from, moved)) {
    sim.last_push_back.crossing_prevented = true;
    return;
  }
  robot.x = moved.x;
  robot.y = moved.y;
}

void leave_marker(simulation& sim) {
  const robot_state& robot = sim.robot;
  robot_update_memory& memory = sim.robot_memory;
  const double dx = memory.last_x - robot.x;
  const double dy = memory.last_y - robot.y;
  if (dx * dx + dy * dy > robot.diameter * robot.diameter * kMarkerSpacingSquared) {
    memory.last_x = robot.x;
    memory.last_y = robot.y;
    world_add_marker(sim, robot.x, robot.y);
  }
}

// Side s (0 to 3) of a box, in the order the box test takes them.
line box_side(const line& box, int s) {
  switch (s) {
    case 0:
      return {box.x1, box.y1, box.x2, box.y1};
    case 1:
      return {box.x1, box.y2, box.x2, box.y2};
    case 2:
      return {box.x1, box.y1, box.x1, box.y2};
    default:
      return {box.x2, box.y1, box.x2, box.y2};
  }
}

line wall_box(const wall_node* wall) {
  return line{wall->x, wall->y, wall->x + wall->width, wall->y + wall->height};
}

// The bodies of check_intersect and check_box_intersect, inlined where vision
// calls them many times a tick: passing a side or a box by value through memory
// stalled every call on store forwarding. The arithmetic is the same, operation
// for operation, so the results are the same bits.
[[gnu::always_inline]] inline bool lines_cross(const line& a, const line& b, point& hit) {
  const double p1 = a.y2 - a.y1;
  const double q1 = a.x1 - a.x2;
  const double r1 = a.x2 * a.y1 - a.x1 * a.y2;
  const double p2 = b.y2 - b.y1;
  const double q2 = b.x1 - b.x2;
  const double r2 = b.x2 * b.y1 - b.x1 * b.y2;
  const double d = p1 * q2 - q1 * p2;
  if (d == 0) return false;
  const double px = (q1 * r2 - r1 * q2) / d;
  const double py = (r1 * p2 - p1 * r2) / d;
  hit = point{px, py};
  // A segment constant along an axis skips that axis's range test.
  if (a.x1 != a.x2 && both_beyond(a.x1, a.x2, px)) return false;
  if (a.y1 != a.y2 && both_beyond(a.y1, a.y2, py)) return false;
  if (b.x1 != b.x2 && both_beyond(b.x1, b.x2, px)) return false;
  if (b.y1 != b.y2 && both_beyond(b.y1, b.y2, py)) return false;
  return true;
}

[[gnu::always_inline]] inline double box_crossing(simulation& sim, const line& ray, const line& box,
                                                  point& hit) {
  point crossing[4];
  bool crossed[4];
  double dist[4];
  for (int s = 0; s < 4; ++s) {
    crossed[s] = lines_cross(ray, box_side(box, s), crossing[s]);
    dist[s] = crossed[s] ? vect_mag(crossing[s].x - ray.x1, crossing[s].y - ray.y1) : kNoHit;
  }
  // Nearest crossing; equal distances go to the later side, distance 0 is passed over.
  double best = sim.world.width + sim.world.height;
  int chosen = 0;
  for (int s = 0; s < 4; ++s) {
    if (dist[s] > 0 && dist[s] <= best) {
      best = dist[s];
      chosen = s;
    }
  }
  if (dist[chosen] < kImpactRange) world_add_impact(sim, crossing[chosen].x, crossing[chosen].y);
  if (crossed[chosen]) hit = crossing[chosen];
  return dist[chosen];
}

// The nearest report so far, with equal distances going to the later (older)
// wall: the choice over all walls, made in one pass.
struct nearest_wall {
  explicit nearest_wall(double limit) : best(limit) {}
  double best;
  bool chosen = false;
  double distance = 0.0;
  point crossing;

  void offer(double d, const point& q) {
    if (d > 0 && d <= best) {
      best = d;
      chosen = true;
      distance = d;
      crossing = q;
    }
  }
};

// One wall's report, folded into the choice; a crossing nearer than 2 is seen.
double test_wall(simulation& sim, const line& ray, const wall_node* wall, nearest_wall& nearest,
                 bool& seen, point& hit) {
  point crossing;
  const double d = box_crossing(sim, ray, wall_box(wall), crossing);
  if (d > 0 && d < kNoHit) {
    hit = crossing;
    seen = true;
  }
  nearest.offer(d, crossing);
  return d;
}

double vision_result(const nearest_wall& nearest, point& hit) {
  if (!nearest.chosen) return -1;
  if (nearest.distance < kNoHit) hit = nearest.crossing;
  return nearest.distance;
}

// Every wall in list order.
double vision_over_every_wall(simulation& sim, const line& ray, bool& seen, point& hit) {
  nearest_wall nearest(sim.world.width + sim.world.height);
  for (const wall_node* wall = sim.world.walls; wall != nullptr; wall = wall->next) {
    test_wall(sim, ray, wall, nearest, seen, hit);
  }
  return vision_result(nearest, hit);
}

// For a wall out of the ray's reach (every crossing it can report lies beyond
// 2): whether one of its sides is missed, so that the box test reports 2 for it
// (a missed side counts 2, every crossed one more, and the index serves only
// worlds where 2 is within width + height) and offers no impact. The same segment
// tests the box test makes, stopped at the first miss.
bool far_wall_misses_a_side(const line& ray, const wall_node* wall) {
  const line box = wall_box(wall);
  point crossing;
  for (int s = 0; s < 4; ++s) {
    if (!lines_cross(ray, box_side(box, s), crossing)) return true;
  }
  return false;
}

// Only the walls that can report a crossing nearer than 2, in list order: they
// give every impact and every result below 2. Every other wall reports 2, or,
// for a ray through two opposite corners of its box, a crossing beyond 2, and
// offers no impact. So with nothing nearer than 2 the result is 2 as soon as any
// wall reports exactly 2; only when none of the near walls does are the others
// asked, in list order, until one does (almost always the first).
double vision_over_near_walls(simulation& sim, const line& ray,
                              const std::vector<const wall_node*>& near, bool& seen, point& hit) {
  nearest_wall nearest(sim.world.width + sim.world.height);
  bool some_two = false;
  for (const wall_node* wall : near) {
    if (test_wall(sim, ray, wall, nearest, seen, hit) == kNoHit) some_two = true;
  }
  if (nearest.chosen && nearest.distance < kNoHit) return vision_result(nearest, hit);
  if (some_two) return kNoHit;
  std::size_t next_near = 0;
  for (const wall_node* wall = sim.world.walls; wall != nullptr; wall = wall->next) {
    if (next_near < near.size() && near[next_near] == wall) {
      ++next_near;
      continue;
    }
    if (far_wall_misses_a_side(ray, wall)) return kNoHit;
    if (test_wall(sim, ray, wall, nearest, seen, hit) == kNoHit) return kNoHit;
  }
  return vision_result(nearest, hit);
}

}  // namespace

point clamped_into_world(const robot_state& robot, const world_state& world, point p) {
  p.x = std::max(robot.size_x / 2, p.x);
  p.x = std::min(world.width - robot.size_x / 2, p.x);
  p.y = std::max(robot.size_y / 2, p.y);
  p.y = std::min(world.height - robot.size_y / 2, p.y);
  return p;
}

void robot_init(simulation& sim) {
  robot_state& robot = sim.robot;
  const world_state& world = sim.world;
  robot.aux_count = kAuxCount;
  robot.num_sensors = kNumSensors;
  robot.diameter = robot.size_x = robot.size_y = kRobotDiameter;
  robot.sensor_dist = kSensorDistance;
  robot.sensor_size = kSensorSize;
  robot.x = f_rand(sim, 0.5, world.width - 0.5);
  robot.y = f_rand(sim, robot.size_y, world.height - robot.size_y);
  robot.heading = f_rand(sim, 0, kTwoPi);
  robot.motion_speed = robot.motion_turn = 0;
  for (int i = 0; i < kNumSensors; ++i) {
    robot.sensor_hit[i] = false;
    robot.vision_seen[i] = false;
  }
  robot.show_vision = false;
}

void robot_update(simulation& sim) {
  robot_state& robot = sim.robot;
  handle_target_reached(sim);
  compute_grad_point(sim, robot.x, robot.y, robot.grad_angle, robot.grad_mag);
  count_waypoints(sim);
  read_sensors(sim);
  update_heading_error(robot);
  if (!sim.manual_mode) robot_auto_mode(sim);
  turn_and_step(sim);
  push_back_from_walls(sim);
  move_and_clamp(sim);
  leave_marker(sim);
}

void robot_motion(simulation& sim, double speed, double turn) {
  sim.robot.motion_speed = speed;
  sim.robot.motion_turn = turn;
}

bool check_intersect(line a, line b, point& hit) {
  return lines_cross(a, b, hit);
}

double check_box_intersect(simulation& sim, line ray, line box, point& hit) {
  return box_crossing(sim, ray, box, hit);
}

bool check_sensor(simulation& sim, double x, double y, double angle, double dist) {
  return probe_blocked(sim, x, y, direction_of(sim, angle), dist);
}

double check_vision(simulation& sim, double x, double y, double angle, bool& seen, point& hit) {
  return vision_along(sim, x, y, direction_of(sim, angle), seen, hit);
}

namespace {

bool probe_blocked(simulation& sim, double x, double y, direction u, double dist) {
  const double px = x + dist * u.c;
  const double py = y + dist * u.s;
  return world_check_wall_point(sim, px, py) != 0 || px < 0 || px > sim.world.width || py < 0 ||
         py > sim.world.height;
}

double vision_along(simulation& sim, double x, double y, direction u, bool& seen, point& hit) {
  const world_state& world = sim.world;
  // The ray reaches width * height (the product, not the diagonal), while the
  // nearest-wall choice starts from width + height: both are the rule. In a small
  // world (1 x 1: a ray of 1, a choice from 2) they decide which walls a ray meets
  // and so which impacts it records.
  const double length = world.width * world.height;
  const line ray{x, y, x + length * u.c, y + length * u.s};
  seen = false;
  if (world.walls == nullptr) return -1;
  const std::vector<const wall_node*>* near = wall_index_ray_candidates(sim, ray, u.c, u.s);
  if (near == nullptr) return vision_over_every_wall(sim, ray, seen, hit);
  return vision_over_near_walls(sim, ray, *near, seen, hit);
}

// Whether the segment from `from` to `to` meets the closed box [x0, x1] x [y0, y1]
// (Liang and Barsky's clipping: the segment's parameter range inside each slab).
bool segment_meets_box(point from, point to, double x0, double y0, double x1, double y1) {
  double t0 = 0.0;
  double t1 = 1.0;
  const auto clip = [&t0, &t1](double start, double delta, double lo, double hi) {
    if (delta == 0.0) return start >= lo && start <= hi;
    double a = (lo - start) / delta;
    double b = (hi - start) / delta;
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
    return t0 <= t1;
  };
  return clip(from.x, to.x - from.x, x0, x1) && clip(from.y, to.y - from.y, y0, y1);
}

// The box a move's path spans.
struct path_bounds {
  double lo_x, lo_y, hi_x, hi_y;
};

// Whether the wall blocks a move from `from` to `to`: its box, which does not
// hold `from`, meets the path. Walls with values that are not finite (a hostile
// file) block nothing.
bool wall_blocks(const wall_node* wall, point from, point to, const path_bounds& path) {
  const double right = wall->x + wall->width;
  const double bottom = wall->y + wall->height;
  // Most walls are far from the path: a few comparisons set them aside (a NaN
  // fails them too).
  if (!((wall->x >= path.lo_x || right >= path.lo_x) &&
        (wall->x <= path.hi_x || right <= path.hi_x) &&
        (wall->y >= path.lo_y || bottom >= path.lo_y) &&
        (wall->y <= path.hi_y || bottom <= path.hi_y))) {
    return false;
  }
  const double x0 = std::min(wall->x, right);
  const double x1 = std::max(wall->x, right);
  const double y0 = std::min(wall->y, bottom);
  const double y1 = std::max(wall->y, bottom);
  if (!(std::isfinite(x0) && std::isfinite(x1) && std::isfinite(y0) && std::isfinite(y1))) {
    return false;
  }
  if (from.x >= x0 && from.x <= x1 && from.y >= y0 && from.y <= y1) return false;
  return segment_meets_box(from, to, x0, y0, x1, y1);
}

bool move_crosses_a_wall(simulation& sim, point from, point to) {
  const double dx = to.x - from.x;
  const double dy = to.y - from.y;
  if (dx == 0.0 && dy == 0.0) return false;
  if (!(std::isfinite(from.x) && std::isfinite(from.y) && std::isfinite(to.x) &&
        std::isfinite(to.y))) {
    return false;
  }
  const path_bounds path{std::min(from.x, to.x), std::min(from.y, to.y), std::max(from.x, to.x),
                         std::max(from.y, to.y)};
  // Among many walls, only those the index lists along the path, when it is
  // short enough for the index (a wall the path meets has a side the path
  // crosses within its length); else every wall.
  constexpr int kWallsForIndex = 24;  // fewer are quicker to test one by one
  const double length = sim.world.num_walls > kWallsForIndex ? vect_mag(dx, dy) : 0.0;
  if (sim.world.num_walls > kWallsForIndex && length < kWallIndexReach / 2) {
    const double ux = dx / length;
    const double uy = dy / length;
    const auto* near =
        wall_index_ray_candidates(sim, line{from.x, from.y, from.x + ux, from.y + uy}, ux, uy);
    if (near != nullptr) {
      for (const wall_node* wall : *near) {
        if (wall_blocks(wall, from, to, path)) return true;
      }
      return false;
    }
  }
  for (const wall_node* wall = sim.world.walls; wall != nullptr; wall = wall->next) {
    if (wall_blocks(wall, from, to, path)) return true;
  }
  return false;
}

}  // namespace
