// The driver: start-up, the tick and the one-second count, the key table with its
// held-key repeats, the driving keys and shut-down, over a recording platform.
#include <cmath>
#include <utility>
#include <vector>

#include "../core/test_support.h"

namespace {

using timer_calls = std::vector<std::pair<int, int>>;

class DriverTest : public SimulationTest {
 protected:
  // Everything back to the state of a process that has not started yet, on the
  // simulated clock and with the console still captured.
  void fresh_process() {
    simulation_reset(app);
    use_simulated_clock(sim, 1000.0);
    set_console_sink(sim, [this](std::string_view text) { console_text.append(text); });
  }

  void press(unsigned key) { key_down(app, window, key); }
  void tap(unsigned key) {
    key_down(app, window, key);
    key_up(app, key);
  }

  fake_platform window;
};

struct robot_pose {
  double x, y, heading, speed, turn, target_x, target_y;
  int num_impacts, num_waypoints, cur_waypoint;
  bool operator==(const robot_pose&) const = default;
};

robot_pose pose_now(simulation& sim) {
  world_state& world = sim.world;
  robot_state& robot = sim.robot;
  return {
      robot.x,        robot.y,        robot.heading,     robot.speed,         robot.turn,
      world.target_x, world.target_y, world.num_impacts, world.num_waypoints, world.cur_waypoint};
}

// ---------------------------------------------------------------------------
// Start-up, ticks and shut-down

TEST_F(DriverTest, StartupMeasuresBuildsStepsDrawsAndStartsBothTimers) {
  fresh_process();
  system_startup(app, window, 42);
  EXPECT_EQ(sim.display_x, 640);
  EXPECT_EQ(sim.display_y, 480);
  EXPECT_EQ(window.images, (std::vector<std::pair<int, int>>{{640, 480}}));
  EXPECT_EQ(window.timers, (timer_calls{{101, 10}, {102, 1000}}));
  EXPECT_EQ(window.repaints, 0);
  EXPECT_TRUE(window.quits.empty());
  ASSERT_NE(app.memdc, nullptr);
  EXPECT_GT(static_cast<null_context&>(*app.memdc).shapes, 0);  // the first picture
  EXPECT_EQ(world.num_walls, 4);
  EXPECT_EQ(app.driver.updates, 0);
  const robot_pose after_startup = pose_now(sim);

  // The same as seeding, setting up the world and making one step by hand.
  fresh_process();
  sim.display_x = 640;
  sim.display_y = 480;
  sim.rng.seed(42);
  world_setup(sim);
  world_update(sim);
  EXPECT_EQ(pose_now(sim), after_startup);
}

TEST_F(DriverTest, StartupSeedsTheGenerator) {
  fresh_process();
  system_startup(app, window, 42);
  const robot_pose first = pose_now(sim);
  fresh_process();
  system_startup(app, window, 43);
  EXPECT_NE(pose_now(sim), first);
}

TEST_F(DriverTest, StartupSeededFromTheClockRuns) {
  fresh_process();
  system_startup(app, window);
  EXPECT_EQ(window.timers, (timer_calls{{101, 10}, {102, 1000}}));
  EXPECT_EQ(world.num_walls, 4);
}

TEST_F(DriverTest, ImageFollowsTheClientSizeAndEmptyOrNegativeSizesGiveZero) {
  window.width = 800;
  window.height = 600;
  memdc_setup(app, window);
  EXPECT_EQ(sim.display_x, 800);
  EXPECT_EQ(sim.display_y, 600);
  window.width = 0;
  window.height = -5;
  memdc_setup(app, window);
  EXPECT_EQ(sim.display_x, 0);
  EXPECT_EQ(sim.display_y, 0);
  EXPECT_EQ(window.images, (std::vector<std::pair<int, int>>{{800, 600}, {0, 0}}));
  EXPECT_EQ(get_world_x(sim, 100), 0);
}

TEST_F(DriverTest, TickRunsTheDrivingKeysTheStepAndTheDrawingThenAsksForARepaint) {
  memdc_setup(app, window);
  sim.manual_mode = true;
  place_robot(3, 7, 0);
  press('W');
  timer_message(app, window, 101);
  EXPECT_EQ(robot.speed, 0.03);
  EXPECT_NEAR(robot.x, 3.03, 1e-12);  // the keys were read before the step
  EXPECT_EQ(app.driver.updates, 1);
  EXPECT_EQ(window.repaints, 1);
  EXPECT_GT(static_cast<null_context&>(*app.memdc).shapes, 0);
  timer_message(app, window, 101);
  timer_message(app, window, 101);
  EXPECT_EQ(app.driver.updates, 3);
  EXPECT_EQ(window.repaints, 3);
  EXPECT_TRUE(window.timers.empty());
}

TEST_F(DriverTest, AProgramsDrivingCommandTakesThePlaceOfTheDrivingKeys) {
  sim.manual_mode = true;
  place_robot(3, 7, 0);
  press('S');
  app.driver.program_drive = drive_command{0.02, -0.01};
  timer_message(app, window, 101);
  EXPECT_EQ(robot.speed, 0.02);
  EXPECT_EQ(robot.turn, -0.01);
  timer_message(app, window, 101);  // it holds from tick to tick
  EXPECT_EQ(robot.speed, 0.02);
  // A tick in automatic mode drops it; back in manual mode the keys drive again.
  sim.manual_mode = false;
  timer_message(app, window, 101);
  EXPECT_FALSE(app.driver.program_drive.has_value());
  sim.manual_mode = true;
  timer_message(app, window, 101);
  EXPECT_EQ(robot.speed, -0.03);
}

TEST_F(DriverTest, RateTimerPublishesTheCountOfTheLastSecond) {
  memdc_setup(app, window);
  EXPECT_EQ(app.driver.updates_per_second, 0);  // before the first report
  for (int n = 0; n < 7; ++n) timer_message(app, window, 101);
  timer_message(app, window, 102);
  EXPECT_EQ(app.driver.updates_per_second, 7);
  EXPECT_EQ(app.driver.updates, 0);
  timer_message(app, window, 101);
  EXPECT_EQ(app.driver.updates_per_second, 7);
  timer_message(app, window, 102);
  EXPECT_EQ(app.driver.updates_per_second, 1);
  EXPECT_EQ(window.repaints, 8);  // the report asks for none
}

TEST_F(DriverTest, OtherTimerIdsDoNothing) {
  memdc_setup(app, window);
  const robot_pose before = pose_now(sim);
  timer_message(app, window, 100);
  timer_message(app, window, 0);
  timer_message(app, window, 0xFFFFFFFFu);
  EXPECT_EQ(pose_now(sim), before);
  EXPECT_EQ(app.driver.updates, 0);
  EXPECT_EQ(window.repaints, 0);
}

TEST_F(DriverTest, TickWithoutAnImageStillSteps) {
  sim.manual_mode = true;
  place_robot(3, 7, 0);
  press('W');
  timer_message(app, window, 101);
  EXPECT_NEAR(robot.x, 3.03, 1e-12);
  EXPECT_EQ(window.repaints, 1);
}

TEST_F(DriverTest, ShutdownFreesTheWorldAndTheImage) {
  memdc_setup(app, window);
  const long live = live_draw_objects(sim);
  system_shutdown(app);
  EXPECT_EQ(app.memdc, nullptr);
  EXPECT_EQ(world.walls, nullptr);
  EXPECT_EQ(world.num_walls, 0);
  EXPECT_EQ(world.num_waypoints, 0);
  EXPECT_EQ(live_draw_objects(sim), live - 11);
  EXPECT_TRUE(window.quits.empty());  // the quit request is the window's affair
}

// ---------------------------------------------------------------------------
// The key table, one key at a time

TEST_F(DriverTest, NForgetsImpactsAndMarkers) {
  place_robot(8, 2);
  world_add_impact(sim, 2, 8);
  world_add_impact(sim, 3, 8);
  ASSERT_EQ(world.num_impacts, 2);
  press('N');
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.impacts, nullptr);
  EXPECT_EQ(world.markers, nullptr);
}

