// The world record: the default world, list upkeep, impact merging, the target,
// the point-in-wall test and the conversions between world units and pixels.
#include <cmath>
#include <limits>

#include "test_support.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();

class WorldTest : public SimulationTest {};

void expect_wall(const wall_node* w, double x, double y, double width, double height) {
  ASSERT_NE(w, nullptr);
  EXPECT_DOUBLE_EQ(w->x, x);
  EXPECT_DOUBLE_EQ(w->y, y);
  EXPECT_DOUBLE_EQ(w->width, width);
  EXPECT_DOUBLE_EQ(w->height, height);
}

// ---------------------------------------------------------------------------
// The default world

TEST_F(WorldTest, DefaultWorldHasFourBoundaryWallsRightLeftBottomTopFromTheHead) {
  EXPECT_EQ(world.width, 10);
  EXPECT_EQ(world.height, 10);
  ASSERT_EQ(world.num_walls, 4);
  ASSERT_EQ(list_length(world.walls), 4);
  const wall_node* w = world.walls;
  expect_wall(w, 9.95, 0, 0.05, 10);  // right
  w = w->next;
  expect_wall(w, 0, 0, 0.05, 10);  // left
  w = w->next;
  expect_wall(w, 0, 9.95, 10, 0.05);  // bottom
  w = w->next;
  expect_wall(w, 0, 0, 10, 0.05);  // top
  EXPECT_EQ(w->next, nullptr);
}

TEST_F(WorldTest, DefaultWorldFlagsGainsTargetAndLists) {
  EXPECT_EQ(world.target_x, 5);
  EXPECT_EQ(world.target_y, 5);
  EXPECT_TRUE(world.target_set);
  EXPECT_TRUE(world.show_walls);
  EXPECT_FALSE(world.show_grad);
  EXPECT_EQ(world.scale1, 0.11);
  EXPECT_EQ(world.scale2, 0.86);
  EXPECT_EQ(world.scale3, 0.193);
  EXPECT_EQ(world.impacts, nullptr);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.markers, nullptr);
  // The planning run at the end of the set-up laid out a path to the target.
  EXPECT_GT(world.num_waypoints, 0);
  EXPECT_EQ(list_length(world.waypoints), world.num_waypoints);
  EXPECT_EQ(world.cur_waypoint, world.num_waypoints - 1);
  EXPECT_EQ(sim.planner_stats.runs, 1u);
}

TEST_F(WorldTest, SetupRebuildsTheDefaultsAfterChanges) {
  world_add_wall(sim, 1, 1, 2, 2);
  world_add_impact(sim, 3, 3);
  world_set_target(sim, 7, 7);
  world.show_walls = false;
  world.show_grad = true;
  world.scale1 = -4;
  world_setup(sim);
  EXPECT_EQ(world.num_walls, 4);
  EXPECT_EQ(list_length(world.walls), 4);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.impacts, nullptr);
  EXPECT_EQ(world.target_x, 5);
  EXPECT_EQ(world.target_y, 5);
  EXPECT_TRUE(world.show_walls);
  EXPECT_FALSE(world.show_grad);
  EXPECT_EQ(world.scale1, 0.11);
}

TEST_F(WorldTest, SetupPlacesTheRobotWithThreeDrawsXThenYThenHeading) {
  sim.rng.seed(777);
  const double x = f_rand(sim, 0.5, 9.5);
  const double y = f_rand(sim, 0.5, 9.5);
  const double heading = f_rand(sim, 0, kTwoPi);
  sim.rng.seed(777);
  world_setup(sim);
  EXPECT_EQ(robot.x, x);
  EXPECT_EQ(robot.y, y);
  EXPECT_EQ(robot.heading, heading);
}

// ---------------------------------------------------------------------------
// Lists and their counts

