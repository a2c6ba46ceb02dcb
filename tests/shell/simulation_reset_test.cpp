// simulation_reset(): every piece of per-run state of every layer back to its
// program-start value, so that a run after any other run is the run a fresh
// program makes.
#include "shell/simulation_reset.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "../core/test_support.h"
#include "shell/mouse_edit.h"
#include "shell/run_metrics.h"

namespace {

class SimulationResetTest : public SimulationTest {
 protected:
  fake_platform window;
};

// Leaves something behind in every unit: keys, mode, switches, gains, walls,
// impacts, a drag in progress, armed ramp timers, a stored wavefront, counters.
void dirty_everything(fake_platform& window) {
  system_startup(window, 5);
  for (unsigned key : {unsigned{'M'}, unsigned{vk_down}, unsigned{vk_space}, unsigned{'2'}}) {
    key_down(window, key);
    key_up(key);
  }
  key_down(window, 'W');  // held
  mouse_down(100, 100);
  mouse_move(200, 200);
  right_button_down(300, 300);
  world_add_impact(4.0, 4.0);
  world.show_grad = true;
  robot.show_vision = true;
  timer_func(5.0, 0, 1.0, 2.0);  // arms the slow-down ramp
  nav_average[0] = nav_average[1] = 0.7;
  run_metrics_start(0);
  for (int tick = 0; tick < 50; ++tick) {
    run_metrics_before_tick();
    advance_simulated_clock(0.01);
    timer_message(window, kTickTimerId);
    run_metrics_after_tick(static_cast<std::uint64_t>(tick + 1) * 10);
  }
  timer_message(window, kRateTimerId);
  program_drive = drive_command{0.02, -0.01};
  use_simulated_clock(5.0);
  set_console_sink([](std::string_view) {});
}

TEST_F(SimulationResetTest, EveryGlobalReturnsToItsStartValue) {
  const long objects_before = live_draw_objects() - 11;  // the fixture's world holds 11
  dirty_everything(window);
  ASSERT_TRUE(manual_mode);
  ASSERT_TRUE(show_stats);
  ASSERT_EQ(timer_val, 11);
  ASSERT_TRUE(mouse_is_down);
  ASSERT_NE(planner_stats.runs, 0u);
  ASSERT_EQ(run_metrics().ticks, 50u);
  ASSERT_TRUE(std::isfinite(last_push_back.least_distance));
  simulation_reset();

  // Driver and mouse editing.
  for (bool key : keys) EXPECT_FALSE(key);
  EXPECT_EQ(timer_val, 10);
  EXPECT_EQ(updates, 0);
  EXPECT_EQ(updates_per_second, 0);
  EXPECT_FALSE(show_stats);
  EXPECT_EQ(memdc, nullptr);
  EXPECT_FALSE(program_drive.has_value());
  EXPECT_FALSE(mouse_is_down);
  EXPECT_FALSE(right_mouse_down);

  // World: no lists, no drawing objects, everything zero.
  EXPECT_FALSE(manual_mode);
  EXPECT_EQ(display_x, 0);
  EXPECT_EQ(display_y, 0);
  EXPECT_EQ(world.walls, nullptr);
  EXPECT_EQ(world.impacts, nullptr);
  EXPECT_EQ(world.waypoints, nullptr);
  EXPECT_EQ(world.num_walls, 0);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.num_waypoints, 0);
  EXPECT_EQ(world.cur_waypoint, 0);
  EXPECT_EQ(world.width, 0.0);
  EXPECT_EQ(world.scale1, 0.0);
  EXPECT_FALSE(world.show_grad);
  EXPECT_FALSE(world.target_set);
  EXPECT_TRUE(world.white_brush.is_null());
  EXPECT_TRUE(world.wall_pen.is_null());
  for (const auto& column : world.map)
    for (std::int32_t cell : column) ASSERT_EQ(cell, 0);
  EXPECT_EQ(live_draw_objects(), objects_before);

