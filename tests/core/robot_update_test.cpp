// The robot: placement, and the per-tick update's target handling, waypoint
// counting, replanning, sensing, heading error, turn, push-back and clamp.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/portable_math.h"
#include "core/world_field.h"
#include "test_support.h"

namespace {

class RobotTest : public SimulationTest {
 protected:
  // Manual mode without keys: the update moves the robot by exactly the speed
  // and turn a test sets.
  void drive(double speed, double turn) {
    sim.manual_mode = true;
    robot.speed = speed;
    robot.turn = turn;
  }
};

// ---------------------------------------------------------------------------
// Placement

TEST_F(RobotTest, InitSetsTheBodyAndDrawsXThenYThenHeading) {
  sim.rng.seed(31337);
  const double x = f_rand(sim, 0.5, 9.5);
  const double y = f_rand(sim, 0.5, 9.5);
  const double heading = f_rand(sim, 0, kTwoPi);
  sim.rng.seed(31337);
  robot.sensor_hit[3] = true;
  robot.vision_seen[5] = true;
  robot.show_vision = true;
  robot.motion_speed = 4;
  robot_init(sim);
  EXPECT_EQ(robot.x, x);
  EXPECT_EQ(robot.y, y);
  EXPECT_EQ(robot.heading, heading);
  EXPECT_EQ(robot.aux_count, 5);
  EXPECT_EQ(robot.num_sensors, 6);
  EXPECT_EQ(robot.diameter, 0.5);
  EXPECT_EQ(robot.size_x, 0.5);
  EXPECT_EQ(robot.size_y, 0.5);
  EXPECT_EQ(robot.sensor_dist, 0.25);
  EXPECT_EQ(robot.sensor_size, 0.125);
  EXPECT_EQ(robot.motion_speed, 0);
  EXPECT_EQ(robot.motion_turn, 0);
  for (int i = 0; i < kNumSensors; ++i) {
    EXPECT_FALSE(robot.sensor_hit[i]);
    EXPECT_FALSE(robot.vision_seen[i]);
  }
  EXPECT_FALSE(robot.show_vision);
}

TEST_F(RobotTest, InitStaysInsideTheWorldOverManyDraws) {
  for (int n = 0; n < 2000; ++n) {
    robot_init(sim);
    ASSERT_GE(robot.x, 0.5);
    ASSERT_LE(robot.x, 9.5);
    ASSERT_GE(robot.y, 0.5);
    ASSERT_LE(robot.y, 9.5);
    ASSERT_GE(robot.heading, 0);
    ASSERT_LE(robot.heading, kTwoPi);
  }
}

TEST_F(RobotTest, WorldResetDuringMotionKeepsSpeedTurnAndReadings) {
  robot.speed = 0.04;
  robot.turn = -0.02;
  robot.sensor_value[2] = 1.25;
  robot.heading_error = 0.5;
  world_setup(sim);
  EXPECT_EQ(robot.speed, 0.04);
  EXPECT_EQ(robot.turn, -0.02);
  EXPECT_EQ(robot.sensor_value[2], 1.25);
  EXPECT_EQ(robot.heading_error, 0.5);
}

TEST_F(RobotTest, MotionStoresItsArgumentsOnly) {
  robot.speed = 0.01;
  robot_motion(sim, 0.3, -0.2);
  EXPECT_EQ(robot.motion_speed, 0.3);
  EXPECT_EQ(robot.motion_turn, -0.2);
  EXPECT_EQ(robot.speed, 0.01);
}

// ---------------------------------------------------------------------------
// Target, waypoints and replanning

TEST_F(RobotTest, RobotNearTheTargetDrawsANewOneYThenXFirstThingInTheTick) {
  drive(0, 0);
  place_robot(5.1, 5.05);
  sim.rng.seed(555);
  const double ty = f_rand(sim, 1, 9);
  const double tx = f_rand(sim, 1, 9);
  sim.rng.seed(555);
  robot_update(sim);
  EXPECT_EQ(world.target_x, tx);
  EXPECT_EQ(world.target_y, ty);
}

TEST_F(RobotTest, RobotJustOutsideTheTargetRadiusKeepsTheTarget) {
  drive(0, 0);
  place_robot(5.31, 5);
  robot_update(sim);
  EXPECT_EQ(world.target_x, 5);
  EXPECT_EQ(world.target_y, 5);
}

TEST_F(RobotTest, NewTargetsStayOneUnitInsideTheWorld) {
  drive(0, 0);
  for (int n = 0; n < 300; ++n) {
    place_robot(world.target_x, world.target_y);
    robot_update(sim);
    ASSERT_GE(world.target_x, 1);
    ASSERT_LE(world.target_x, 9);
    ASSERT_GE(world.target_y, 1);
    ASSERT_LE(world.target_y, 9);
  }
}

TEST_F(RobotTest, ArrivalCountsTheWaypointDownAndHoldsReplanningForASecond) {
  drive(0, 0);
  place_robot(1.5, 2.9);
  world_set_target(sim, 5, 5);
  ASSERT_EQ(world.cur_waypoint, 25);  // cell (12, 22), corner (1.6, 2.93)
  // Near waypoint 25 (0.38 away) but not 24 (0.57 away).
  place_robot(1.3, 2.7);
  const auto runs = sim.planner_stats.runs;

  robot_update(sim);  // arrival at t = 1000
  EXPECT_EQ(world.cur_waypoint, 24);
  EXPECT_EQ(sim.planner_stats.runs, runs);

  advance_simulated_clock(sim, 0.5);
  robot_update(sim);
  EXPECT_EQ(world.cur_waypoint, 24);
  EXPECT_EQ(sim.planner_stats.runs, runs);

  advance_simulated_clock(sim, 0.5);  // exactly one second: not more than one
  robot_update(sim);
  EXPECT_EQ(sim.planner_stats.runs, runs);

  advance_simulated_clock(sim, 0.01);
  robot_update(sim);
  EXPECT_EQ(sim.planner_stats.runs, runs + 1);
  EXPECT_EQ(world.cur_waypoint, world.num_waypoints - 1);  // a fresh path
}

TEST_F(RobotTest, SeveralWaypointsWithinReachCountDownOnePerTick) {
  drive(0, 0);
  place_robot(1.5, 2.9);
  world_set_target(sim, 5, 5);
  const auto runs = sim.planner_stats.runs;
  robot_update(sim);
  EXPECT_EQ(world.cur_waypoint, 24);
  robot_update(sim);
  EXPECT_EQ(world.cur_waypoint, 23);
  robot_update(sim);
  EXPECT_EQ(world.cur_waypoint, 22);
  robot_update(sim);  // waypoint 22 at (2, 3.33) is 0.66 away
  EXPECT_EQ(world.cur_waypoint, 22);
  EXPECT_EQ(sim.planner_stats.runs, runs);
}

TEST_F(RobotTest, ArrivingAtWaypointZeroChangesNothingAndReplanningGoesOn) {
  drive(0, 0);
  place_robot(5.35, 5);  // 0.35 from the target, 0.42 from waypoint 0's corner
  world.cur_waypoint = 0;
  const auto runs = sim.planner_stats.runs;
  robot_update(sim);
  // No arrival was counted, so the clock of the last arrival (0) still allows the
  // replanning of this tick.
  EXPECT_EQ(sim.planner_stats.runs, runs + 1);
}

TEST_F(RobotTest, WithoutArrivalsTheGridIsReplannedEveryTick) {
  drive(0, 0);
  place_robot(5, 8);
  for (int tick = 1; tick <= 5; ++tick) {
    world.cur_waypoint = 0;  // nothing to count down
    const auto runs = sim.planner_stats.runs;
    robot_update(sim);
    EXPECT_EQ(sim.planner_stats.runs, runs + 1) << tick;
  }
}

// ---------------------------------------------------------------------------
// Sensing

TEST_F(RobotTest, SensorsLookAtMinusSixtyToPlusTwoFortyDegrees) {
  drive(0, 0);
  // Heading -60 degrees: sensor 2 looks along +x at a face 1.5 away.
  place_robot(5, 5, -kPi / 3);
  world_add_wall(sim, 6.5, 4.5, 0.5, 1);
  robot_update(sim);
  for (int i = 0; i < kNumSensors; ++i) {
    if (i == 2) {
      EXPECT_NEAR(robot.sensor_value[i], 0.5, 1e-9);
      EXPECT_TRUE(robot.vision_seen[i]);
      EXPECT_NEAR(robot.vision_point[i].x, 6.5, 1e-9);
      EXPECT_NEAR(robot.vision_point[i].y, 5, 1e-9);
    } else {
      EXPECT_EQ(robot.sensor_value[i], 0) << i;
      EXPECT_FALSE(robot.vision_seen[i]) << i;
    }
    EXPECT_FALSE(robot.sensor_hit[i]) << i;
  }
}

TEST_F(RobotTest, EachSensorFollowsItsOwnDirection) {
  drive(0, 0);
  const double heading = 0.4;
  for (int s = 0; s < kNumSensors; ++s) {
    SCOPED_TRACE(s);
    world_setup(sim);
    drive(0, 0);
    place_robot(5, 5, heading);
    const double a = heading - kPi / 3 + s * kPi / 3;
    // A small wall 1.2 away in sensor s's direction, off every other sensor's ray.
    const double cx = 5 + 1.2 * portable_cos(a);
    const double cy = 5 + 1.2 * portable_sin(a);
    world_add_wall(sim, cx - 0.05, cy - 0.05, 0.1, 0.1);
    robot_update(sim);
    for (int i = 0; i < kNumSensors; ++i) {
      if (i == s) {
        EXPECT_GT(robot.sensor_value[i], 0.7);
        EXPECT_TRUE(robot.vision_seen[i]);
      } else {
        EXPECT_EQ(robot.sensor_value[i], 0) << i;
      }
    }
  }
}

TEST_F(RobotTest, ProbeHitsOnlyForTheSensorWhoseProbePointIsInAWall) {
  drive(0, 0);
  place_robot(5, 5, 0);
  world_add_wall(sim, 5.2, 4.9, 0.3, 0.2);  // holds sensor 1's probe point (5.3125, 5)
  robot_update(sim);
  for (int i = 0; i < kNumSensors; ++i) EXPECT_EQ(robot.sensor_hit[i], i == 1) << i;
}

TEST_F(RobotTest, ProbeOutsideTheWorldHits) {
  world_free_walls(sim);
  drive(0, 0);
  place_robot(0.26, 5, kPi);  // sensor 1's probe at x = -0.0525
  robot_update(sim);
  EXPECT_TRUE(robot.sensor_hit[1]);
  EXPECT_FALSE(robot.sensor_hit[4]);  // looks along +x
}

TEST_F(RobotTest, NoWallWithinTwoReadsZero) {
  drive(0, 0);
  place_robot(5, 5, 1.0);
  robot_update(sim);
  for (int i = 0; i < kNumSensors; ++i) {
    EXPECT_EQ(robot.sensor_value[i], 0) << i;
    EXPECT_FALSE(robot.vision_seen[i]) << i;
    EXPECT_FALSE(robot.sensor_hit[i]) << i;
  }
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(RobotTest, EmptyWallListReadsThreeAndTheRobotMovesExactlyItsStep) {
  world_free_walls(sim);
  drive(0.03, 0);
  place_robot(5, 5, 0.7);
  robot_update(sim);
  for (int i = 0; i < kNumSensors; ++i) {
    EXPECT_EQ(robot.sensor_value[i], 3) << i;
    EXPECT_FALSE(robot.vision_seen[i]) << i;
  }
  EXPECT_NEAR(robot.x, 5 + 0.03 * portable_cos(0.7), 1e-12);
  EXPECT_NEAR(robot.y, 5 + 0.03 * portable_sin(0.7), 1e-12);
  EXPECT_EQ(world.num_impacts, 0);
}

TEST_F(RobotTest, SensorsRecordImpactsNearWalls) {
  drive(0, 0);
  place_robot(0.8, 5, kPi);  // the left wall's face is 0.75 ahead
  robot_update(sim);
  ASSERT_GE(world.num_impacts, 1);
  bool on_face = false;
  for (const impact_node* i = world.impacts; i; i = i->next) {
    if (std::fabs(i->x - 0.05) < 1e-9) on_face = true;
  }
  EXPECT_TRUE(on_face);
}

// ---------------------------------------------------------------------------
// Heading error and turning

struct heading_case {
  double raw;  // grad_angle - heading
  double expected;
};

TEST_F(RobotTest, HeadingErrorIsBroughtIntoMinusPiToPi) {
  const heading_case cases[] = {
      {6.0, 6.0 - kTwoPi},  // the example: about -0.283
      {7.0, 7.0 - kTwoPi},  // above 2 pi: one subtraction only
      {-7.0, -7.0 + kTwoPi}, {4.0, 4.0 - kTwoPi}, {-4.0, -4.0 + kTwoPi}, {-0.5, -0.5}, {0.5, 0.5},
  };
  for (const heading_case& c : cases) {
    SCOPED_TRACE(c.raw);
    world_setup(sim);
    drive(0, 0);
    place_robot(3, 7);
    double grad_angle = 0;
    double magnitude = 0;
    compute_grad_point(sim, robot.x, robot.y, grad_angle, magnitude);
    robot.heading = grad_angle - c.raw;
    robot_update(sim);
    EXPECT_EQ(robot.grad_angle, grad_angle);
    EXPECT_NEAR(robot.heading_error, c.expected, 1e-12);
  }
  EXPECT_NEAR(6.0 - kTwoPi, -0.283, 1e-3);
}

TEST_F(RobotTest, HeadingIsCorrectedOnceEachWayPerTick) {
  drive(0, 0.3);
  place_robot(3, 7, 3.0);
  robot_update(sim);
  EXPECT_DOUBLE_EQ(robot.heading, 3.3 - kTwoPi);

  drive(0, -0.3);
  robot.heading = -3.0;
  robot_update(sim);
  EXPECT_DOUBLE_EQ(robot.heading, -3.3 + kTwoPi);

  drive(0, 0);
  robot.heading = 10;  // possible from a world file
  robot_update(sim);
  EXPECT_DOUBLE_EQ(robot.heading, 10 - kTwoPi);  // still above pi
  robot_update(sim);
  EXPECT_DOUBLE_EQ(robot.heading, 10 - 2 * kTwoPi);

  robot.heading = kPi;  // not above pi: unchanged
  robot_update(sim);
  EXPECT_EQ(robot.heading, kPi);
}

TEST_F(RobotTest, StepUsesTheHeadingAfterTheTurn) {
  world_free_walls(sim);
  drive(0.04, 0.5);
  place_robot(5, 5, 0.2);
  robot_update(sim);
  EXPECT_NEAR(robot.x, 5 + 0.04 * portable_cos(0.7), 1e-12);
  EXPECT_NEAR(robot.y, 5 + 0.04 * portable_sin(0.7), 1e-12);
  EXPECT_NEAR(robot.vel_x, 0.04 * portable_cos(0.7), 1e-12);
}

TEST_F(RobotTest, AutomaticModeRunsOnlyOutsideManualMode) {
  drive(0.2, 0.6);
  place_robot(5, 5, 0);
  robot_update(sim);
  EXPECT_EQ(robot.speed, 0.2);
  EXPECT_EQ(robot.turn, 0.6);

  sim.manual_mode = false;
  robot_update(sim);
  EXPECT_GE(robot.speed, 0);
  EXPECT_LE(robot.speed, 0.05);
  EXPECT_LE(std::fabs(robot.turn), 0.3);
}

// ---------------------------------------------------------------------------
// Push-back and clamp

struct approach {
  double heading;
  wall_spec wall;
  double x;
  double y;
};

// Distance from the robot's centre to the face it drives at.
double face_distance(robot_state& robot, const approach& a) {
  if (portable_cos(a.heading) > 0.5) return a.wall.x - robot.x;
  if (portable_cos(a.heading) < -0.5) return robot.x - (a.wall.x + a.wall.width);
  if (portable_sin(a.heading) > 0.5) return a.wall.y - robot.y;
  return robot.y - (a.wall.y + a.wall.height);
}

const approach kApproaches[] = {
    {0, {7, 2, 1, 6}, 5, 5},
    {kPi, {2, 2, 1, 6}, 5, 5},
    {kPi / 2, {2, 7, 6, 1}, 5, 5},
    {-kPi / 2, {2, 2, 6, 1}, 5, 5},
};

TEST_F(RobotTest, DrivenStraightAtAFaceAtSpeed003TheRobotStopsAQuarterFromIt) {
  for (const approach& a : kApproaches) {
    SCOPED_TRACE(a.heading);
    world_setup(sim);
    world_add_wall(sim, a.wall.x, a.wall.y, a.wall.width, a.wall.height);
    drive(0.03, 0);
    place_robot(a.x, a.y, a.heading);
    for (int tick = 0; tick < 300; ++tick) robot_update(sim);
    EXPECT_NEAR(face_distance(robot, a), 0.25, 1e-6);
    // It stays there.
    robot_update(sim);
    EXPECT_NEAR(face_distance(robot, a), 0.25, 1e-6);
    EXPECT_EQ(robot.heading, a.heading);
  }
}

TEST_F(RobotTest, PushesOfAllRaysFromTheCandidateAccumulate) {
  // At rest 0.2 from a face: the straight ray pushes 0.05 and the rays at +-30
  // degrees (0.231 to the face) 0.019 each, together 0.0830 along -x.
  world_add_wall(sim, 7, 2, 1, 6);
  drive(0, 0);
  place_robot(6.8, 5, 0);
  robot_update(sim);
  EXPECT_NEAR(7 - robot.x, 0.25 + 2 * (0.25 * portable_cos(kPi / 6) - 0.2), 1e-12);
  EXPECT_NEAR(robot.y, 5, 1e-12);
  // The rays turn with the heading: at 0.1 rad they are no longer symmetric
  // about the face's normal, and the push gains a y component.
  place_robot(6.8, 5, 0.1);
  robot_update(sim);
  EXPECT_GT(std::fabs(robot.y - 5), 1e-3);
}

TEST_F(RobotTest, DrivenAlongXAtAFaceTheRobotNeverComesCloserThanAQuarter) {
  // Along +x the rays are exactly horizontal, so the straight-ahead ray meets the
  // face on every tick of the approach.
  world_add_wall(sim, 7, 2, 1, 6);
  drive(0.03, 0);
  place_robot(5, 5, 0);
  for (int tick = 0; tick < 120; ++tick) {
    robot_update(sim);
    ASSERT_GE(7 - robot.x, 0.25 - 1e-9) << "tick " << tick;
  }
}

TEST_F(RobotTest, DrivenAtAFaceAtSpeed01TheRobotCyclesInsteadOfSettling) {
  world_add_wall(sim, 7, 2, 1, 6);
  drive(0.1, 0);
  place_robot(5, 5, 0);
  for (int tick = 0; tick < 200; ++tick) robot_update(sim);
  std::vector<double> distances;
  for (int tick = 0; tick < 8; ++tick) {
    robot_update(sim);
    distances.push_back(7 - robot.x);
  }
  // The cycle 0.25, 0.38, 0.28, 0.32 repeats every four ticks.
  for (int n = 0; n < 4; ++n) EXPECT_NEAR(distances[n], distances[n + 4], 1e-9);
  std::vector<double> cycle(distances.begin(), distances.begin() + 4);
  std::sort(cycle.begin(), cycle.end());
  EXPECT_NEAR(cycle[0], 0.25, 1e-6);
  EXPECT_NEAR(cycle[1], 0.283, 1e-3);
  EXPECT_NEAR(cycle[2], 0.317, 1e-3);
  EXPECT_NEAR(cycle[3], 0.383, 1e-3);
}

TEST_F(RobotTest, StepsOutOfTheWorldEndHalfTheSizeFromTheBorder) {
  world_free_walls(sim);
  drive(0.1, 0);
  place_robot(9.7, 5, 0);
  robot_update(sim);
  EXPECT_EQ(robot.x, 9.75);
  place_robot(0.3, 5, kPi);
  robot_update(sim);
  EXPECT_EQ(robot.x, 0.25);
  place_robot(5, 9.7, kPi / 2);
  robot_update(sim);
  EXPECT_EQ(robot.y, 9.75);
  place_robot(5, 0.3, -kPi / 2);
  robot_update(sim);
  EXPECT_EQ(robot.y, 0.25);
}

TEST_F(RobotTest, ClampUsesTheSizeFieldsNotTheDiameter) {
  world_free_walls(sim);
  robot.size_x = 1;
  robot.size_y = 2;
  drive(0.1, 0);
  place_robot(9.7, 5, 0);
  robot_update(sim);
  EXPECT_EQ(robot.x, 9.5);
  place_robot(0.6, 5, kPi);
  robot_update(sim);
  EXPECT_EQ(robot.x, 0.5);
  place_robot(5, 0.9, -kPi / 2);
  robot_update(sim);
  EXPECT_EQ(robot.y, 1);
}

TEST_F(RobotTest, NotANumberPositionEndsClampedInsideTheWorld) {
  drive(0.03, 0);
  place_robot(std::nan(""), std::nan(""), 0.5);
  robot_update(sim);
  EXPECT_TRUE(std::isfinite(robot.x));
  EXPECT_TRUE(std::isfinite(robot.y));
  EXPECT_GE(robot.x, 0.25);
  EXPECT_LE(robot.x, 9.75);
  EXPECT_GE(robot.y, 0.25);
  EXPECT_LE(robot.y, 9.75);
  for (const impact_node* i = world.impacts; i; i = i->next) {
    EXPECT_TRUE(std::isfinite(i->x) && std::isfinite(i->y));
  }
}

TEST_F(RobotTest, RobotAtRestStaysPut) {
  drive(0, 0);
  place_robot(4, 6, 1.1);
  for (int tick = 0; tick < 10; ++tick) robot_update(sim);
  EXPECT_EQ(robot.x, 4);
  EXPECT_EQ(robot.y, 6);
  EXPECT_EQ(robot.heading, 1.1);
}

}  // namespace