TEST_F(WorldTest, ListsRunNewestFirstAndCountsFollowTheirLengths) {
  world_add_wall(sim, 1, 2, 3, 4);
  EXPECT_EQ(world.num_walls, 5);
  expect_wall(world.walls, 1, 2, 3, 4);

  world_add_impact(sim, 2, 2);
  world_add_impact(sim, 6, 6);
  ASSERT_EQ(world.num_impacts, 2);
  EXPECT_EQ(list_length(world.impacts), 2);
  EXPECT_EQ(world.impacts->x, 6);
  EXPECT_EQ(world.impacts->next->x, 2);

  world_free_impacts(sim);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.impacts, nullptr);
  world_free_waypoints(sim);
  EXPECT_EQ(world.num_waypoints, 0);
  EXPECT_EQ(world.waypoints, nullptr);
  world_free_walls(sim);
  EXPECT_EQ(world.num_walls, 0);
  EXPECT_EQ(world.walls, nullptr);
}

TEST_F(WorldTest, WallsAreStoredUncheckedAndWithoutLimit) {
  world_add_wall(sim, -3, 12, -1, 0);
  expect_wall(world.walls, -3, 12, -1, 0);
  for (int n = 0; n < 1000; ++n) world_add_wall(sim, n, n, 1, 1);
  EXPECT_EQ(world.num_walls, 1005);
  EXPECT_EQ(list_length(world.walls), 1005);
}

TEST_F(WorldTest, MarkersAreNeverKept) {
  world_add_marker(sim, 1, 1);
  world_add_marker(sim, 2, 2);
  EXPECT_EQ(world.markers, nullptr);
  world_free_markers(sim);
  EXPECT_EQ(world.markers, nullptr);
}

TEST_F(WorldTest, DestroyReleasesEveryDrawingObjectOnceAndCanRunTwice) {
  const long live = live_draw_objects(sim);
  world_destroy(sim);
  EXPECT_EQ(live_draw_objects(sim), live - 11);
  EXPECT_EQ(world.walls, nullptr);
  EXPECT_EQ(world.num_walls, 0);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.num_waypoints, 0);
  world_destroy(sim);  // nothing left to free
  EXPECT_EQ(live_draw_objects(sim), live - 11);
  world_setup(sim);
  EXPECT_EQ(live_draw_objects(sim), live);
}

TEST_F(WorldTest, RepeatedSetupsLeakNoDrawingObjects) {
  const long live = live_draw_objects(sim);
  for (int n = 0; n < 5; ++n) world_setup(sim);
  EXPECT_EQ(live_draw_objects(sim), live);
}

// ---------------------------------------------------------------------------
// Impacts: merging and replanning

// The impacts below lie away from the robot and the target, so every planning
// run finds a path and counts once.

TEST_F(WorldTest, ImpactCloserThanATenthIsRejectedWithoutReplanning) {
  place_robot(8, 2);
  world_add_impact(sim, 2, 8);
  ASSERT_EQ(world.num_impacts, 1);
  const auto runs = sim.planner_stats.runs;
  world_add_impact(sim, 2.05, 8);
  EXPECT_EQ(world.num_impacts, 1);
  EXPECT_EQ(list_length(world.impacts), 1);
  EXPECT_EQ(sim.planner_stats.runs, runs);
  // Diagonal distance counts, not each axis alone: 0.07 along both is 0.099.
  world_add_impact(sim, 2.07, 8.07);
  EXPECT_EQ(world.num_impacts, 1);
  EXPECT_EQ(sim.planner_stats.runs, runs);
}

TEST_F(WorldTest, ImpactFarEnoughAwayIsAddedWithOnePlanningRun) {
  place_robot(8, 2);
  world_add_impact(sim, 2, 8);
  const auto runs = sim.planner_stats.runs;
  world_add_impact(sim, 2.2, 8);
  EXPECT_EQ(world.num_impacts, 2);
  EXPECT_EQ(world.impacts->x, 2.2);
  EXPECT_EQ(sim.planner_stats.runs, runs + 1);
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
}