  // Robot, automatic mode, planner.
  EXPECT_EQ(robot.x, 0.0);
  EXPECT_EQ(robot.speed, 0.0);
  EXPECT_EQ(robot.diameter, 0.0);
  EXPECT_FALSE(robot.show_vision);
  EXPECT_EQ(nav_average[0], 0.0);
  EXPECT_EQ(nav_average[1], 0.0);
  EXPECT_EQ(planner_stats.runs, 0u);
  EXPECT_EQ(planner_stats.random_targets, 0u);
  EXPECT_EQ(planner_stats.gave_up, 0u);

  // Run metrics: nothing observed, and ticks before a new start are not watched.
  EXPECT_FALSE(last_push_back.wall_pushed);
  EXPECT_FALSE(std::isfinite(last_push_back.least_distance));
  run_metrics_after_tick(10);
  EXPECT_EQ(run_metrics().ticks, 0u);
  EXPECT_EQ(run_metrics().distance, 0.0);

  // The ramp timer armed above is idle again: half a second later it gives 0, not
  // a ramp value.
  use_simulated_clock(1000.0);
  EXPECT_EQ(timer_func(0.0, 0, 1.0, 2.0), 0.0);
  advance_simulated_clock(0.5);
  EXPECT_EQ(timer_func(0.0, 0, 1.0, 2.0), 0.0);
}

int watched_offers = 0;

TEST_F(SimulationResetTest, NoOneWatchesImpactOffersAfterAReset) {
  world_watch_impact_offers([](double, double) { ++watched_offers; });
  world_add_impact(2.0, 2.0);
  ASSERT_EQ(watched_offers, 1);
  simulation_reset();
  system_startup(window, 3);
  world_add_impact(7.0, 7.0);
  EXPECT_EQ(watched_offers, 1);
}

TEST_F(SimulationResetTest, ConsoleClockAndGeneratorAreThoseOfAFreshProcess) {
  std::string captured;
  set_console_sink([&captured](std::string_view text) { captured.append(text); });
  use_simulated_clock(5.0);
  std::srand(777);
  simulation_reset();

  write_console("");  // nothing to write, but it must not reach the old sink
  write_console("simulation_reset test: this line goes to standard error\n");
  EXPECT_TRUE(captured.empty());

  // The real clock: simulated time no longer moves it.
  const double before = get_time();
  advance_simulated_clock(1000.0);
  EXPECT_LT(get_time() - before, 1000.0);

  // The generator as before any seeding, which is as after srand(1).
  std::vector<int> after_reset;
  for (int i = 0; i < 5; ++i) after_reset.push_back(std::rand());
  std::srand(1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(std::rand(), after_reset[static_cast<std::size_t>(i)]);
}

// A run recorded tick by tick: pose, target and the planner's work.
std::vector<double> record_run(fake_platform& window, unsigned seed) {
  use_simulated_clock(1000.0);
  set_console_sink([](std::string_view) {});
  system_startup(window, seed);
  replace_walls({{0, 0, 10, 0.05},
                 {0, 9.95, 10, 0.05},
                 {0, 0, 0.05, 10},
                 {9.95, 0, 0.05, 10},
                 {3, 2, 0.5, 5},
                 {6, 4, 0.5, 5}});
  std::vector<double> trace;
  for (int tick = 0; tick < 3000; ++tick) {
    advance_simulated_clock(0.01);
    timer_message(window, kTickTimerId);
    if (tick % 100 == 99) timer_message(window, kRateTimerId);
    trace.insert(trace.end(), {robot.x, robot.y, robot.heading, robot.speed, world.target_x,
                               static_cast<double>(planner_stats.runs)});
  }
  return trace;
}

TEST_F(SimulationResetTest, ARunAfterAnotherRunIsTheSameRun) {
  simulation_reset();
  const std::vector<double> first = record_run(window, 11);
  dirty_everything(window);
  simulation_reset();
  const std::vector<double> second = record_run(window, 11);
  ASSERT_EQ(first.size(), second.size());
  EXPECT_TRUE(first == second) << "the second run went another way";
}

}  // namespace
