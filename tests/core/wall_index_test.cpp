// Vision and the point-in-wall test over the wall index give bit for bit what a
// literal scan of every wall gives: distance, seen, hit point, and every impact
// offered to the world in its order, on random and hostile worlds, while walls
// are added, dragged, loaded and freed.
#include "core/wall_index.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/portable_math.h"
#include "core/world_file.h"
#include "test_support.h"

namespace {

// ---------------------------------------------------------------------------
// The literal form, written from the rules of the segment test, the box test and
// vision: every wall, one entry per wall in two scratch arrays, then the choice.

namespace literal {

bool beyond(double a, double b, double c) {
  return (a > c && b > c) || (a < c && b < c);
}

bool segments(line a, line b, point& hit) {
  const double p1 = a.y2 - a.y1, q1 = a.x1 - a.x2, r1 = a.x2 * a.y1 - a.x1 * a.y2;
  const double p2 = b.y2 - b.y1, q2 = b.x1 - b.x2, r2 = b.x2 * b.y1 - b.x1 * b.y2;
  const double d = p1 * q2 - q1 * p2;
  if (d == 0) return false;
  hit.x = (q1 * r2 - r1 * q2) / d;
  hit.y = (r1 * p2 - p1 * r2) / d;
  if (a.x1 != a.x2 && beyond(a.x1, a.x2, hit.x)) return false;
  if (a.y1 != a.y2 && beyond(a.y1, a.y2, hit.y)) return false;
  if (b.x1 != b.x2 && beyond(b.x1, b.x2, hit.x)) return false;
  if (b.y1 != b.y2 && beyond(b.y1, b.y2, hit.y)) return false;
  return true;
}

double box(const world_state& world, line ray, line b, point& hit, std::vector<point>& offers) {
  const line sides[4] = {{b.x1, b.y1, b.x2, b.y1},
                         {b.x1, b.y2, b.x2, b.y2},
                         {b.x1, b.y1, b.x1, b.y2},
                         {b.x2, b.y1, b.x2, b.y2}};
  point q[4];
  bool met[4];
  double dist[4];
  for (int s = 0; s < 4; ++s) {
    met[s] = segments(ray, sides[s], q[s]);
    const double dx = q[s].x - ray.x1;
    const double dy = q[s].y - ray.y1;
    dist[s] = met[s] ? std::sqrt(dx * dx + dy * dy) : 2.0;
  }
  double best = world.width + world.height;
  int chosen = 0;
  for (int s = 0; s < 4; ++s) {
    if (dist[s] > 0 && dist[s] <= best) {
      best = dist[s];
      chosen = s;
    }
  }
  if (dist[chosen] < 1) offers.push_back(q[chosen]);
  if (met[chosen]) hit = q[chosen];
  return dist[chosen];
}

double vision(const world_state& world, double x, double y, double angle, bool& seen, point& hit,
              std::vector<point>& offers) {
  const double length = world.width * world.height;
  const line ray{x, y, x + length * portable_cos(angle), y + length * portable_sin(angle)};
  seen = false;
  std::vector<double> d;
  std::vector<point> q;
  for (const wall_node* w = world.walls; w != nullptr; w = w->next) {
    point qi;
    const double di = box(world, ray, {w->x, w->y, w->x + w->width, w->y + w->height}, qi, offers);
    d.push_back(di);
    q.push_back(qi);
    if (di > 0 && di < 2) {
      hit = qi;
      seen = true;
    }
  }
  if (world.num_walls == 0) return -1;
  double best = world.width + world.height;
  int chosen = -1;
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (d[i] > 0 && d[i] <= best) {
      best = d[i];
      chosen = static_cast<int>(i);
    }
  }
  if (chosen < 0) return -1;
  if (d[chosen] < 2) hit = q[chosen];
  return d[chosen];
}

int point_in_wall(world_state& world, double x, double y) {
  for (const wall_node* w = world.walls; w != nullptr; w = w->next) {
    if (w->x <= x && x <= w->x + w->width && w->y <= y && y <= w->y + w->height) return 1;
  }
  return 0;
}

}  // namespace literal

// ---------------------------------------------------------------------------

std::vector<point> watched_offers;
void watch(double x, double y) {
  watched_offers.push_back({x, y});
}

bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

constexpr point kSentinel{-777.25, 888.5};