TEST_F(WorldTest, ImpactIsComparedWithEveryImpactNotOnlyTheNewest) {
  world_add_impact(sim, 2, 2);
  world_add_impact(sim, 7, 7);
  const auto runs = sim.planner_stats.runs;
  world_add_impact(sim, 2.03, 1.98);  // near the older one
  EXPECT_EQ(world.num_impacts, 2);
  EXPECT_EQ(sim.planner_stats.runs, runs);
}

TEST_F(WorldTest, FirstImpactIsAlwaysAddedAndReplans) {
  place_robot(8, 2);
  const auto runs = sim.planner_stats.runs;
  world_add_impact(sim, 0, 0);
  EXPECT_EQ(world.num_impacts, 1);
  EXPECT_EQ(sim.planner_stats.runs, runs + 1);
}

// ---------------------------------------------------------------------------
// The target

TEST_F(WorldTest, SetTargetStoresItUnclampedAndReplansOnce) {
  place_robot(2, 2);
  world.target_set = false;
  const auto runs = sim.planner_stats.runs;
  world_set_target(sim, 7.25, 3.5);
  EXPECT_TRUE(world.target_set);
  EXPECT_EQ(world.target_x, 7.25);
  EXPECT_EQ(world.target_y, 3.5);
  EXPECT_EQ(sim.planner_stats.runs, runs + 1);
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
  // The new path ends in the target's cell.
  ASSERT_NE(world.waypoints, nullptr);
  EXPECT_EQ(get_map_x(sim, world.waypoints->x + 1e-9), get_map_x(sim, 7.25));
  EXPECT_EQ(get_map_y(sim, world.waypoints->y + 1e-9), get_map_y(sim, 3.5));
}

// ---------------------------------------------------------------------------
// Point in wall

TEST_F(WorldTest, CheckWallPointEdgesAreInside) {
  EXPECT_EQ(world_check_wall_point(sim, 0.02, 5), 1);  // left wall
  EXPECT_EQ(world_check_wall_point(sim, 5, 5), 0);
  EXPECT_EQ(world_check_wall_point(sim, 0.05, 5), 1);  // on the left wall's edge
  EXPECT_EQ(world_check_wall_point(sim, 9.95, 5), 1);  // on the right wall's edge
  EXPECT_EQ(world_check_wall_point(sim, 0.0501, 5), 0);
  EXPECT_EQ(world_check_wall_point(sim, 10, 10), 1);  // far corner
  EXPECT_EQ(world_check_wall_point(sim, 10.0001, 5), 0);
}

TEST_F(WorldTest, CheckWallPointFindsAnyWallNotOnlyTheHead) {
  replace_walls(sim, {{1, 1, 1, 1}, {5, 5, 1, 1}, {8, 1, 1, 1}});
  EXPECT_EQ(world_check_wall_point(sim, 1.5, 1.5), 1);  // the oldest, at the tail
  EXPECT_EQ(world_check_wall_point(sim, 5.5, 5.5), 1);
  EXPECT_EQ(world_check_wall_point(sim, 3, 3), 0);
}

TEST_F(WorldTest, CheckWallPointNotANumberIsOutside) {
  EXPECT_EQ(world_check_wall_point(sim, kNaN, 5), 0);
  EXPECT_EQ(world_check_wall_point(sim, 0.02, kNaN), 0);
}

TEST_F(WorldTest, CheckWallPointWithoutWallsIsAlwaysZero) {
  world_free_walls(sim);
  EXPECT_EQ(world_check_wall_point(sim, 0, 0), 0);
  EXPECT_EQ(world_check_wall_point(sim, 0.02, 5), 0);
  EXPECT_EQ(world_check_wall_point(sim, 9.99, 9.99), 0);
}

// ---------------------------------------------------------------------------
// Conversions between world units and pixels (640 x 480 client area)