TEST_F(DriverTest, ToggleKeysFlipTheirFlagOnEachPress) {
  struct toggle {
    unsigned key;
    bool* flag;
  };
  const toggle toggles[] = {{'V', &robot.show_vision},
                            {'T', &world.show_walls},
                            {'M', &sim.manual_mode},
                            {'G', &world.show_grad},
                            {vk_space, &app.driver.show_stats}};
  for (const toggle& t : toggles) {
    SCOPED_TRACE(t.key);
    const bool start = *t.flag;
    tap(t.key);
    EXPECT_EQ(*t.flag, !start);
    tap(t.key);
    EXPECT_EQ(*t.flag, start);
  }
  EXPECT_TRUE(window.timers.empty());
  EXPECT_TRUE(window.quits.empty());
}

TEST_F(DriverTest, EscRequestsQuitWithCodeZero) {
  tap(vk_escape);
  EXPECT_EQ(window.quits, std::vector<int>{0});
}

TEST_F(DriverTest, DownArrowLengthensTheTickWithoutLimitAndRearmsTheTimer) {
  tap(vk_down);
  EXPECT_EQ(app.driver.timer_val, 11);
  EXPECT_EQ(window.timers, (timer_calls{{101, 11}}));
  for (int n = 0; n < 1000; ++n) tap(vk_down);
  EXPECT_EQ(app.driver.timer_val, 1011);
  EXPECT_EQ(window.timers.back(), (std::pair<int, int>{101, 1011}));
}