class WallIndexTest : public SimulationTest {
 public:
  void SetUp() override {
    SimulationTest::SetUp();
    world_watch_impact_offers(sim, watch);
  }
  void TearDown() override {
    world_watch_impact_offers(sim, nullptr);
    SimulationTest::TearDown();
  }

  // One ray through both forms; reports the first difference. Impacts are
  // cleared now and then so that the world's own bookkeeping stays small (the
  // offers do not depend on it).
  void expect_same_ray(double x, double y, double angle) {
    if (world.num_impacts > 200) world_free_impacts(sim);
    bool seen_ref = true;
    point hit_ref = kSentinel;
    std::vector<point> offers_ref;
    const double d_ref = literal::vision(world, x, y, angle, seen_ref, hit_ref, offers_ref);

    bool seen = true;
    point hit = kSentinel;
    watched_offers.clear();
    const double d = check_vision(sim, x, y, angle, seen, hit);
    ++rays;

    const std::string where = "ray from (" + std::to_string(x) + ", " + std::to_string(y) +
                              ") at " + std::to_string(angle) + " among " +
                              std::to_string(world.num_walls) + " walls";
    ASSERT_TRUE(same(d, d_ref)) << where << ": " << d << " vs " << d_ref;
    ASSERT_EQ(seen, seen_ref) << where;
    ASSERT_TRUE(same(hit.x, hit_ref.x) && same(hit.y, hit_ref.y)) << where;
    ASSERT_EQ(watched_offers.size(), offers_ref.size()) << where;
    for (std::size_t k = 0; k < offers_ref.size(); ++k) {
      ASSERT_TRUE(same(watched_offers[k].x, offers_ref[k].x) &&
                  same(watched_offers[k].y, offers_ref[k].y))
          << where << ", offer " << k;
    }
    if (d_ref > 2) ++beyond_two;
    if (!offers_ref.empty()) ++with_offers;
  }

  void expect_same_point(double x, double y) {
    ASSERT_EQ(world_check_wall_point(sim, x, y), literal::point_in_wall(world, x, y))
        << "point (" << x << ", " << y << ")";
  }

  int rays = 0;
  int beyond_two = 0;
  int with_offers = 0;
};

// A random world of ordinary and hostile walls: small boxes, boxes of zero or
// negative size, copies of earlier walls (equal distances), big boxes, walls far
// outside the world or with values that are not finite, and slivers far from
// the origin whose crossings stray far off their box.
void add_random_walls(simulation& sim, std::mt19937_64& rng, int count) {
  world_state& world = sim.world;
  std::uniform_real_distribution<double> pos(-1.0, 11.0);
  std::uniform_real_distribution<double> size(0.0, 0.6);
  std::uniform_int_distribution<int> kind(0, 99);
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int n = 0; n < count; ++n) {
    const int k = kind(rng);
    const double x = pos(rng);
    const double y = pos(rng);
    if (k < 70) {
      world_add_wall(sim, x, y, size(rng), size(rng));
    } else if (k < 74) {
      world_add_wall(sim, x, y, 0, 0);
    } else if (k < 78) {
      world_add_wall(sim, x, y, k % 2 ? 0.0 : size(rng), k % 2 ? size(rng) : 0.0);
    } else if (k < 81) {
      world_add_wall(sim, x, y, -size(rng), -size(rng));
    } else if (k < 86 && world.walls != nullptr) {
      const wall_node* w = world.walls;
      world_add_wall(sim, w->x, w->y, w->width, w->height);
    } else if (k < 88) {
      world_add_wall(sim, x - 4, y - 4, size(rng) * 15, size(rng) * 15);
    } else if (k < 91) {
      const double far[] = {-1e3, 5e3, 1e6, -1e9, 1e120, -1e200};
      world_add_wall(sim, far[n % 6], y, size(rng), size(rng) * 1e3);
    } else if (k < 93) {
      const double odd[] = {inf, -inf, nan};
      if (n % 2) {
        world_add_wall(sim, odd[n % 3], y, 1, 1);
      } else {
        world_add_wall(sim, x, y, odd[n % 3], 0.5);
      }
    } else if (k < 96) {
      // A sliver: extent far below the last place of its position.
      const double tiny[] = {1e-12, 1e-15, 3e-16, 1e-90, 1e-120};
      world_add_wall(sim, x, y, tiny[n % 5], size(rng) * 3);
    } else {
      // On a lattice, so rays along diagonals pass box corners.
      world_add_wall(sim, std::floor(x), std::floor(y), 0.5, 0.5);
    }
  }
}

