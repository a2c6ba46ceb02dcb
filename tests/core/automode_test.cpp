// The automatic mode: the one-second ramp timers, the obstruction sum, speed and
// turn, and set_motion's noise.
#include <cmath>
#include <cstdlib>

#include "test_support.h"

namespace {

class TimerTest : public SimulationTest {};

class AutoModeTest : public SimulationTest {
 protected:
  void SetUp() override {
    SimulationTest::SetUp();
    clear_sensors();
    robot.heading_error = 0;
  }

  static void clear_sensors() {
    for (int i = 0; i < kNumSensors; ++i) {
      robot.sensor_value[i] = 0;
      robot.sensor_hit[i] = false;
    }
  }
};

// ---------------------------------------------------------------------------
// Ramp timer

TEST_F(TimerTest, IndexAboveNineReturnsZeroAndTouchesNoTimer) {
  EXPECT_EQ(timer_func(5, 10, 0, 1), 0);
  EXPECT_EQ(timer_func(5, 4000000000u, 0, 1), 0);
  // Timer 9, the last one, works; nothing was armed by the calls above.
  EXPECT_EQ(timer_func(0, 9, 1, 1), 0);
  advance_simulated_clock(0.5);
  EXPECT_EQ(timer_func(0, 9, 1, 1), 0);
  EXPECT_EQ(timer_func(1, 9, 1, 4), 0);  // arms
  advance_simulated_clock(0.5);
  EXPECT_EQ(timer_func(0, 9, 1, 4), 2.0);
}

TEST_F(TimerTest, InputEqualToTheThresholdArmsAndJustBelowDoesNot) {
  EXPECT_EQ(timer_func(1.9999999, 0, 2.0, 2.0), 0);
  advance_simulated_clock(0.25);
  EXPECT_EQ(timer_func(0, 0, 2.0, 2.0), 0);  // still idle

  EXPECT_EQ(timer_func(2.0, 0, 2.0, 2.0), 0);  // arms at t0
  advance_simulated_clock(0.25);
  EXPECT_EQ(timer_func(0, 0, 2.0, 2.0), 0.5);  // ramps whatever the input
}

TEST_F(TimerTest, RampRisesToItsLimitThenGivesOneExactlyOnceAndRearms) {
  EXPECT_EQ(timer_func(3, 0, 2, 2), 0);
  advance_simulated_clock(0.25);
  EXPECT_EQ(timer_func(0, 0, 2, 2), 0.5);
  advance_simulated_clock(0.25);
  EXPECT_EQ(timer_func(0, 0, 2, 2), 1.0);
  advance_simulated_clock(0.5);  // exactly one second: still ramping
  EXPECT_EQ(timer_func(0, 0, 2, 2), 2.0);
  advance_simulated_clock(0.001);
  EXPECT_EQ(timer_func(0, 0, 2, 2), 1.0);  // the closing 1.0, whatever the limit
  advance_simulated_clock(0.25);
  EXPECT_EQ(timer_func(0, 0, 2, 2), 0);  // idle
  EXPECT_EQ(timer_func(2, 0, 2, 2), 0);  // re-arms
  advance_simulated_clock(0.25);
  EXPECT_NEAR(timer_func(0, 0, 2, 2), 0.5, 1e-9);
}

TEST_F(TimerTest, ClosingCallReturnsOneEvenWithTheInputAboveTheThreshold) {
  timer_func(5, 0, 2, 2);
  advance_simulated_clock(1.5);
  EXPECT_EQ(timer_func(5, 0, 2, 2), 1.0);  // does not re-arm in the same call
  advance_simulated_clock(0.25);
  EXPECT_EQ(timer_func(0, 0, 2, 2), 0);
}

TEST_F(TimerTest, NegativeLimitRampsDown) {
  timer_func(1, 1, 1, -1.5);
  advance_simulated_clock(0.5);
  EXPECT_EQ(timer_func(0, 1, 1, 7), -0.75);  // the limit armed with counts
}

TEST_F(TimerTest, TimersAreIndependent) {
  timer_func(1, 0, 1, 2);
  advance_simulated_clock(0.5);
  timer_func(1, 3, 1, 4);
  EXPECT_EQ(timer_func(0, 0, 1, 2), 1.0);  // 0.5 s * 2
  EXPECT_EQ(timer_func(0, 3, 1, 4), 0);    // armed just now
  EXPECT_EQ(timer_func(0, 2, 1, 4), 0);    // never armed
  advance_simulated_clock(0.25);
  EXPECT_EQ(timer_func(0, 0, 1, 2), 1.5);
  EXPECT_EQ(timer_func(0, 3, 1, 4), 1.0);
}

// ---------------------------------------------------------------------------
// Speed and turn

TEST_F(AutoModeTest, OpenSpaceDrivesAtFullSpeedSteeringByTheAveragedError) {
  robot.heading_error = 1.0;
  robot_auto_mode();  // average of 0 and 1
  EXPECT_EQ(robot.speed, 0.05);
  EXPECT_NEAR(robot.turn, 0.15 * 0.5, 1e-15);
  EXPECT_EQ(nav_average[0], 0);
  EXPECT_EQ(nav_average[1], 1.0);
  robot_auto_mode();
  EXPECT_NEAR(robot.turn, 0.15, 1e-15);
  robot.heading_error = -1.0;
  robot_auto_mode();  // average of 1 and -1
  EXPECT_NEAR(robot.turn, 0, 1e-15);
  EXPECT_EQ(nav_average[0], 1.0);
  EXPECT_EQ(nav_average[1], -1.0);
}

TEST_F(AutoModeTest, TurnIsLimitedToPointThreeEachWay) {
  robot.heading_error = kPi;
  robot_auto_mode();
  robot_auto_mode();  // 0.15 pi from the steering term
  EXPECT_EQ(robot.turn, 0.3);
  robot.heading_error = -kPi;
  robot_auto_mode();
  robot_auto_mode();
  EXPECT_EQ(robot.turn, -0.3);
  // Equal readings on sensors 0 and 2 cancel.
  robot.sensor_value[0] = robot.sensor_value[2] = 1.0;
  robot.heading_error = kPi;
  robot_auto_mode();
  robot_auto_mode();
  EXPECT_EQ(robot.turn, 0.3);
}

TEST_F(AutoModeTest, TurnsAwayFromTheSideThatReadsHigher) {
  robot.sensor_value[0] = 1.0;  // a wall near sensor 0's side
  robot_auto_mode();
  EXPECT_NEAR(robot.turn, 0.05, 1e-15);  // toward sensor 2's side
  clear_sensors();
  robot.sensor_value[2] = 1.0;
  robot_auto_mode();
  EXPECT_NEAR(robot.turn, -0.05, 1e-15);
}

TEST_F(AutoModeTest, SpeedFallsWithSensorZerosReadingCountedTwice) {
  robot.sensor_value[0] = 1.0;
  robot_auto_mode();
  EXPECT_NEAR(robot.speed, 0.05 * 0.7, 1e-15);
  clear_sensors();
  robot.sensor_value[2] = 1.5;  // sensor 2 does not enter the speed
  robot.sensor_value[1] = 1.5;
  robot_auto_mode();
  EXPECT_EQ(robot.speed, 0.05);
}

TEST_F(AutoModeTest, ProbeOfTheFrontSensorAloneArmsTheSlowDown) {
  robot.sensor_hit[1] = true;  // S = 2
  robot_auto_mode();
  EXPECT_EQ(robot.speed, 0.05);  // the arming call ramps from 0
  clear_sensors();
  advance_simulated_clock(0.25);
  robot_auto_mode();  // r0 = 0.5
  EXPECT_NEAR(robot.speed, 0.05 * (1 - 1.1 * 0.5), 1e-15);
}

TEST_F(AutoModeTest, SideProbesAloneDoNotArmTheSlowDown) {
  robot.sensor_hit[0] = true;
  robot.sensor_hit[2] = true;  // S = 0.8
  robot_auto_mode();
  clear_sensors();
  advance_simulated_clock(0.25);
  robot_auto_mode();
  EXPECT_EQ(robot.speed, 0.05);
}

TEST_F(AutoModeTest, ReadingsAloneReachAtMost1Point6) {
  robot.sensor_value[0] = robot.sensor_value[1] = robot.sensor_value[2] = 2.0;
  robot_auto_mode();  // S = 1.6
  clear_sensors();
  advance_simulated_clock(0.25);
  robot_auto_mode();
  EXPECT_EQ(robot.speed, 0.05);
}

TEST_F(AutoModeTest, WorldWithoutWallsArmsTheSlowDownAndCrawls) {
  for (int i = 0; i < kNumSensors; ++i) robot.sensor_value[i] = 3;  // S = 2.4
  robot_auto_mode();
  EXPECT_NEAR(robot.speed, 0.005, 1e-15);
  advance_simulated_clock(0.25);
  robot_auto_mode();  // r0 = 0.5: 0.05 * (1 - 0.9 - 0.55) = -0.0225, mirrored
  EXPECT_NEAR(robot.speed, 0.0225, 1e-15);
}

TEST_F(AutoModeTest, NegativeSpeedIsMirroredThenCapped) {
  robot.sensor_hit[1] = true;
  robot_auto_mode();  // arms the slow-down at t0
  clear_sensors();
  advance_simulated_clock(0.75);
  robot_auto_mode();  // r0 = 1.5: raw speed -0.0325
  EXPECT_NEAR(robot.speed, 0.0325, 1e-15);
  advance_simulated_clock(0.25);
  robot_auto_mode();  // r0 = 2: raw speed -0.06, mirrored to 0.06, capped
  EXPECT_EQ(robot.speed, 0.05);
  advance_simulated_clock(0.01);
  robot_auto_mode();  // the closing 1.0: raw -0.005
  EXPECT_NEAR(robot.speed, 0.005, 1e-15);
}

TEST_F(AutoModeTest, RandomTurnArmsHalfASecondIntoTheSlowDownWithTheDrawOfThatCall) {
  std::srand(2024);
  double draws[4];
  for (double& d : draws) d = f_rand(-2, 2);
  const int next_rand = std::rand();
  std::srand(2024);

  robot.sensor_hit[1] = true;
  robot_auto_mode();  // t0: slow-down arms; draw 0
  clear_sensors();
  advance_simulated_clock(0.375);
  robot_auto_mode();  // r0 = 0.75: the random turn stays idle; draw 1
  EXPECT_NEAR(robot.turn, 0, 1e-15);
  advance_simulated_clock(0.125);
  robot_auto_mode();  // r0 = 1.0: the random turn arms with draw 2, returns 0
  EXPECT_NEAR(robot.turn, 0, 1e-15);
  advance_simulated_clock(0.25);
  robot_auto_mode();  // r1 = 0.25 * draw 2; draw 3 is made but unused
  const double expected = -0.1 * 0.25 * draws[2];
  EXPECT_NEAR(robot.turn, expected, 1e-12);
  EXPECT_EQ(std::rand(), next_rand) << "one draw per call";
}

TEST_F(AutoModeTest, EveryCallDrawsOneRandomNumber) {
  std::srand(7);
  for (int n = 0; n < 10; ++n) std::rand();
  const int eleventh = std::rand();
  std::srand(7);
  for (int n = 0; n < 10; ++n) robot_auto_mode();
  EXPECT_EQ(std::rand(), eleventh);
}

// ---------------------------------------------------------------------------
// Motion with noise

TEST_F(AutoModeTest, SetMotionCapsTheSpeedAt007) {
  set_motion(0.1, 0, 0, 0);
  EXPECT_EQ(robot.speed, 0.07);
  EXPECT_EQ(robot.turn, 0);
  set_motion(-1, 0.5, 0, 0);  // no lower bound, no bound on the turn
  EXPECT_EQ(robot.speed, -1);
  EXPECT_EQ(robot.turn, 0.5);
}

TEST_F(AutoModeTest, SetMotionDrawsTheSpeedNoiseBeforeTheTurnNoise) {
  std::srand(11);
  const double speed_noise = f_rand(-0.01, 0.01);
  const double turn_noise = f_rand(-0.2, 0.2);
  std::srand(11);
  set_motion(0.02, 0.1, 0.01, 0.2);
  EXPECT_EQ(robot.speed, 0.02 + speed_noise);
  EXPECT_EQ(robot.turn, 0.1 + turn_noise);
}

TEST_F(AutoModeTest, SetMotionDoesNothingInManualMode) {
  manual_mode = true;
  robot.speed = 0.01;
  robot.turn = 0.02;
  std::srand(3);
  const int first = std::rand();
  std::srand(3);
  set_motion(0.1, 0.5, 0.1, 0.1);
  EXPECT_EQ(robot.speed, 0.01);
  EXPECT_EQ(robot.turn, 0.02);
  EXPECT_EQ(std::rand(), first);
}

}  // namespace