TEST_F(DriverTest, UpArrowShortensTheTickDownToZeroAndStillRearmsThere) {
  tap(vk_up);
  EXPECT_EQ(app.driver.timer_val, 9);
  EXPECT_EQ(window.timers, (timer_calls{{101, 9}}));
  for (int n = 0; n < 9; ++n) tap(vk_up);
  EXPECT_EQ(app.driver.timer_val, 0);
  window.timers.clear();
  tap(vk_up);
  EXPECT_EQ(app.driver.timer_val, 0);
  EXPECT_EQ(window.timers, (timer_calls{{101, 0}}));
}

TEST_F(DriverTest, RRebuildsTheDefaultWorldAndKeepsTheMode) {
  sim.manual_mode = true;
  world_add_wall(sim, 1, 1, 1, 1);
  world_add_impact(sim, 3, 3);
  world.scale2 = 5;
  sim.rng.seed(808);
  const double x = f_rand(sim, 0.5, 9.5);
  sim.rng.seed(808);
  tap('R');
  EXPECT_EQ(world.num_walls, 4);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.scale2, 0.86);
  EXPECT_EQ(robot.x, x);
  EXPECT_TRUE(sim.manual_mode);
}

TEST_F(DriverTest, DigitKeysRetuneTheGains) {
  tap('1');
  EXPECT_DOUBLE_EQ(world.scale1, 0.11 - 0.01);
  tap('2');
  tap('2');
  EXPECT_DOUBLE_EQ(world.scale1, 0.11 + 0.01);
  tap('3');
  EXPECT_DOUBLE_EQ(world.scale2, 0.86 - 0.01);
  tap('4');
  tap('4');
  EXPECT_DOUBLE_EQ(world.scale2, 0.86 + 0.01);
  tap('5');
  EXPECT_DOUBLE_EQ(world.scale3, 0.193 - 0.001);
  tap('6');
  tap('6');
  EXPECT_DOUBLE_EQ(world.scale3, 0.193 + 0.001);
}

TEST_F(DriverTest, GainsCanBeDrivenBelowZero) {
  for (int n = 0; n < 200; ++n) tap('5');
  EXPECT_LT(world.scale3, 0);
  EXPECT_NEAR(world.scale3, 0.193 - 0.2, 1e-12);
  for (int n = 0; n < 12; ++n) tap('1');
  EXPECT_LT(world.scale1, 0);
}

TEST_F(DriverTest, PRunsThePlanner) {
  const auto runs = sim.planner_stats.runs;
  tap('P');
  EXPECT_EQ(sim.planner_stats.runs, runs + 1);
}

