// Segment and box intersection, touch probes and vision rays: the geometry every
// sensor reading, every impact and the wall push-back rest on.
#include <pthread.h>

#include <cmath>
#include <vector>

#include "core/portable_math.h"
#include "test_support.h"

namespace {

class IntersectTest : public SimulationTest {};
class VisionTest : public SimulationTest {};

constexpr point kUntouched{123.0, 456.0};

line ray_from(double x, double y, double angle, double length = 100.0) {
  return line{x, y, x + length * portable_cos(angle), y + length * portable_sin(angle)};
}

line box_of(double x, double y, double width, double height) {
  return line{x, y, x + width, y + height};
}

std::vector<point> impact_points(world_state& world) {
  std::vector<point> points;
  for (const impact_node* i = world.impacts; i; i = i->next) points.push_back({i->x, i->y});
  return points;
}

// ---------------------------------------------------------------------------
// Segment test

TEST_F(IntersectTest, CrossingSegmentsMeetAtTheirCrossing) {
  point hit = kUntouched;
  EXPECT_TRUE(check_intersect({0, 0, 2, 2}, {0, 2, 2, 0}, hit));
  EXPECT_DOUBLE_EQ(hit.x, 1);
  EXPECT_DOUBLE_EQ(hit.y, 1);
}

TEST_F(IntersectTest, SegmentsThatMeetOnlyWhenExtendedReportFalseWithTheLinesCrossing) {
  point hit = kUntouched;
  // y = x and y = 3 - x cross at (1.5, 1.5), beyond the end of the first segment.
  EXPECT_FALSE(check_intersect({0, 0, 1, 1}, {3, 0, 2, 1}, hit));
  EXPECT_DOUBLE_EQ(hit.x, 1.5);
  EXPECT_DOUBLE_EQ(hit.y, 1.5);
  // The same when the second segment is the one that falls short.
  hit = kUntouched;
  EXPECT_FALSE(check_intersect({3, 0, 0, 3}, {0, 0, 1, 1}, hit));
  EXPECT_DOUBLE_EQ(hit.x, 1.5);
  EXPECT_DOUBLE_EQ(hit.y, 1.5);
}

TEST_F(IntersectTest, ParallelCollinearAndDegenerateSegmentsLeaveTheHitPointUntouched) {
  point hit = kUntouched;
  EXPECT_FALSE(check_intersect({0, 0, 1, 0}, {0, 1, 1, 1}, hit));  // parallel
  EXPECT_FALSE(check_intersect({0, 0, 1, 1}, {2, 2, 3, 3}, hit));  // collinear, apart
  EXPECT_FALSE(check_intersect({0, 0, 2, 0}, {1, 0, 3, 0}, hit));  // collinear, overlapping
  EXPECT_FALSE(check_intersect({1, 1, 1, 1}, {0, 0, 2, 2}, hit));  // a point
  EXPECT_EQ(hit.x, kUntouched.x);
  EXPECT_EQ(hit.y, kUntouched.y);
}

TEST_F(IntersectTest, TouchingSegmentsMeet) {
  point hit;
  // An endpoint on the other segment's interior.
  EXPECT_TRUE(check_intersect({0, 1, 2, 1}, {1, 0, 1, 1}, hit));
  EXPECT_DOUBLE_EQ(hit.x, 1);
  EXPECT_DOUBLE_EQ(hit.y, 1);
  // Two segments sharing an endpoint.
  EXPECT_TRUE(check_intersect({0, 0, 1, 1}, {1, 1, 2, 0}, hit));
  EXPECT_DOUBLE_EQ(hit.x, 1);
  EXPECT_DOUBLE_EQ(hit.y, 1);
}

TEST_F(IntersectTest, EachRangeTestRejectsOnItsOwn) {
  point hit;
  // Beyond the first segment along x only (it is horizontal, so y is not tested).
  EXPECT_FALSE(check_intersect({0, 0, 1, 0}, {2, -1, 2, 1}, hit));
  // Beyond the first segment along y only (vertical).
  EXPECT_FALSE(check_intersect({0, 0, 0, 1}, {-1, 2, 1, 2}, hit));
  // Beyond the second segment along x only.
  EXPECT_FALSE(check_intersect({2, -1, 2, 1}, {0, 0, 1, 0}, hit));
  // Beyond the second segment along y only.
  EXPECT_FALSE(check_intersect({-1, 2, 1, 2}, {0, 0, 0, 1}, hit));
}

TEST_F(IntersectTest, VerticalSegmentEndingOnAHorizontalOneCountsDespiteRounding) {
  // These values make the computed crossing differ from the vertical segment's x
  // in the last bits; the vertical segment's x test is skipped, so it still meets.
  const double c = 71 * 0.000731;
  const double y0 = 0.1 + 71 * 0.0113;
  const line vertical{c, y0, c, 1.7};
  const line horizontal{0.05, 1.7, 4.07, 1.7};
  point hit;
  ASSERT_TRUE(check_intersect(vertical, horizontal, hit));
  ASSERT_NE(hit.x, c) << "no longer a rounding case; pick other values";
  EXPECT_NEAR(hit.x, c, 1e-15);
  EXPECT_EQ(hit.y, 1.7);
  EXPECT_TRUE(check_intersect(horizontal, vertical, hit));
}

TEST_F(IntersectTest, RayCrossingAVerticalSideWithRoundingStillCounts) {
  // A nearly horizontal ray whose computed crossing with x = c is off by an ulp.
  const double a = 15 * 1e-5;
  const double c = 0.1 + 15 * 0.0137;
  const line ray = ray_from(0.3, 0.2, a);
  point hit;
  ASSERT_TRUE(check_intersect(ray, {c, 0, c, 10}, hit));
  ASSERT_NE(hit.x, c) << "no longer a rounding case; pick other values";
}

// ---------------------------------------------------------------------------
// Box test

TEST_F(IntersectTest, RayIntoABoxReturnsTheNearSideAndOffersAnImpact) {
  point hit = kUntouched;
  const double d = check_box_intersect(sim, ray_from(0.5, 0.5, 0), {1, 0, 2, 1}, hit);
  EXPECT_DOUBLE_EQ(d, 0.5);
  EXPECT_DOUBLE_EQ(hit.x, 1);
  EXPECT_DOUBLE_EQ(hit.y, 0.5);
  ASSERT_EQ(world.num_impacts, 1);
  EXPECT_DOUBLE_EQ(world.impacts->x, 1);
  EXPECT_DOUBLE_EQ(world.impacts->y, 0.5);
}

TEST_F(IntersectTest, BoxWhoseNearestCrossingIsBeyondTwoGivesTwoAndNoImpact) {
  point hit;
  EXPECT_EQ(check_box_intersect(sim, ray_from(0.5, 0.5, 0), {4, 0, 5, 1}, hit), 2);
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(IntersectTest, MissedBoxGivesTwoAndNoImpact) {
  point hit;
  EXPECT_EQ(check_box_intersect(sim, ray_from(0.5, 0.5, 0), {1, 2, 2, 3}, hit), 2);
  EXPECT_EQ(check_box_intersect(sim, ray_from(0.5, 0.5, kPi), {1, 0, 2, 1}, hit), 2);  // behind
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(IntersectTest, CrossingFromOneToTwoIsReturnedButNotOfferedAsImpact) {
  point hit;
  EXPECT_DOUBLE_EQ(check_box_intersect(sim, ray_from(0.5, 0.5, 0), {2, 0, 3, 1}, hit), 1.5);
  EXPECT_DOUBLE_EQ(hit.x, 2);
  // Exactly 1 is not below 1.
  EXPECT_EQ(check_box_intersect(sim, ray_from(0.5, 0.5, 0), {1.5, 0, 2.5, 1}, hit), 1);
  EXPECT_EQ(world.num_impacts, 0);
  // Just below 1 is.
  EXPECT_LT(check_box_intersect(sim, ray_from(0.5, 0.5, 0), {1.499, 0, 2.5, 1}, hit), 1);
  EXPECT_EQ(world.num_impacts, 1);
}

TEST_F(IntersectTest, RayThroughTwoOppositeCornersCrossesAllFourSides) {
  point hit = kUntouched;
  const double d = check_box_intersect(sim, {0, 0, 100, 100}, {3, 3, 4, 4}, hit);
  EXPECT_NEAR(d, 3 * std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(hit.x, 3, 1e-12);
  EXPECT_NEAR(hit.y, 3, 1e-12);
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(IntersectTest, CornerCrossingsBeyondTheWorldsSpanFallBackToSideZero) {
  // All four crossings lie beyond width + height = 20, so no side qualifies and
  // side 0, crossed at (15, 15), is the one reported.
  point hit = kUntouched;
  const double d = check_box_intersect(sim, {0, 0, 100, 100}, {15, 15, 16, 16}, hit);
  EXPECT_NEAR(d, 15 * std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(hit.x, 15, 1e-12);
  EXPECT_NEAR(hit.y, 15, 1e-12);
}

TEST_F(IntersectTest, RayStartingOnASidePassesOverDistanceZero) {
  point hit;
  const double d = check_box_intersect(sim, ray_from(1, 0.5, 0), {1, 0, 2, 1}, hit);
  EXPECT_DOUBLE_EQ(d, 1);
  EXPECT_DOUBLE_EQ(hit.x, 2);
}

TEST_F(IntersectTest, RayStartingInsideABoxMeetsItsFarSide) {
  point hit;
  const double d = check_box_intersect(sim, ray_from(1.75, 0.5, 0), {1, 0, 2, 1}, hit);
  EXPECT_DOUBLE_EQ(d, 0.25);
  EXPECT_DOUBLE_EQ(hit.x, 2);
  ASSERT_EQ(world.num_impacts, 1);
  EXPECT_DOUBLE_EQ(world.impacts->x, 2);
}

TEST_F(IntersectTest, BoxCornersMayBeGivenInEitherOrder) {
  point hit;
  EXPECT_DOUBLE_EQ(check_box_intersect(sim, ray_from(0.5, 0.5, 0), {2, 1, 1, 0}, hit), 0.5);
  EXPECT_DOUBLE_EQ(hit.x, 1);
}

// ---------------------------------------------------------------------------
// Touch probe

TEST_F(VisionTest, ProbeOnAWallEdgeIsBlocked) {
  replace_walls(sim, {{0, 4, 0.25, 2}});
  EXPECT_TRUE(check_sensor(sim, 0.5, 5, kPi, 0.25));     // probe at x = 0.25, the edge
  EXPECT_FALSE(check_sensor(sim, 0.5, 5, kPi, 0.2499));  // just outside the wall
  EXPECT_TRUE(check_sensor(sim, 0.5, 5, kPi, 0.4));      // inside it
}

TEST_F(VisionTest, ProbeOnTheWorldsBorderIsNotBlockedButBeyondItIs) {
  world_free_walls(sim);
  EXPECT_FALSE(check_sensor(sim, 9.75, 5, 0, 0.25));  // x = width exactly
  EXPECT_TRUE(check_sensor(sim, 9.75, 5, 0, 0.26));
  EXPECT_FALSE(check_sensor(sim, 5, 9.75, kPi / 2, 0.25));  // y = height exactly
  EXPECT_TRUE(check_sensor(sim, 5, 9.75, kPi / 2, 0.26));
  EXPECT_FALSE(check_sensor(sim, 0.25, 5, kPi, 0.25));  // x = 0
  EXPECT_TRUE(check_sensor(sim, 0.1, 5, kPi, 0.2));
  EXPECT_TRUE(check_sensor(sim, 5, 0.1, -kPi / 2, 0.2));
  EXPECT_FALSE(check_sensor(sim, 5, 5, 1.0, 0.3125));
}

TEST_F(VisionTest, ProbeInTheDefaultWorldsBoundaryWall) {
  EXPECT_TRUE(check_sensor(sim, 0.3, 5, kPi, 0.3125));   // x = -0.0125: in the wall and outside
  EXPECT_TRUE(check_sensor(sim, 0.35, 5, kPi, 0.3125));  // x = 0.0375: in the left wall
  EXPECT_FALSE(check_sensor(sim, 0.4, 5, kPi, 0.3125));  // x = 0.0875
}

// ---------------------------------------------------------------------------
// Vision ray

TEST_F(VisionTest, NoWallsGivesMinusOneAndLeavesTheHitPointUntouched) {
  world_free_walls(sim);
  bool seen = true;
  point hit = kUntouched;
  EXPECT_EQ(check_vision(sim, 5, 5, 0.3, seen, hit), -1);
  EXPECT_FALSE(seen);
  EXPECT_EQ(hit.x, kUntouched.x);
  EXPECT_EQ(hit.y, kUntouched.y);
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(VisionTest, FaceOneAndAHalfAheadIsSeenWithoutAnImpact) {
  world_add_wall(sim, 6.5, 4, 0.5, 2);
  bool seen = false;
  point hit;
  EXPECT_DOUBLE_EQ(check_vision(sim, 5, 5, 0, seen, hit), 1.5);
  EXPECT_TRUE(seen);
  EXPECT_DOUBLE_EQ(hit.x, 6.5);
  EXPECT_DOUBLE_EQ(hit.y, 5);
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(VisionTest, FaceCloserThanOneIsSeenAndOfferedAsAnImpact) {
  world_add_wall(sim, 5.8, 4, 0.5, 2);
  bool seen = false;
  point hit;
  EXPECT_NEAR(check_vision(sim, 5, 5, 0, seen, hit), 0.8, 1e-12);
  EXPECT_TRUE(seen);
  EXPECT_DOUBLE_EQ(hit.x, 5.8);
  ASSERT_EQ(world.num_impacts, 1);
  EXPECT_DOUBLE_EQ(world.impacts->x, hit.x);
  EXPECT_DOUBLE_EQ(world.impacts->y, hit.y);
  // Looking again offers the same point, which the world now merges.
  const auto runs = sim.planner_stats.runs;
  check_vision(sim, 5, 5, 0, seen, hit);
  EXPECT_EQ(world.num_impacts, 1);
  EXPECT_EQ(sim.planner_stats.runs, runs);
}

TEST_F(VisionTest, NothingWithinTwoGivesTwoAndNotSeen) {
  world_add_wall(sim, 8, 4, 0.5, 2);  // 3 ahead
  world_add_wall(sim, 2, 2, 1, 1);    // off the ray
  world_add_wall(sim, 6, 7, 1, 1);    // off the ray
  bool seen = true;
  point hit;
  EXPECT_EQ(check_vision(sim, 5, 5, 0, seen, hit), 2);
  EXPECT_FALSE(seen);
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(VisionTest, DefaultWorldFromTheCentreSeesNothingInAnyDirection) {
  for (int k = 0; k < 12; ++k) {
    bool seen = true;
    point hit;
    EXPECT_EQ(check_vision(sim, 5, 5, k * kPi / 6, seen, hit), 2) << k;
    EXPECT_FALSE(seen);
  }
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(VisionTest, WallsDoNotHideEachOtherFromImpacts) {
  world_add_wall(sim, 5.6, 4, 0.1, 2);  // face 0.6 ahead
  world_add_wall(sim, 5.9, 4, 0.1, 2);  // face 0.9 ahead, behind the first
  world_add_wall(sim, 6.2, 4, 0.1, 2);  // face 1.2 ahead: seen through, but not an impact
  bool seen = false;
  point hit;
  EXPECT_NEAR(check_vision(sim, 5, 5, 0, seen, hit), 0.6, 1e-12);
  EXPECT_TRUE(seen);
  EXPECT_DOUBLE_EQ(hit.x, 5.6);
  EXPECT_DOUBLE_EQ(hit.y, 5);
  const std::vector<point> impacts = impact_points(world);
  ASSERT_EQ(impacts.size(), 2u);
  // Walls are tested from the head (newest) on, so the nearer face comes last.
  EXPECT_DOUBLE_EQ(impacts[0].x, 5.6);
  EXPECT_DOUBLE_EQ(impacts[1].x, 5.9);
}

TEST_F(VisionTest, NearestWallWinsWhateverItsPlaceInTheList) {
  world_add_wall(sim, 5.6, 4, 0.1, 2);
  world_add_wall(sim, 6.5, 4, 0.1, 2);
  bool seen = false;
  point hit;
  EXPECT_NEAR(check_vision(sim, 5, 5, 0, seen, hit), 0.6, 1e-12);
  EXPECT_DOUBLE_EQ(hit.x, 5.6);
  replace_walls(sim, {{6.5, 4, 0.1, 2}, {5.6, 4, 0.1, 2}});
  EXPECT_NEAR(check_vision(sim, 5, 5, 0, seen, hit), 0.6, 1e-12);
  EXPECT_DOUBLE_EQ(hit.x, 5.6);
}

// Two walls whose faces the ray meets at the same computed distance but at points
// that differ in the last bits (the sides' other corners differ), so the tie-break
// shows in the hit point.
struct tie_case {
  double angle = 0.0156;
  wall_spec a{5.6, 3.9, 0.3, 2.2};
  wall_spec b{5.6, 4.7, 0.2, 2.0};
};

TEST_F(VisionTest, EqualDistancesGoToTheOlderWall) {
  const tie_case t;
  point qa;
  point qb;
  const double da = check_box_intersect(sim, ray_from(5, 5, t.angle, 100),
                                        box_of(t.a.x, t.a.y, t.a.width, t.a.height), qa);
  const double db = check_box_intersect(sim, ray_from(5, 5, t.angle, 100),
                                        box_of(t.b.x, t.b.y, t.b.width, t.b.height), qb);
  ASSERT_EQ(da, db);
  ASSERT_TRUE(qa.x != qb.x || qa.y != qb.y) << "no longer a tie with distinct points";
  world_free_impacts(sim);

  bool seen = false;
  point hit;
  replace_walls(sim, {t.a, t.b});  // a is older
  EXPECT_EQ(check_vision(sim, 5, 5, t.angle, seen, hit), da);
  EXPECT_TRUE(seen);
  EXPECT_EQ(hit.x, qa.x);
  EXPECT_EQ(hit.y, qa.y);

  replace_walls(sim, {t.b, t.a});  // b is older
  EXPECT_EQ(check_vision(sim, 5, 5, t.angle, seen, hit), db);
  EXPECT_EQ(hit.x, qb.x);
  EXPECT_EQ(hit.y, qb.y);
}

TEST_F(VisionTest, RayStartingInsideAWallMeetsItsFarSide) {
  replace_walls(sim, {{6.5, 4, 0.5, 2}});
  bool seen = false;
  point hit;
  EXPECT_NEAR(check_vision(sim, 6.6, 5, 0, seen, hit), 0.4, 1e-12);
  EXPECT_TRUE(seen);
  EXPECT_DOUBLE_EQ(hit.x, 7);
  EXPECT_NEAR(check_vision(sim, 6.6, 5, kPi, seen, hit), 0.1, 1e-12);
  EXPECT_DOUBLE_EQ(hit.x, 6.5);
  EXPECT_EQ(world.num_impacts, 2);
}

TEST_F(VisionTest, RayLengthIsTheProductOfTheExtents) {
  // A 100 x 1 world casts rays 100 long: a face 1.5 ahead is met.
  world.width = 100;
  world.height = 1;
  replace_walls(sim, {{6.5, 0, 0.5, 1}});
  bool seen = false;
  point hit;
  EXPECT_DOUBLE_EQ(check_vision(sim, 5, 0.5, 0, seen, hit), 1.5);
  // A 1 x 1 world has a ray of length 1: a face 1.5 away is not crossed.
  world.width = 1;
  world.height = 1;
  EXPECT_EQ(check_vision(sim, 5, 0.5, 0, seen, hit), 2);
  EXPECT_FALSE(seen);
  world.width = 10;
  world.height = 10;
}

TEST_F(VisionTest, InAWorldSpanningLessThanTwoAMissedWallCountsAsNoWall) {
  // A missed wall reports 2, which is not within width + height = 1 here, so no
  // wall is chosen.
  world.width = 0.5;
  world.height = 0.5;
  replace_walls(sim, {{0.3, 0.3, 0.1, 0.1}});
  bool seen = true;
  point hit = kUntouched;
  EXPECT_EQ(check_vision(sim, 0.1, 0.1, kPi, seen, hit), -1);
  EXPECT_FALSE(seen);
  // A wall the ray meets is still reported.
  EXPECT_NEAR(check_vision(sim, 0.1, 0.35, 0, seen, hit), 0.2, 1e-12);
  EXPECT_TRUE(seen);
  world.width = 10;
  world.height = 10;
}

// ---------------------------------------------------------------------------
// Vision over very many walls, on a small stack

struct vision_result {
  double distance = 0;
  bool seen = false;
  point hit;
};

struct vision_job {
  simulation* sim;
  double x;
  double y;
  double angle;
  vision_result result;
};

void* run_vision(void* arg) {
  auto* job = static_cast<vision_job*>(arg);
  job->result.distance =
      check_vision(*job->sim, job->x, job->y, job->angle, job->result.seen, job->result.hit);
  return nullptr;
}

// Runs check_vision on a thread with a 256 KiB stack: per-wall arrays on the
// stack would need megabytes for the lists below and crash.
vision_result vision_on_small_stack(simulation& sim, double x, double y, double angle) {
  vision_job job{&sim, x, y, angle, {}};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, run_vision, &job);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(rc, 0);
  if (rc == 0) pthread_join(thread, nullptr);
  return job.result;
}

TEST_F(VisionTest, TwoHundredThousandWallsGiveTheSameResultsAsTheFewThatMatter) {
  constexpr int kWalls = 200000;
  // The walls that the ray from (1, 5) along +x meets: faces at 0.3, 0.6 and 0.9,
  // and a second wall with the nearest face (a tie, the older one wins).
  const std::vector<std::pair<int, wall_spec>> relevant = {
      {10000, {1.3, 4.5, 0.2, 1.0}},
      {50000, {1.3, 4.8, 0.2, 0.4}},
      {100000, {1.6, 4.0, 0.1, 2.0}},
      {150000, {1.9, 4.0, 0.1, 2.0}},
  };

  // Reference: only the relevant walls, in the same relative order.
  world_free_walls(sim);
  for (const auto& [position, w] : relevant) world_add_wall(sim, w.x, w.y, w.width, w.height);
  world_free_impacts(sim);
  const vision_result expected = vision_on_small_stack(sim, 1, 5, 0);
  const std::vector<point> expected_impacts = impact_points(world);
  ASSERT_EQ(expected_impacts.size(), 3u);
  EXPECT_NEAR(expected.distance, 0.3, 1e-12);
  EXPECT_TRUE(expected.seen);

  // The same walls among 200,000 that lie off the ray.
  world_free_walls(sim);
  std::size_t next_relevant = 0;
  for (int n = 0; n < kWalls; ++n) {
    if (next_relevant < relevant.size() && relevant[next_relevant].first == n) {
      const wall_spec& w = relevant[next_relevant++].second;
      world_add_wall(sim, w.x, w.y, w.width, w.height);
    } else {
      world_add_wall(sim, 0.1 + (n % 1000) * 0.0098, 7 + (n / 1000) * 0.01, 0.005, 0.005);
    }
  }
  ASSERT_EQ(world.num_walls, kWalls);
  world_free_impacts(sim);
  const vision_result got = vision_on_small_stack(sim, 1, 5, 0);
  EXPECT_EQ(got.distance, expected.distance);
  EXPECT_EQ(got.seen, expected.seen);
  EXPECT_EQ(got.hit.x, expected.hit.x);
  EXPECT_EQ(got.hit.y, expected.hit.y);
  const std::vector<point> impacts = impact_points(world);
  ASSERT_EQ(impacts.size(), expected_impacts.size());
  for (std::size_t n = 0; n < impacts.size(); ++n) {
    EXPECT_EQ(impacts[n].x, expected_impacts[n].x);
    EXPECT_EQ(impacts[n].y, expected_impacts[n].y);
  }

  // A ray that meets none of them still reads 2, and one into the field of small
  // walls finds the nearest of those.
  const vision_result none = vision_on_small_stack(sim, 1, 5, kPi);
  EXPECT_EQ(none.distance, 2);
  EXPECT_FALSE(none.seen);
  const vision_result up = vision_on_small_stack(sim, 0.1025, 6.5, kPi / 2);
  EXPECT_NEAR(up.distance, 0.5, 1e-12);
  EXPECT_TRUE(up.seen);
}

}  // namespace
