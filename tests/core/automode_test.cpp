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

  void clear_sensors() {
    for (int i = 0; i < kNumSensors; ++i) {
      robot.sensor_value[i] = 0;
      robot.sensor_hit[i] = false;
    }
  }
};

// ---------------------------------------------------------------------------
// Ramp timer

TEST_F(TimerTest, IndexAboveNineReturnsZeroAndTouchesNoTimer) {
  EXPECT_EQ(timer_func(sim, 5, 10, 0, 1), 0);
  EXPECT_EQ(timer_func(sim, 5, 4000000000u, 0, 1), 0);
  // Timer 9, the last one, works; nothing was armed by the calls above.
  EXPECT_EQ(timer_func(sim, 0, 9, 1, 1), 0);
  advance_simulated_clock(sim, 0.5);
  EXPECT_EQ(timer_func(sim, 0, 9, 1, 1), 0);
  EXPECT_EQ(timer_func(sim, 1, 9, 1, 4), 0);  // arms
  advance_simulated_clock(sim, 0.5);
  EXPECT_EQ(timer_func(sim, 0, 9, 1, 4), 2.0);
}

TEST_F(TimerTest, InputEqualToTheThresholdArmsAndJustBelowDoesNot) {
  EXPECT_EQ(timer_func(sim, 1.9999999, 0, 2.0, 2.0), 0);
  advance_simulated_clock(sim, 0.25);
  EXPECT_EQ(timer_func(sim, 0, 0, 2.0, 2.0), 0);  // still idle

  EXPECT_EQ(timer_func(sim, 2.0, 0, 2.0, 2.0), 0);  // arms at t0
  advance_simulated_clock(sim, 0.25);
  EXPECT_EQ(timer_func(sim, 0, 0, 2.0, 2.0), 0.5);  // ramps whatever the input
}

TEST_F(TimerTest, RampRisesToItsLimitThenGivesOneExactlyOnceAndRearms) {
  EXPECT_EQ(timer_func(sim, 3, 0, 2, 2), 0);
  advance_simulated_clock(sim, 0.25);
  EXPECT_EQ(timer_func(sim, 0, 0, 2, 2), 0.5);
  advance_simulated_clock(sim, 0.25);
  EXPECT_EQ(timer_func(sim, 0, 0, 2, 2), 1.0);
  advance_simulated_clock(sim, 0.5);  // exactly one second: still ramping
  EXPECT_EQ(timer_func(sim, 0, 0, 2, 2), 2.0);
  advance_simulated_clock(sim, 0.001);
  EXPECT_EQ(timer_func(sim, 0, 0, 2, 2), 1.0);  // the closing 1.0, whatever the limit
  advance_simulated_clock(sim, 0.25);
  EXPECT_EQ(timer_func(sim, 0, 0, 2, 2), 0);  // idle
  EXPECT_EQ(timer_func(sim, 2, 0, 2, 2), 0);  // re-arms
  advance_simulated_clock(sim, 0.25);
  EXPECT_NEAR(timer_func(sim, 0, 0, 2, 2), 0.5, 1e-9);
}

TEST_F(TimerTest, ClosingCallReturnsOneEvenWithTheInputAboveTheThreshold) {
  timer_func(sim, 5, 0, 2, 2);
  advance_simulated_clock(sim, 1.5);
  EXPECT_EQ(timer_func(sim, 5, 0, 2, 2), 1.0);  // does not re-arm in the same call
  advance_simulated_clock(sim, 0.25);
  EXPECT_EQ(timer_func(sim, 0, 0, 2, 2), 0);
}

TEST_F(TimerTest, NegativeLimitRampsDown) {
  timer_func(sim, 1, 1, 1, -1.5);
  advance_simulated_clock(sim, 0.5);
  EXPECT_EQ(timer_func(sim, 0, 1, 1, 7), -0.75);  // the limit armed with counts
}

TEST_F(TimerTest, TimersAreIndependent) {
  timer_func(sim, 1, 0, 1, 2);
  advance_simulated_clock(sim, 0.5);
  timer_func(sim, 1, 3, 1, 4);
  EXPECT_EQ(timer_func(sim, 0, 0, 1, 2), 1.0);  // 0.5 s * 2
  EXPECT_EQ(timer_func(sim, 0, 3, 1, 4), 0);    // armed just now
  EXPECT_EQ(timer_func(sim, 0, 2, 1, 4), 0);    // never armed
  advance_simulated_clock(sim, 0.25);
  EXPECT_EQ(timer_func(sim, 0, 0, 1, 2), 1.5);
  EXPECT_EQ(timer_func(sim, 0, 3, 1, 4), 1.0);
}