TEST_F(WorldTest, ScreenConversionsOfThe640By480Examples) {
  EXPECT_EQ(get_screen_x(sim, 5), 320);
  EXPECT_EQ(get_screen_y(sim, 5), 240);
  EXPECT_EQ(get_screen_x(sim, 0), 0);
  EXPECT_EQ(get_screen_x(sim, 10), 640);
  EXPECT_EQ(get_screen_y(sim, 10), 480);
  EXPECT_EQ(get_world_x(sim, 320), 5);
  EXPECT_EQ(get_world_y(sim, 240), 5);
  EXPECT_EQ(get_world_x(sim, 0), 0);
  EXPECT_EQ(get_world_x(sim, 640), 10);
}

TEST_F(WorldTest, ScreenConversionTruncatesTowardZero) {
  EXPECT_EQ(get_screen_x(sim, -0.01), 0);   // -0.64
  EXPECT_EQ(get_screen_x(sim, -0.02), -1);  // -1.28, not -2
  EXPECT_EQ(get_screen_x(sim, 0.0199), 1);  // 1.27
  EXPECT_EQ(get_screen_y(sim, -0.03), -1);  // -1.44
}

TEST_F(WorldTest, WorldConversionIsNotTruncated) {
  EXPECT_DOUBLE_EQ(get_world_x(sim, 1), 10.0 / 640);
  EXPECT_DOUBLE_EQ(get_world_y(sim, 1), 10.0 / 480);
  // A pixel beyond the client area maps beyond the world.
  EXPECT_DOUBLE_EQ(get_world_x(sim, 1280), 20);
  // The whole unsigned range converts without wrapping.
  EXPECT_DOUBLE_EQ(get_world_x(sim, 4294967295u), 4294967295.0 / 640 * 10);
}

TEST_F(WorldTest, BoundingRectExample) {
  pixel_rect r{};
  get_bounding_rect(sim, 5, 5, 5, 5, r);
  EXPECT_EQ(r.left, 160);
  EXPECT_EQ(r.top, 120);
  EXPECT_EQ(r.right, 480);
  EXPECT_EQ(r.bottom, 360);
}

TEST_F(WorldTest, BoundingRectTruncatesEachEdgeTowardZero) {
  pixel_rect r{};
  get_bounding_rect(sim, 0, 0, 0.5, 0.5, r);  // -0.25 .. 0.25 world units
  EXPECT_EQ(r.left, -16);
  EXPECT_EQ(r.top, -12);
  EXPECT_EQ(r.right, 16);
  EXPECT_EQ(r.bottom, 12);
  get_bounding_rect(sim, 0, 0, 0.03, 0.03, r);  // -0.96 .. 0.96 px along x
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 0);
}

// Coordinates from world files and the mouse can be anything; the conversions
// must stay defined for them.

TEST_F(WorldTest, ScreenConversionSaturatesForHugeAndInfiniteValues) {
  EXPECT_EQ(get_screen_x(sim, 1e308), kIntMax);
  EXPECT_EQ(get_screen_x(sim, -1e308), kIntMin);
  EXPECT_EQ(get_screen_x(sim, kInf), kIntMax);
  EXPECT_EQ(get_screen_x(sim, -kInf), kIntMin);
  EXPECT_EQ(get_screen_y(sim, 1e308), kIntMax);
  EXPECT_EQ(get_screen_y(sim, -kInf), kIntMin);
  EXPECT_EQ(get_screen_x(sim, kNaN), 0);
  EXPECT_EQ(get_screen_y(sim, kNaN), 0);
}

TEST_F(WorldTest, ScreenConversionSaturatesExactlyAtTheIntRange) {
  // With one pixel per world unit the conversion is the truncation itself.
  world.width = 1;
  sim.display_x = 1;
  EXPECT_EQ(get_screen_x(sim, 2147483647.0), kIntMax);
  EXPECT_EQ(get_screen_x(sim, 2147483647.5), kIntMax);
  EXPECT_EQ(get_screen_x(sim, 2147483648.0), kIntMax);
  EXPECT_EQ(get_screen_x(sim, -2147483648.0), kIntMin);
  EXPECT_EQ(get_screen_x(sim, -2147483648.75), kIntMin);
  EXPECT_EQ(get_screen_x(sim, -2147483649.0), kIntMin);
  EXPECT_EQ(get_screen_x(sim, 2147483646.9), 2147483646);
  EXPECT_EQ(get_screen_x(sim, -2147483647.9), -2147483647);
  world.width = 10;
}