TEST_F(DriverTest, KeysWithoutAnActionOnlyRecordTheirState) {
  const robot_pose before = pose_now(sim);
  const auto runs = sim.planner_stats.runs;
  for (unsigned key : {unsigned{'W'}, unsigned{'S'}, unsigned{'A'}, unsigned{'D'}, unsigned{'Z'},
                       unsigned{'0'}, unsigned{'7'}, 0u, 255u}) {
    press(key);
    EXPECT_TRUE(app.driver.keys[key]) << key;
  }
  EXPECT_EQ(pose_now(sim), before);
  EXPECT_EQ(sim.planner_stats.runs, runs);
  EXPECT_EQ(world.scale1, 0.11);
  EXPECT_EQ(app.driver.timer_val, 10);
  EXPECT_FALSE(sim.manual_mode);
  EXPECT_TRUE(window.timers.empty());
  EXPECT_TRUE(window.quits.empty());
  key_up(app, 'W');
  EXPECT_FALSE(app.driver.keys['W']);
}

TEST_F(DriverTest, KeyCodesAreFoldedToTheirLowByte) {
  press(0x100 + 'T');
  EXPECT_TRUE(app.driver.keys['T']);
  EXPECT_FALSE(world.show_walls);
  key_up(app, 0x7700 + 'T');
  EXPECT_FALSE(app.driver.keys['T']);
  press(0xFFFFFF00u + 'G');
  EXPECT_TRUE(world.show_grad);
  key_up(app, 0xFFFFFF00u + 'G');
  EXPECT_FALSE(app.driver.keys['G']);
}

// ---------------------------------------------------------------------------
// Held keys run again

TEST_F(DriverTest, AutoRepeatedKeyDownRepeatsTheAction) {
  press('2');
  press('2');
  press('2');
  EXPECT_DOUBLE_EQ(world.scale1, 0.11 + 0.03);
  press('M');
  press('M');
  press('M');
  EXPECT_TRUE(sim.manual_mode);  // flipped three times
}

TEST_F(DriverTest, AnyKeyDownRunsTheActionsOfEveryHeldKey) {
  press('1');
  press('3');  // runs 1 again, then 3
  EXPECT_DOUBLE_EQ(world.scale1, 0.11 - 0.02);
  EXPECT_DOUBLE_EQ(world.scale2, 0.86 - 0.01);
  key_up(app, '1');
  press('3');  // 3 is still held: only its action, once more
  EXPECT_DOUBLE_EQ(world.scale1, 0.11 - 0.02);
  EXPECT_DOUBLE_EQ(world.scale2, 0.86 - 0.02);
  press('Q');  // a key without an action still re-runs the held ones
  EXPECT_DOUBLE_EQ(world.scale2, 0.86 - 0.03);
}

TEST_F(DriverTest, WithRHeldAnyKeyRebuildsTheWorld) {
  press('R');
  world_add_wall(sim, 1, 1, 1, 1);
  ASSERT_EQ(world.num_walls, 5);
  press('W');
  EXPECT_EQ(world.num_walls, 4);
}

TEST_F(DriverTest, UpAndDownHeldTogetherRaiseThenLowerAndRearmTwice) {
  press(vk_down);
  EXPECT_EQ(window.timers, (timer_calls{{101, 11}}));
  window.timers.clear();
  press(vk_up);
  EXPECT_EQ(app.driver.timer_val, 11);
  EXPECT_EQ(window.timers, (timer_calls{{101, 12}, {101, 11}}));
}

TEST_F(DriverTest, ActionsRunInTableOrder) {
  // N before P: with both held, the planner sees no impacts. R before T: T's
  // toggle applies to the rebuilt world.
  place_robot(8, 2);
  world_add_impact(sim, 2, 8);
  press('P');
  const auto runs = sim.planner_stats.runs;
  press('N');  // P runs again after N
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(sim.planner_stats.runs, runs + 1);
  EXPECT_NE(world_test_map(world.map, get_map_x(sim, 2), get_map_y(sim, 8)),
            4095);  // planned without it
  key_up(app, 'P');
  key_up(app, 'N');
  press('T');
  EXPECT_FALSE(world.show_walls);
  press('R');  // R rebuilds (show_walls true), then T toggles it off
  EXPECT_FALSE(world.show_walls);
}

TEST_F(DriverTest, EscWithOtherHeldKeysStillRunsTheirActions) {
  press('T');
  EXPECT_FALSE(world.show_walls);
  press(vk_escape);
  EXPECT_EQ(window.quits, std::vector<int>{0});
  EXPECT_TRUE(world.show_walls);  // T ran again in the same key-down
}