// ---------------------------------------------------------------------------
// Speed and turn

TEST_F(AutoModeTest, OpenSpaceDrivesAtFullSpeedSteeringByTheAveragedError) {
  robot.heading_error = 1.0;
  robot_auto_mode(sim);  // average of 0 and 1
  EXPECT_EQ(robot.speed, 0.05);
  EXPECT_NEAR(robot.turn, 0.15 * 0.5, 1e-15);
  EXPECT_EQ(sim.automode.nav_average[0], 0);
  EXPECT_EQ(sim.automode.nav_average[1], 1.0);
  robot_auto_mode(sim);
  EXPECT_NEAR(robot.turn, 0.15, 1e-15);
  robot.heading_error = -1.0;
  robot_auto_mode(sim);  // average of 1 and -1
  EXPECT_NEAR(robot.turn, 0, 1e-15);
  EXPECT_EQ(sim.automode.nav_average[0], 1.0);
  EXPECT_EQ(sim.automode.nav_average[1], -1.0);
}

TEST_F(AutoModeTest, TurnIsLimitedToPointThreeEachWay) {
  robot.heading_error = kPi;
  robot_auto_mode(sim);
  robot_auto_mode(sim);  // 0.15 pi from the steering term
  EXPECT_EQ(robot.turn, 0.3);
  robot.heading_error = -kPi;
  robot_auto_mode(sim);
  robot_auto_mode(sim);
  EXPECT_EQ(robot.turn, -0.3);
  // Equal readings on sensors 0 and 2 cancel.
  robot.sensor_value[0] = robot.sensor_value[2] = 1.0;
  robot.heading_error = kPi;
  robot_auto_mode(sim);
  robot_auto_mode(sim);
  EXPECT_EQ(robot.turn, 0.3);
}

TEST_F(AutoModeTest, TurnsAwayFromTheSideThatReadsHigher) {
  robot.sensor_value[0] = 1.0;  // a wall near sensor 0's side
  robot_auto_mode(sim);
  EXPECT_NEAR(robot.turn, 0.05, 1e-15);  // toward sensor 2's side
  clear_sensors();
  robot.sensor_value[2] = 1.0;
  robot_auto_mode(sim);
  EXPECT_NEAR(robot.turn, -0.05, 1e-15);
}

TEST_F(AutoModeTest, SpeedFallsWithSensorZerosReadingCountedTwice) {
  robot.sensor_value[0] = 1.0;
  robot_auto_mode(sim);
  EXPECT_NEAR(robot.speed, 0.05 * 0.7, 1e-15);
  clear_sensors();
  robot.sensor_value[2] = 1.5;  // sensor 2 does not enter the speed
  robot.sensor_value[1] = 1.5;
  robot_auto_mode(sim);
  EXPECT_EQ(robot.speed, 0.05);
}

TEST_F(AutoModeTest, ProbeOfTheFrontSensorAloneArmsTheSlowDown) {
  robot.sensor_hit[1] = true;  // S = 2
  robot_auto_mode(sim);
  EXPECT_EQ(robot.speed, 0.05);  // the arming call ramps from 0
  clear_sensors();
  advance_simulated_clock(sim, 0.25);
  robot_auto_mode(sim);  // r0 = 0.5
  EXPECT_NEAR(robot.speed, 0.05 * (1 - 1.1 * 0.5), 1e-15);
}

TEST_F(AutoModeTest, SideProbesAloneDoNotArmTheSlowDown) {
  robot.sensor_hit[0] = true;
  robot.sensor_hit[2] = true;  // S = 0.8
  robot_auto_mode(sim);
  clear_sensors();
  advance_simulated_clock(sim, 0.25);
  robot_auto_mode(sim);
  EXPECT_EQ(robot.speed, 0.05);
}

TEST_F(AutoModeTest, ReadingsAloneReachAtMost1Point6) {
  robot.sensor_value[0] = robot.sensor_value[1] = robot.sensor_value[2] = 2.0;
  robot_auto_mode(sim);  // S = 1.6
  clear_sensors();
  advance_simulated_clock(sim, 0.25);
  robot_auto_mode(sim);
  EXPECT_EQ(robot.speed, 0.05);
}