TEST_F(WorldTest, BoundingRectSaturatesAndMapsNotANumberToZero) {
  pixel_rect r{1, 1, 1, 1};
  get_bounding_rect(sim, kNaN, kNaN, 1, 1, r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 0);
  EXPECT_EQ(r.bottom, 0);
  get_bounding_rect(sim, 5, 5, kInf, 1e308, r);
  EXPECT_EQ(r.left, kIntMin);
  EXPECT_EQ(r.right, kIntMax);
  EXPECT_EQ(r.top, kIntMin);
  EXPECT_EQ(r.bottom, kIntMax);
  get_bounding_rect(sim, 1e300, -1e300, 1, 1, r);
  EXPECT_EQ(r.left, kIntMax);
  EXPECT_EQ(r.right, kIntMax);
  EXPECT_EQ(r.top, kIntMin);
  EXPECT_EQ(r.bottom, kIntMin);
}

TEST_F(WorldTest, ConversionsWithAZeroSizedClientArea) {
  sim.display_x = 0;
  sim.display_y = 0;
  EXPECT_EQ(get_world_x(sim, 0), 0);
  EXPECT_EQ(get_world_x(sim, 320), 0);
  EXPECT_EQ(get_world_y(sim, 240), 0);
  EXPECT_EQ(get_screen_x(sim, 5), 0);
  EXPECT_EQ(get_screen_y(sim, 5), 0);
  pixel_rect r{1, 1, 1, 1};
  get_bounding_rect(sim, 5, 5, 5, 5, r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, 0);
}

TEST_F(WorldTest, MapIndexOfOutOfRangeAndNonFiniteValuesIsTheLastCell) {
  EXPECT_EQ(get_map_x(sim, kNaN), 74);
  EXPECT_EQ(get_map_y(sim, kNaN), 74);
  EXPECT_EQ(get_map_x(sim, kInf), 74);
  EXPECT_EQ(get_map_x(sim, -kInf), 74);
  EXPECT_EQ(get_map_x(sim, 1e308), 74);
  EXPECT_EQ(get_map_x(sim, -1e308), 74);
  EXPECT_EQ(get_map_y(sim, 1e308), 74);
  EXPECT_EQ(get_map_y(sim, -kInf), 74);
  EXPECT_EQ(get_map_x(sim, 3e9), 74);  // beyond the int range after scaling
  EXPECT_EQ(get_map_x(sim, -3e9), 74);
}

TEST_F(WorldTest, MapIndexTruncatesTowardZeroAndFoldsNegativesOntoTheLastCell) {
  EXPECT_EQ(get_map_x(sim, 0), 0);
  EXPECT_EQ(get_map_x(sim, 5), 37);
  EXPECT_EQ(get_map_x(sim, 9.99), 74);
  EXPECT_EQ(get_map_x(sim, 10), 74);  // 75 is above 74
  EXPECT_EQ(get_map_x(sim, 20), 74);
  EXPECT_EQ(get_map_x(sim, -0.01), 0);  // trunc(-0.075) is 0, not negative
  EXPECT_EQ(get_map_x(sim, -0.2), 74);  // trunc(-1.5) is -1: negative, so 74 (not 0)
  EXPECT_EQ(get_map_y(sim, -5), 74);
  EXPECT_EQ(get_map_y(sim, 2.9), 21);
}

TEST_F(WorldTest, MapIndexFollowsTheWorldsExtent) {
  world.width = 20;
  world.height = 5;
  EXPECT_EQ(get_map_x(sim, 10), 37);
  EXPECT_EQ(get_map_y(sim, 2.5), 37);
  EXPECT_EQ(get_map_y(sim, 5), 74);
  world.width = 10;
  world.height = 10;
}

}  // namespace