// ---------------------------------------------------------------------------
// Driving keys

struct drive_row {
  bool w, s, a, d;
  double speed, turn;
};

// Every combination of the four keys.
const drive_row kDriveTable[] = {
    // W held: forward; A turns -, D turns +; S is ignored.
    {1, 0, 0, 0, 0.03, 0},
    {1, 0, 1, 0, 0.03, -0.03},
    {1, 0, 0, 1, 0.03, 0.03},
    {1, 0, 1, 1, 0.03, -0.03},
    {1, 1, 0, 0, 0.03, 0},
    {1, 1, 1, 0, 0.03, -0.03},
    {1, 1, 0, 1, 0.03, 0.03},
    {1, 1, 1, 1, 0.03, -0.03},
    // S held alone: backward, the turn's sense reversed; with A only half speed.
    {0, 1, 0, 0, -0.03, 0},
    {0, 1, 1, 0, -0.015, 0.03},
    {0, 1, 0, 1, -0.03, -0.03},
    {0, 1, 1, 1, -0.015, 0.03},
    // Neither: turning on the spot.
    {0, 0, 0, 0, 0, 0},
    {0, 0, 1, 0, 0, -0.03},
    {0, 0, 0, 1, 0, 0.03},
    {0, 0, 1, 1, 0, -0.03},
};

TEST_F(DriverTest, DrivingKeysGiveTheTablesSpeedAndTurn) {
  sim.manual_mode = true;
  for (const drive_row& row : kDriveTable) {
    SCOPED_TRACE(testing::Message()
                 << "W" << row.w << " S" << row.s << " A" << row.a << " D" << row.d);
    app.driver.keys['W'] = row.w;
    app.driver.keys['S'] = row.s;
    app.driver.keys['A'] = row.a;
    app.driver.keys['D'] = row.d;
    robot.speed = 99;
    robot.turn = 99;
    check_keys(app);
    EXPECT_EQ(robot.speed, row.speed);
    EXPECT_EQ(robot.turn, row.turn);
  }
}

TEST_F(DriverTest, DrivingKeysDoNothingInAutomaticMode) {
  for (const drive_row& row : kDriveTable) {
    app.driver.keys['W'] = row.w;
    app.driver.keys['S'] = row.s;
    app.driver.keys['A'] = row.a;
    app.driver.keys['D'] = row.d;
    robot.speed = 99;
    robot.turn = 99;
    check_keys(app);
    EXPECT_EQ(robot.speed, 99);
    EXPECT_EQ(robot.turn, 99);
  }
}

TEST_F(DriverTest, SwitchingToManualWithWHeldDrivesFromTheNextTick) {
  memdc_setup(app, window);
  place_robot(3, 7, 0);
  press('W');  // automatic mode: recorded, nothing else
  timer_message(app, window, 101);
  EXPECT_NE(robot.speed, 0.03);
  press('M');  // W is held too, and has no action
  EXPECT_TRUE(sim.manual_mode);
  timer_message(app, window, 101);
  EXPECT_EQ(robot.speed, 0.03);
  // Releasing every key stops the robot at the next tick.
  key_up(app, 'W');
  key_up(app, 'M');
  timer_message(app, window, 101);
  EXPECT_EQ(robot.speed, 0);
  EXPECT_EQ(robot.turn, 0);
}

TEST_F(DriverTest, ManualMotionAppliesOnlyInManualMode) {
  robot.speed = 0.01;
  robot.turn = 0.02;
  manual_motion(sim, 0.5, 0.6);
  EXPECT_EQ(robot.speed, 0.01);
  EXPECT_EQ(robot.turn, 0.02);
  sim.manual_mode = true;
  manual_motion(sim, 0.5, 0.6);
  EXPECT_EQ(robot.speed, 0.5);
  EXPECT_EQ(robot.turn, 0.6);
}

// ---------------------------------------------------------------------------
// Console

TEST_F(DriverTest, ConsoleWritesTheTextAsItIs) {
  write_console(sim, "waypoint not found\n");
  write_console(sim, "no newline");
  write_console(sim, "");
  write_console(sim, nullptr);
  EXPECT_EQ(console_text, "waypoint not found\nno newline");
}

}  // namespace