TEST_F(AutoModeTest, WorldWithoutWallsArmsTheSlowDownAndCrawls) {
  for (int i = 0; i < kNumSensors; ++i) robot.sensor_value[i] = 3;  // S = 2.4
  robot_auto_mode(sim);
  EXPECT_NEAR(robot.speed, 0.005, 1e-15);
  advance_simulated_clock(sim, 0.25);
  robot_auto_mode(sim);  // r0 = 0.5: 0.05 * (1 - 0.9 - 0.55) = -0.0225, mirrored
  EXPECT_NEAR(robot.speed, 0.0225, 1e-15);
}

TEST_F(AutoModeTest, NegativeSpeedIsMirroredThenCapped) {
  robot.sensor_hit[1] = true;
  robot_auto_mode(sim);  // arms the slow-down at t0
  clear_sensors();
  advance_simulated_clock(sim, 0.75);
  robot_auto_mode(sim);  // r0 = 1.5: raw speed -0.0325
  EXPECT_NEAR(robot.speed, 0.0325, 1e-15);
  advance_simulated_clock(sim, 0.25);
  robot_auto_mode(sim);  // r0 = 2: raw speed -0.06, mirrored to 0.06, capped
  EXPECT_EQ(robot.speed, 0.05);
  advance_simulated_clock(sim, 0.01);
  robot_auto_mode(sim);  // the closing 1.0: raw -0.005
  EXPECT_NEAR(robot.speed, 0.005, 1e-15);
}

TEST_F(AutoModeTest, RandomTurnArmsHalfASecondIntoTheSlowDownWithTheDrawOfThatCall) {
  sim.rng.seed(2024);
  double draws[4];
  for (double& d : draws) d = f_rand(sim, -2, 2);
  const int next_rand = sim.rng.next();
  sim.rng.seed(2024);

  robot.sensor_hit[1] = true;
  robot_auto_mode(sim);  // t0: slow-down arms; draw 0
  clear_sensors();
  advance_simulated_clock(sim, 0.375);
  robot_auto_mode(sim);  // r0 = 0.75: the random turn stays idle; draw 1
  EXPECT_NEAR(robot.turn, 0, 1e-15);
  advance_simulated_clock(sim, 0.125);
  robot_auto_mode(sim);  // r0 = 1.0: the random turn arms with draw 2, returns 0
  EXPECT_NEAR(robot.turn, 0, 1e-15);
  advance_simulated_clock(sim, 0.25);
  robot_auto_mode(sim);  // r1 = 0.25 * draw 2; draw 3 is made but unused
  const double expected = -0.1 * 0.25 * draws[2];
  EXPECT_NEAR(robot.turn, expected, 1e-12);
  EXPECT_EQ(sim.rng.next(), next_rand) << "one draw per call";
}

TEST_F(AutoModeTest, EveryCallDrawsOneRandomNumber) {
  sim.rng.seed(7);
  for (int n = 0; n < 10; ++n) sim.rng.next();
  const int eleventh = sim.rng.next();
  sim.rng.seed(7);
  for (int n = 0; n < 10; ++n) robot_auto_mode(sim);
  EXPECT_EQ(sim.rng.next(), eleventh);
}

// ---------------------------------------------------------------------------
// Motion with noise

TEST_F(AutoModeTest, SetMotionCapsTheSpeedAt007) {
  set_motion(sim, 0.1, 0, 0, 0);
  EXPECT_EQ(robot.speed, 0.07);
  EXPECT_EQ(robot.turn, 0);
  set_motion(sim, -1, 0.5, 0, 0);  // no lower bound, no bound on the turn
  EXPECT_EQ(robot.speed, -1);
  EXPECT_EQ(robot.turn, 0.5);
}

TEST_F(AutoModeTest, SetMotionDrawsTheSpeedNoiseBeforeTheTurnNoise) {
  sim.rng.seed(11);
  const double speed_noise = f_rand(sim, -0.01, 0.01);
  const double turn_noise = f_rand(sim, -0.2, 0.2);
  sim.rng.seed(11);
  set_motion(sim, 0.02, 0.1, 0.01, 0.2);
  EXPECT_EQ(robot.speed, 0.02 + speed_noise);
  EXPECT_EQ(robot.turn, 0.1 + turn_noise);
}

TEST_F(AutoModeTest, SetMotionDoesNothingInManualMode) {
  sim.manual_mode = true;
  robot.speed = 0.01;
  robot.turn = 0.02;
  sim.rng.seed(3);
  const int first = sim.rng.next();
  sim.rng.seed(3);
  set_motion(sim, 0.1, 0.5, 0.1, 0.1);
  EXPECT_EQ(robot.speed, 0.01);
  EXPECT_EQ(robot.turn, 0.02);
  EXPECT_EQ(sim.rng.next(), first);
}

}  // namespace
