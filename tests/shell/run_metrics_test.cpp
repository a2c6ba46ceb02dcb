// The run metrics on built situations: a straight run to a target, a robot
// driven into a wall, a robot boxed in, a robot that stands and then leaves.
#include "shell/run_metrics.h"

#include <cmath>
#include <vector>

#include "../core/test_support.h"

namespace {

constexpr std::uint64_t kTickMs = 10;

class RunMetricsTest : public SimulationTest {
 protected:
  void SetUp() override {
    SimulationTest::SetUp();
    // Manual mode without keys: each tick moves the robot by exactly the speed set.
    sim.manual_mode = true;
  }

  void drive(double speed) {
    robot.speed = speed;
    robot.turn = 0;
  }

  void start(bool keep_events = true) {
    now_ms_ = 0;
    run_metrics_start(app, now_ms_, keep_events);
  }

  // Ticks as a run without a window does: observation around each world step.
  void ticks(int count, std::uint64_t period_ms = kTickMs) {
    for (int n = 0; n < count; ++n) {
      run_metrics_before_tick(app);
      advance_simulated_clock(sim, static_cast<double>(period_ms) / 1000.0);
      now_ms_ += period_ms;
      world_update(sim);
      run_metrics_after_tick(app, now_ms_);
    }
  }

  std::uint64_t now_ms_ = 0;
};

TEST_F(RunMetricsTest, StraightRunToATargetGivesItsTicksAndDistances) {
  place_robot(2.01, 5.0, 0.0);
  world_set_target(sim, 6.0, 5.0);  // far from the robot's start; not yet seen by the metrics
  start();
  world_set_target(sim, 6.0, 5.0);  // the same point again is no change
  drive(0.025);
  // After 148 steps the robot is at x = 5.71, within 0.3 of the target; the 149th
  // tick finds it there and draws a new target before it moves.
  ticks(148);
  EXPECT_TRUE(run_metrics(app).targets.empty());
  const double new_target_before[2] = {world.target_x, world.target_y};
  ticks(1);
  EXPECT_NE(world.target_x, new_target_before[0]);

  const run_metrics_record m = run_metrics(app);
  ASSERT_EQ(m.targets.size(), 1u);
  const target_event& e = m.targets[0];
  EXPECT_EQ(e.tick, 149u);
  EXPECT_EQ(e.time_ms, 1490u);
  EXPECT_EQ(e.ticks_since, 149u);
  EXPECT_NEAR(e.distance_since, 148 * 0.025, 1e-9);
  EXPECT_NEAR(e.distance_when_set, 3.99, 1e-12);
  EXPECT_EQ(e.x, 6.0);
  EXPECT_EQ(e.y, 5.0);
  EXPECT_NEAR(m.distance, 149 * 0.025, 1e-9);
  EXPECT_EQ(m.contacts, 0u);
  EXPECT_TRUE(m.stuck.empty());

  // The next target was set on tick 149 with the robot where that tick began.
  const double tx = world.target_x;
  const double ty = world.target_y;
  const double from_x = 2.01 + 148 * 0.025;
  place_robot(tx - 0.1, ty, 0.0);  // put beside it: no travel, reached next tick
  drive(0.0);
  ticks(1);
  const run_metrics_record after = run_metrics(app);
  ASSERT_EQ(after.targets.size(), 2u);
  EXPECT_EQ(after.targets[1].ticks_since, 1u);
  EXPECT_NEAR(after.targets[1].distance_since, 0.025, 1e-9);  // tick 149's step only
  EXPECT_NEAR(after.targets[1].distance_when_set, std::hypot(tx - from_x, ty - 5.0), 1e-9);
  EXPECT_NEAR(after.distance, 149 * 0.025, 1e-9);
}

TEST_F(RunMetricsTest, RobotDrivenIntoAWallCountsEveryTickItIsPushedBack) {
  world_add_wall(sim, 6.0, 3.0, 0.4, 4.0);
  world_set_target(sim, 2.0, 8.0);
  place_robot(5.0, 5.0, 0.0);
  start();
  drive(0.02);
  int shortened_steps = 0;
  for (int n = 0; n < 700; ++n) {
    const double x = robot.x;
    ticks(1);
    // A push-back shortens the commanded step; nothing else does here.
    if (robot.x - x < 0.02 - 1e-12) ++shortened_steps;
  }
  const run_metrics_record m = run_metrics(app);
  EXPECT_GT(shortened_steps, 600);
  EXPECT_EQ(m.contacts, static_cast<std::uint64_t>(shortened_steps));
  // The body is held about one radius from the wall's face at x = 6.
  EXPECT_LT(m.least_push_distance, 0.25);
  EXPECT_GT(m.least_push_distance, 0.2);
  EXPECT_LT(robot.x, 6.0 - 0.2);
  // Held at the wall for more than 5 s: that is a stuck spell as well.
  ASSERT_EQ(m.stuck.size(), 1u);
}

TEST_F(RunMetricsTest, RobotInTheOpenHasNoContacts) {
  world_set_target(sim, 2.0, 8.0);
  place_robot(3.0, 5.0, 0.0);
  start();
  drive(0.02);
  ticks(150);
  const run_metrics_record m = run_metrics(app);
  EXPECT_EQ(m.contacts, 0u);
  EXPECT_GT(m.least_push_distance, 2.0 - 1e-9);  // the vision reports nothing nearer
}

TEST_F(RunMetricsTest, BoxedInRobotRecordsOneStuckSpellFromFiveSeconds) {
  // Automatic mode in a box in the world's corner, a little wider than the body:
  // the centre can move less than 0.18 from where it starts. A boxed-in robot
  // elsewhere would "reach" the random targets the planner draws right beside it
  // when it finds no path out; new targets lie at least 1 from the walls, so here
  // none can come within reach.
  sim.manual_mode = false;
  world_add_wall(sim, 0.8, 0.0, 0.15, 1.0);
  world_add_wall(sim, 0.0, 0.8, 1.0, 0.15);
  world_set_target(sim, 8.0, 8.0);
  place_robot(0.425, 0.425, 0.3);
  start();
  // Ticks of 50 ms keep the test short: the planner tries its random targets on
  // every tick here.
  ticks(99, 50);
  EXPECT_TRUE(run_metrics(app).stuck.empty()) << "4.95 s is not yet a spell";
  ticks(1, 50);
  ASSERT_EQ(run_metrics(app).stuck.size(), 1u);
  ticks(100, 50);
  const run_metrics_record m = run_metrics(app);
  ASSERT_EQ(m.stuck.size(), 1u);
  EXPECT_EQ(m.stuck[0].first_tick, 1u);
  EXPECT_EQ(m.stuck[0].last_tick, 200u);
  EXPECT_EQ(m.stuck[0].seconds(), 10.0);
  EXPECT_EQ(m.stuck_seconds(), 10.0);
  EXPECT_EQ(m.stuck[0].x, 0.425);
  EXPECT_TRUE(m.targets.empty());
  EXPECT_GT(m.contacts, 0u);
}

TEST_F(RunMetricsTest, LeavingTheRadiusEndsTheSpellAtTheLastTickInside) {
  world_set_target(sim, 2.0, 8.0);
  place_robot(5.0, 5.0, 0.0);
  start();
  drive(0.0);
  ticks(600);
  drive(0.06);  // 0.24 from the start after 604 ticks, 0.30 after 605
  ticks(20);
  drive(0.0);
  ticks(300);  // 3 s standing again: too short
  const run_metrics_record m = run_metrics(app);
  ASSERT_EQ(m.stuck.size(), 1u);
  EXPECT_EQ(m.stuck[0].first_tick, 1u);
  EXPECT_EQ(m.stuck[0].last_tick, 604u);
  EXPECT_EQ(m.stuck[0].start_ms, 0u);
  EXPECT_EQ(m.stuck[0].end_ms, 6040u);
  EXPECT_NEAR(m.distance, 20 * 0.06, 1e-9);
}

TEST_F(RunMetricsTest, ReachingATargetEndsASpan) {
  // Standing beside targets placed one after another: never stuck, as each tick
  // reaches one.
  place_robot(5.0, 5.0, 0.0);
  drive(0.0);
  start();
  for (int n = 0; n < 700; ++n) {
    world_set_target(sim, 5.1, 5.0);
    ticks(1);
  }
  const run_metrics_record m = run_metrics(app);
  EXPECT_EQ(m.targets.size(), 700u);
  EXPECT_TRUE(m.stuck.empty());
  EXPECT_NEAR(m.targets[5].distance_when_set, 0.1, 1e-12);
}

// Trapped time: stretches of 10 s or more in which no target was reached and the
// distance to the target never fell 0.1 below its best, moving or not; a target
// set by a click starts its own best.
TEST_F(RunMetricsTest, TrappedTimeCountsStretchesWithoutProgressTowardTheTarget) {
  struct leg {
    double speed;  // per 10 ms tick, heading +x
    int ticks;
    bool new_target_after = false;  // a click's target at the leg's end
  };
  struct trap_case {
    const char* name;
    double target_x;  // the robot starts at (5, 5); the target is at (target_x, 5)
    std::vector<leg> legs;
    double trapped_seconds;
  };
  const trap_case kCases[] = {
      {"standing 9.99 s", 1.0, {{0.0, 999}}, 0.0},
      {"standing 10 s", 1.0, {{0.0, 1000}}, 10.0},
      {"sliding away 15 s", 1.0, {{0.001, 1500}}, 15.0},
      {"creeping closer by 0.1 a second", 9.0, {{0.001, 1500}}, 0.0},
      {"closer, then standing 12 s", 9.0, {{0.2, 1}, {0.0, 1200}}, 12.0},
      {"a new target set is no progress", 1.0, {{0.0, 600, true}, {0.0, 600}}, 12.0},
      {"heading for a new target", 1.0, {{0.0, 600, true}, {0.0, 1}, {-0.001, 600}}, 0.0},
      {"two stretches", 9.0, {{0.0, 1100}, {0.2, 1}, {0.0, 1050}}, 21.5},
  };
  for (const trap_case& c : kCases) {
    SCOPED_TRACE(c.name);
    start_afresh();
    sim.manual_mode = true;
    place_robot(5.0, 5.0, 0.0);
    world_set_target(sim, c.target_x, 5.0);
    start();
    for (const leg& l : c.legs) {
      drive(l.speed);
      ticks(l.ticks);
      if (l.new_target_after) world_set_target(sim, c.target_x, 2.0);
    }
    const run_metrics_record m = run_metrics(app);
    EXPECT_EQ(m.trapped_seconds(), c.trapped_seconds);
    EXPECT_EQ(m.targets_reached, 0u);
    EXPECT_EQ(m.first_target_ms, 0u);
  }
}

TEST_F(RunMetricsTest, TheFirstTargetsTimeIsKeptAfterLaterOnes) {
  place_robot(2.0, 2.0, 0.0);
  world_set_target(sim, 8.0, 8.0);
  drive(0.0);
  start();
  ticks(250);
  EXPECT_EQ(run_metrics(app).first_target_ms, 0u);
  for (int n = 0; n < 3; ++n) {
    world_set_target(sim, 2.1, 2.0);
    ticks(1);
  }
  const run_metrics_record m = run_metrics(app);
  EXPECT_EQ(m.targets_reached, 3u);
  EXPECT_EQ(m.first_target_ms, 2510u);
  EXPECT_EQ(m.trapped_seconds(), 0.0);
}

TEST_F(RunMetricsTest, WithoutTheEventListsTheTotalsAreTheSame) {
  auto run = [this](bool keep_events) {
    start_afresh();
    sim.manual_mode = true;
    world_set_target(sim, 2.0, 8.0);
    place_robot(5.0, 5.0, 0.0);
    start(keep_events);
    drive(0.0);
    ticks(600);  // a spell of 6 s
    for (int n = 0; n < 3; ++n) {
      world_set_target(sim, 5.1, 5.0);
      ticks(1);
    }
    ticks(550);  // and one of 5.5 s still open at the end
    return run_metrics(app);
  };
  const run_metrics_record kept = run(true);
  const run_metrics_record totals = run(false);
  EXPECT_EQ(kept.targets.size(), 3u);
  EXPECT_EQ(kept.stuck.size(), 2u);
  EXPECT_TRUE(totals.targets.empty());
  EXPECT_TRUE(totals.stuck.empty());
  for (const run_metrics_record* m : {&kept, &totals}) {
    EXPECT_EQ(m->targets_reached, 3u);
    EXPECT_EQ(m->stuck_spells, 2u);
    EXPECT_EQ(m->stuck_ms, 6000u + 5500u);
    EXPECT_EQ(m->longest_stuck_ms, 6000u);
  }
}

TEST_F(RunMetricsTest, NothingIsObservedBeforeAStartOrAfterAReset) {
  ticks(10);
  EXPECT_EQ(run_metrics(app).ticks, 0u);
  start();
  ticks(10);
  EXPECT_EQ(run_metrics(app).ticks, 10u);
  simulation_reset(app);
  const run_metrics_record m = run_metrics(app);
  EXPECT_EQ(m.ticks, 0u);
  EXPECT_EQ(m.distance, 0.0);
  EXPECT_TRUE(m.stuck.empty());
  EXPECT_EQ(sim.last_push_back.least_distance, INFINITY);
}

}  // namespace