// Rays from random starts (inside walls and on their sides too) in random and
// axis directions, aimed at corners of random walls, and a few from far away.
void random_rays(world_state& world, WallIndexTest& t, std::mt19937_64& rng, int count) {
  std::uniform_real_distribution<double> pos(-0.8, 10.8);
  std::uniform_real_distribution<double> turn(-kPi, kPi);
  std::uniform_int_distribution<int> kind(0, 19);
  std::vector<const wall_node*> walls;
  for (const wall_node* w = world.walls; w != nullptr && walls.size() < 5000; w = w->next) {
    walls.push_back(w);
  }
  std::uniform_int_distribution<std::size_t> pick(0, walls.empty() ? 0 : walls.size() - 1);
  const double axes[] = {0.0, kPi / 2, kPi, -kPi / 2, kTwoPi, kPi / 4};
  for (int n = 0; n < count; ++n) {
    double x = pos(rng);
    double y = pos(rng);
    double angle = turn(rng);
    const int k = kind(rng);
    const wall_node* w = walls.empty() ? nullptr : walls[pick(rng)];
    if (k < 4 && w != nullptr && std::isfinite(w->x + w->width + w->y + w->height)) {
      const double cx = (k % 2) ? w->x : w->x + w->width;
      const double cy = (k / 2) ? w->y : w->y + w->height;
      angle = portable_atan2(cy - y, cx - x);  // at a corner
    } else if (k < 6) {
      angle = axes[n % 6];
    } else if (k < 8 && w != nullptr && std::isfinite(w->x + w->y + w->width)) {
      x = (k == 6) ? w->x : w->x + w->width * 0.5;  // on a side or inside
      y = w->y + w->height * 0.5;
    } else if (k == 8) {
      const double far[] = {-50.0, 1e9, -1e300};
      x = far[n % 3];
    }
    t.expect_same_ray(x, y, angle);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST_F(WallIndexTest, RandomWorldsOfEverySizeGiveTheLiteralResultsAndOffers) {
  std::mt19937_64 rng(15);
  const int sizes[] = {0, 1, 2, 3, 5, 8, 20, 60, 200, 1000, 5000, 20000};
  for (int size : sizes) {
    for (int world_number = 0; world_number < 3; ++world_number) {
      world_free_walls(sim);
      add_random_walls(sim, rng, size);
      random_rays(world, *this, rng, 300);
      if (HasFatalFailure()) return;
    }
  }
  // The cases must have come up: offers, and results beyond 2 (corner rays).
  EXPECT_GT(with_offers, 500);
}

// The query, given the direction vision already knows, hands over every wall that
// reports a crossing nearer than 2 or offers an impact, in list order.
TEST_F(WallIndexTest, TheRayQueryHoldsEveryWallThatCanMatterInListOrder) {
  std::mt19937_64 rng(21);
  std::uniform_real_distribution<double> pos(-0.5, 10.5);
  std::uniform_real_distribution<double> turn(-kPi, kPi);
  int checked = 0;
  for (int size : {30, 2000}) {
    world_free_walls(sim);
    add_random_walls(sim, rng, size);
    for (int n = 0; n < 400; ++n) {
      const double x = pos(rng);
      const double y = pos(rng);
      const double angle = n % 8 == 0 ? (n / 8 % 4) * kPi / 2 : turn(rng);
      const double c = portable_cos(angle);
      const double s = portable_sin(angle);
      const double length = world.width * world.height;
      const line ray{x, y, x + length * c, y + length * s};
      std::vector<const wall_node*> must;
      for (const wall_node* w = world.walls; w != nullptr; w = w->next) {
        point q;
        std::vector<point> offers;
        const double d =
            literal::box(world, ray, {w->x, w->y, w->x + w->width, w->y + w->height}, q, offers);
        if (d < 2 || !offers.empty()) must.push_back(w);
      }
      const std::vector<const wall_node*>* list = wall_index_ray_candidates(sim, ray, c, s);
      if (list == nullptr) continue;
      // In list order, so a merge walk finds each wall that must be there.
      std::size_t at = 0;
      for (const wall_node* w : must) {
        while (at < list->size() && (*list)[at] != w) ++at;
        ASSERT_LT(at, list->size()) << "a wall that matters is missing, ray " << n;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 750);  // of 800: nearly every ray gets a list
}

TEST_F(WallIndexTest, OneHundredThousandWallsGiveTheLiteralResults) {
  std::mt19937_64 rng(100000);
  world_free_walls(sim);
  add_random_walls(sim, rng, 100000);
  random_rays(world, *this, rng, 150);
}

TEST_F(WallIndexTest, PointTestAgreesWithTheLiteralScan) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> pos(-4, 14);
  for (int size : {0, 4, 50, 3000}) {
    world_free_walls(sim);
    add_random_walls(sim, rng, size);
    for (int n = 0; n < 3000; ++n) {
      expect_same_point(pos(rng), pos(rng));
      if (HasFatalFailure()) return;
    }
    // Exactly on edges and corners of walls, and far away.
    for (const wall_node* w = world.walls; w != nullptr; w = w->next) {
      expect_same_point(w->x, w->y);
      expect_same_point(w->x + w->width, w->y + w->height);
      expect_same_point(w->x + w->width, w->y);
      if (HasFatalFailure()) return;
    }
    expect_same_point(-1e9, 5);
    expect_same_point(std::numeric_limits<double>::quiet_NaN(), 5);
  }
}

TEST_F(WallIndexTest, RayThroughTwoOppositeCornersOfTheOnlyWallReportsBeyondTwo) {
  // From (-1.061, -1.061) at a quarter turn the ray crosses all four sides of the
  // box (3, 3)-(4, 4); no wall reports 2, so the farther crossing is the result.
  replace_walls(sim, {{3, 3, 1, 1}});
  const double start = -1061 * 0.001;
  bool seen = true;
  point hit = kSentinel;
  const double d = check_vision(sim, start, start, kPi / 4, seen, hit);
  EXPECT_GT(d, 2);
  EXPECT_LT(d, 6);
  EXPECT_FALSE(seen);
  expect_same_ray(start, start, kPi / 4);
  // Any wall that is simply missed brings the result back to 2.
  world_add_wall(sim, 8, 0.5, 0.2, 0.2);
  EXPECT_EQ(check_vision(sim, start, start, kPi / 4, seen, hit), 2);
  expect_same_ray(start, start, kPi / 4);
  // And the corner wall may come first or last in the list.
  replace_walls(sim, {{8, 0.5, 0.2, 0.2}, {3, 3, 1, 1}});
  expect_same_ray(start, start, kPi / 4);
  // Several walls along the diagonal, none missed by the ray: every one of them
  // must be asked, and the nearest crossing beyond 2 is the result.
  replace_walls(sim, {{5, 5, 1, 1}, {3, 3, 1, 1}, {7, 7, 0.5, 0.5}});
  expect_same_ray(start, start, kPi / 4);
  EXPECT_GT(beyond_two, 1);
}

TEST_F(WallIndexTest, ASliverFarAwayThatReportsANearCrossingIsStillAsked) {
  // A wall one last place wide at x = 10: the crossing of its horizontal side is
  // computed from a difference of two nearly equal products and can land several
  // units off the wall. Find a side height and a ray for which the literal scan
  // reports the sliver nearer than 1 (an impact is offered) although its box is
  // more than 2.5 away.
  const double x0 = 10.0;
  const double x1 = std::nextafter(10.0, 20.0);
  bool found = false;
  for (int i = 1; i < 3000 && !found; ++i) {
    const double c = 3 + i * 0.0023;
    const double apparent = -(x1 * c - x0 * c) / (x0 - x1);  // where the side seems to be
    if (!(std::fabs(apparent - c) > 2.5 && apparent > 0.5 && apparent < 9 && c < 9.5)) continue;
    replace_walls(sim, {{x0, c, x1 - x0, 0.5}});
    const double sx = 9.5;
    const double sy = apparent - 0.6;
    const double aim = portable_atan2(apparent - sy, x0 - sx);
    for (int j = -20000; j <= 20000 && !found; ++j) {
      const double angle = aim + j * 5e-16;
      bool seen = false;
      point hit;
      std::vector<point> offers;
      const double d = literal::vision(world, sx, sy, angle, seen, hit, offers);
      if (d < 1 && offers.size() == 1 && vect_mag(x0 - sx, c - sy) > 2.5) {
        found = true;
        expect_same_ray(sx, sy, angle);
        // Among many walls off the ray, one of them just behind its start.
        for (int n = 0; n < 2000; ++n)
          world_add_wall(sim, (n % 40) * 0.2, (n / 40) * 0.2, 0.1, 0.1);
        world_add_wall(sim, sx - 0.3, sy - 0.1, 0.1, 0.2);
        world_add_wall(sim, x0, c, x1 - x0, 0.5);
        expect_same_ray(sx, sy, angle);
        EXPECT_EQ(with_offers, 2);
      }
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(WallIndexTest, EqualDistancesOnSeveralWallsGoToTheOldestAsInTheLiteralScan) {
  // Four copies of one wall, and one sharing its near face: every crossing ties.
  replace_walls(sim,
                {{2, 4, 0.5, 2}, {2, 4, 0.5, 2}, {2, 3, 1, 1.5}, {2, 4, 0.5, 2}, {2, 4, 0.5, 2}});
  for (double y : {4.0, 4.5, 5.0, 5.5, 6.0}) {
    expect_same_ray(1.5, y, 0);
    expect_same_ray(1.5, y, 0.3);
    expect_same_ray(1.5, y, -0.3);
  }
  EXPECT_GT(with_offers, 5);
}

TEST_F(WallIndexTest, FollowsWallsAddedDraggedLoadedAndFreed) {
  std::mt19937_64 rng(3);
  auto check_some_rays = [&] {
    random_rays(world, *this, rng, 40);
    std::uniform_real_distribution<double> pos(-1, 11);
    for (int n = 0; n < 200; ++n) expect_same_point(pos(rng), pos(rng));
  };
  check_some_rays();  // the default world
  // Walls drawn one after the other, each dragged out in steps as the mouse does.
  for (int n = 0; n < 30 && !HasFatalFailure(); ++n) {
    world_add_wall(sim, 0.3 * n, 0.2 * n, 0, 0);
    check_some_rays();
    for (int step = 1; step <= 3; ++step) {
      world_resize_wall(sim, world.walls, 0.2 * step, 0.15 * step);
      check_some_rays();
    }
  }
  // A drag written straight into the newest wall is noticed too.
  world.walls->width = 3;
  world.walls->height = 0.05;
  check_some_rays();
  // An older wall resized.
  world_resize_wall(sim, world.walls->next->next, 4, 4);
  check_some_rays();
  // Many walls at once, as a load does, then a load from text.
  add_random_walls(sim, rng, 3000);
  check_some_rays();
  ASSERT_TRUE(succeeded(world_read_text(sim, "5\n5\n0\n3\n4 4 1 1\n6 4 0.5 2\n1 1 8 0.05\n")));
  check_some_rays();
  // Emptied, then the default world again.
  world_free_walls(sim);
  check_some_rays();
  world_setup(sim);
  check_some_rays();
}

TEST_F(WallIndexTest, OtherWorldExtentsStillGiveTheLiteralResults) {
  std::mt19937_64 rng(11);
  const double extents[][2] = {{20, 5}, {100, 1}, {1, 1}, {0.5, 0.5}, {3, 40}, {1e5, 2}};
  for (const auto& e : extents) {
    world.width = e[0];
    world.height = e[1];
    world_free_walls(sim);
    add_random_walls(sim, rng, 400);
    random_rays(world, *this, rng, 200);
    if (HasFatalFailure()) break;
  }
  world.width = 10;
  world.height = 10;
}

TEST_F(WallIndexTest, RaysOfARunningRobotAmongManyWallsGiveTheLiteralResults) {
  // The positions a driving robot takes: against walls, in corners, between them.
  std::mt19937_64 rng(21);
  world_free_walls(sim);
  world_add_wall(sim, 0, 0, 10, 0.05);
  world_add_wall(sim, 0, 9.95, 10, 0.05);
  world_add_wall(sim, 0, 0, 0.05, 10);
  world_add_wall(sim, 9.95, 0, 0.05, 10);
  add_random_walls(sim, rng, 1500);
  robot.x = 5;
  robot.y = 5;
  for (int tick = 0; tick < 300; ++tick) {
    advance_simulated_clock(sim, 0.01);
    world_update(sim);
    for (int i = 0; i < kNumSensors; ++i) {
      expect_same_ray(robot.x, robot.y, robot.heading - kPi / 3 + i * kPi / 3);
    }
    for (int k = 0; k < 12; ++k) {
      expect_same_ray(robot.x + robot.vel_x, robot.y + robot.vel_y,
                      robot.heading + k * 0.5235987755982988);
    }
    if (HasFatalFailure()) return;
  }
}

}  // namespace
