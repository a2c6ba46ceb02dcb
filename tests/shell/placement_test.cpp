// Placing a run's pose and target: what is read, what is refused (with nothing
// placed), where random draws land, and that a placement is the loaded pose and
// the right button's target with one planning run.
#include "shell/placement.h"

#include <cmath>

#include "../core/test_support.h"
#include "core/map.h"
#include "core/world_file.h"

namespace {

class PlacementTest : public SimulationTest {};

TEST(PlacementParseTest, ReadsNumbersAndRandomAndRefusesTheRest) {
  struct pose_case {
    const char* text;
    bool ok;
    pose_request expected;
  };
  const pose_case poses[] = {
      {"2.5,7.25,1.5", true, {false, 2.5, 7.25, 1.5}},
      {" 2 , 3 , -1e-1 ", true, {false, 2, 3, -0.1}},
      {"random", true, {true, 0, 0, 0}},
      {"2,3", false, {}},
      {"2,3,4,5", false, {}},
      {"2,three,4", false, {}},
      {"2,3,nan", false, {}},
      {"2,3,inf", false, {}},
      {"2,,4", false, {}},
      {"", false, {}},
      {"Random", false, {}},
  };
  for (const pose_case& c : poses) {
    SCOPED_TRACE(c.text);
    pose_request pose;
    std::string problem;
    EXPECT_EQ(parse_pose_request(c.text, pose, problem), c.ok);
    if (c.ok) {
      EXPECT_EQ(pose, c.expected);
    } else {
      EXPECT_NE(problem.find("X,Y,HEADING"), std::string::npos) << problem;
    }
  }
  struct target_case {
    const char* text;
    bool ok;
    target_request expected;
  };
  const target_case targets[] = {
      {"8.5,5", true, {false, 8.5, 5}}, {"random", true, {true, 0, 0}}, {"8.5", false, {}},
      {"8.5,5,1", false, {}},           {"0x10,5", false, {}},          {"8.5;5", false, {}},
  };
  for (const target_case& c : targets) {
    SCOPED_TRACE(c.text);
    target_request target;
    std::string problem;
    EXPECT_EQ(parse_target_request(c.text, target, problem), c.ok);
    if (c.ok) {
      EXPECT_EQ(target, c.expected);
    }
  }
}

TEST_F(PlacementTest, PoseAndTargetArePlacedWithTheTargetsPlanningRun) {
  const std::uint64_t runs_before = sim.planner_stats.runs;
  placement_request request;
  request.pose = pose_request{.x = 2.0, .y = 3.0, .heading = 7.0};
  request.target = target_request{.x = 8.0, .y = 6.0};
  EXPECT_EQ(place_for_run(sim, request), "");
  EXPECT_EQ(robot.x, 2.0);
  EXPECT_EQ(robot.y, 3.0);
  EXPECT_EQ(robot.heading, world_loaded_heading(7.0));
  EXPECT_EQ(world.target_x, 8.0);
  EXPECT_EQ(world.target_y, 6.0);
  EXPECT_EQ(sim.planner_stats.runs, runs_before + 1);
  EXPECT_GT(world.num_waypoints, 0);
}

TEST_F(PlacementTest, APoseAloneIsFollowedByOnePlanningRunFromIt) {
  const std::uint64_t runs_before = sim.planner_stats.runs;
  placement_request request;
  request.pose = pose_request{.x = 9.0, .y = 9.0, .heading = 0.0};
  EXPECT_EQ(place_for_run(sim, request), "");
  EXPECT_EQ(sim.planner_stats.runs, runs_before + 1);
  EXPECT_EQ(world.target_x, 5.0);  // the default target stays
  EXPECT_EQ(world.target_y, 5.0);
}

TEST_F(PlacementTest, RefusedPlacementsSayWhyAndPlaceNothing) {
  replace_walls(sim, {{0, 0, 10, 0.05}, {4, 4, 2, 1}});
  struct refused {
    std::optional<pose_request> pose;
    std::optional<target_request> target;
    const char* says;
  };
  const refused cases[] = {
      {pose_request{.x = 0.1, .y = 5, .heading = 0}, std::nullopt,
       "the pose's x must be from 0.25"},
      {pose_request{.x = 5, .y = 9.9, .heading = 0}, std::nullopt, "the pose's y must be from"},
      {std::nullopt, target_request{.x = -1, .y = 5}, "the target's x must be from 0 to 10"},
      {std::nullopt, target_request{.x = 5, .y = 10.5}, "the target's y"},
      {std::nullopt, target_request{.x = 5, .y = 4.5}, "the target (5, 4.5) lies on a wall"},
      {std::nullopt, target_request{.x = 6, .y = 5}, "lies on a wall"},  // on the edge
      // A good pose with a refused target is not placed either.
      {pose_request{.x = 2, .y = 2, .heading = 0}, target_request{.x = 5, .y = 4.5}, "on a wall"},
  };
  for (const refused& c : cases) {
    SCOPED_TRACE(c.says);
    const double before[3] = {robot.x, robot.y, robot.heading};
    const std::uint64_t runs_before = sim.planner_stats.runs;
    placement_request request{c.pose, c.target};
    const std::string problem = place_for_run(sim, request);
    EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
    EXPECT_EQ(robot.x, before[0]);
    EXPECT_EQ(robot.y, before[1]);
    EXPECT_EQ(robot.heading, before[2]);
    EXPECT_EQ(sim.planner_stats.runs, runs_before);
  }
}

TEST_F(PlacementTest, RandomPlacementsAreClearOfWallsAndFollowTheSeed) {
  // A world crowded with walls: most draws of the start-up rule would touch one.
  replace_walls(sim, {{0, 0, 10, 0.05}, {1, 1, 8, 3}, {1, 5, 3, 4}, {5, 5, 4, 4}});
  placement_request request;
  request.pose = pose_request{.random = true};
  request.target = target_request{.random = true};
  for (std::uint32_t seed = 1; seed <= 50; ++seed) {
    SCOPED_TRACE(seed);
    sim.rng.seed(seed);
    ASSERT_EQ(place_for_run(sim, request), "");
    EXPECT_FALSE(disc_touches_wall(sim, robot.x, robot.y, robot.diameter / 2));
    EXPECT_FALSE(point_on_wall(sim, world.target_x, world.target_y));
    EXPECT_GE(vect_mag(world.target_x - robot.x, world.target_y - robot.y), kTargetReachedDistance);
    EXPECT_GE(world.target_x, 1.0);
    EXPECT_LE(world.target_x, 9.0);
  }
  // The same seed draws the same places.
  sim.rng.seed(7);
  ASSERT_EQ(place_for_run(sim, request), "");
  const double first[3] = {robot.x, robot.y, world.target_x};
  sim.rng.seed(7);
  ASSERT_EQ(place_for_run(sim, request), "");
  EXPECT_EQ(robot.x, first[0]);
  EXPECT_EQ(robot.y, first[1]);
  EXPECT_EQ(world.target_x, first[2]);
}

TEST_F(PlacementTest, AWorldWithoutRoomRefusesARandomPoseInsteadOfDrawingForEver) {
  replace_walls(sim, {{-1, -1, 12, 12}});
  placement_request request;
  request.pose = pose_request{.random = true};
  EXPECT_NE(place_for_run(sim, request).find("no pose clear of the walls"), std::string::npos);
  request = {};
  request.target = target_request{.random = true};
  EXPECT_NE(place_for_run(sim, request).find("no target clear of the walls"), std::string::npos);
}

}  // namespace
