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
void dirty_everything(simulator& app, fake_platform& window) {
  simulation& sim = app.sim;
  world_state& world = app.sim.world;
  robot_state& robot = app.sim.robot;
  system_startup(app, window, 5);
  for (unsigned key : {unsigned{'M'}, unsigned{vk_down}, unsigned{vk_space}, unsigned{'2'}}) {
    key_down(app, window, key);
    key_up(app, key);
  }
  key_down(app, window, 'W');  // held
  mouse_down(app, 100, 100);
  mouse_move(app, 200, 200);
  right_button_down(app, 300, 300);
  world_add_impact(sim, 4.0, 4.0);
  world.show_grad = true;
  robot.show_vision = true;
  timer_func(sim, 5.0, 0, 1.0, 2.0);  // arms the slow-down ramp
  sim.automode.nav_average[0] = sim.automode.nav_average[1] = 0.7;
  run_metrics_start(app, 0);
  for (int tick = 0; tick < 50; ++tick) {
    run_metrics_before_tick(app);
    advance_simulated_clock(sim, 0.01);
    timer_message(app, window, kTickTimerId);
    run_metrics_after_tick(app, static_cast<std::uint64_t>(tick + 1) * 10);
  }
  timer_message(app, window, kRateTimerId);
  app.driver.program_drive = drive_command{0.02, -0.01};
  use_simulated_clock(sim, 5.0);
  set_console_sink(sim, [](std::string_view) {});
}

TEST_F(SimulationResetTest, EveryGlobalReturnsToItsStartValue) {
  const long objects_before = live_draw_objects(sim) - 11;  // the fixture's world holds 11
  dirty_everything(app, window);
  ASSERT_TRUE(sim.manual_mode);
  ASSERT_TRUE(app.driver.show_stats);
  ASSERT_EQ(app.driver.timer_val, 11);
  ASSERT_TRUE(app.mouse.mouse_is_down);
  ASSERT_NE(sim.planner_stats.runs, 0u);
  ASSERT_EQ(run_metrics(app).ticks, 50u);
  ASSERT_TRUE(std::isfinite(sim.last_push_back.least_distance));
  simulation_reset(app);

  // Driver and mouse editing.
  for (bool key : app.driver.keys) EXPECT_FALSE(key);
  EXPECT_EQ(app.driver.timer_val, 10);
  EXPECT_EQ(app.driver.updates, 0);
  EXPECT_EQ(app.driver.updates_per_second, 0);
  EXPECT_FALSE(app.driver.show_stats);
  EXPECT_EQ(app.memdc, nullptr);
  EXPECT_FALSE(app.driver.program_drive.has_value());
  EXPECT_FALSE(app.mouse.mouse_is_down);
  EXPECT_FALSE(app.mouse.right_mouse_down);

  // World: no lists, no drawing objects, everything zero.
  EXPECT_FALSE(sim.manual_mode);
  EXPECT_EQ(sim.display_x, 0);
  EXPECT_EQ(sim.display_y, 0);
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
  EXPECT_EQ(live_draw_objects(sim), objects_before);

  // Robot, automatic mode, planner.
  EXPECT_EQ(robot.x, 0.0);
  EXPECT_EQ(robot.speed, 0.0);
  EXPECT_EQ(robot.diameter, 0.0);
  EXPECT_FALSE(robot.show_vision);
  EXPECT_EQ(sim.automode.nav_average[0], 0.0);
  EXPECT_EQ(sim.automode.nav_average[1], 0.0);
  EXPECT_EQ(sim.planner_stats.runs, 0u);
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
  EXPECT_EQ(sim.planner_stats.gave_up, 0u);

  // Run metrics: nothing observed, and ticks before a new start are not watched.
  EXPECT_FALSE(sim.last_push_back.wall_pushed);
  EXPECT_FALSE(std::isfinite(sim.last_push_back.least_distance));
  run_metrics_after_tick(app, 10);
  EXPECT_EQ(run_metrics(app).ticks, 0u);
  EXPECT_EQ(run_metrics(app).distance, 0.0);

  // The ramp timer armed above is idle again: half a second later it gives 0, not
  // a ramp value.
  use_simulated_clock(sim, 1000.0);
  EXPECT_EQ(timer_func(sim, 0.0, 0, 1.0, 2.0), 0.0);
  advance_simulated_clock(sim, 0.5);
  EXPECT_EQ(timer_func(sim, 0.0, 0, 1.0, 2.0), 0.0);
}

int watched_offers = 0;

TEST_F(SimulationResetTest, NoOneWatchesImpactOffersAfterAReset) {
  world_watch_impact_offers(sim, [](double, double) { ++watched_offers; });
  world_add_impact(sim, 2.0, 2.0);
  ASSERT_EQ(watched_offers, 1);
  simulation_reset(app);
  system_startup(app, window, 3);
  world_add_impact(sim, 7.0, 7.0);
  EXPECT_EQ(watched_offers, 1);
}

TEST_F(SimulationResetTest, ConsoleClockAndGeneratorAreThoseOfAFreshProcess) {
  std::string captured;
  set_console_sink(sim, [&captured](std::string_view text) { captured.append(text); });
  use_simulated_clock(sim, 5.0);
  sim.rng.seed(777);
  simulation_reset(app);

  write_console(sim, "");  // nothing to write, but it must not reach the old sink
  write_console(sim, "simulation_reset test: this line goes to standard error\n");
  EXPECT_TRUE(captured.empty());

  // The real clock: simulated time no longer moves it.
  const double before = get_time(sim);
  advance_simulated_clock(sim, 1000.0);
  EXPECT_LT(get_time(sim) - before, 1000.0);

  // The generator as before any seeding, which is as after srand(1).
  std::vector<int> after_reset;
  for (int i = 0; i < 5; ++i) after_reset.push_back(sim.rng.next());
  sim.rng.seed(1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(sim.rng.next(), after_reset[static_cast<std::size_t>(i)]);
}

// A run recorded tick by tick: pose, target and the planner's work.
std::vector<double> record_run(simulator& app, fake_platform& window, unsigned seed) {
  simulation& sim = app.sim;
  world_state& world = app.sim.world;
  robot_state& robot = app.sim.robot;
  use_simulated_clock(sim, 1000.0);
  set_console_sink(sim, [](std::string_view) {});
  system_startup(app, window, seed);
  replace_walls(sim, {{0, 0, 10, 0.05},
                      {0, 9.95, 10, 0.05},
                      {0, 0, 0.05, 10},
                      {9.95, 0, 0.05, 10},
                      {3, 2, 0.5, 5},
                      {6, 4, 0.5, 5}});
  std::vector<double> trace;
  for (int tick = 0; tick < 3000; ++tick) {
    advance_simulated_clock(sim, 0.01);
    timer_message(app, window, kTickTimerId);
    if (tick % 100 == 99) timer_message(app, window, kRateTimerId);
    trace.insert(trace.end(), {robot.x, robot.y, robot.heading, robot.speed, world.target_x,
                               static_cast<double>(sim.planner_stats.runs)});
  }
  return trace;
}

TEST_F(SimulationResetTest, ARunAfterAnotherRunIsTheSameRun) {
  simulation_reset(app);
  const std::vector<double> first = record_run(app, window, 11);
  dirty_everything(app, window);
  simulation_reset(app);
  const std::vector<double> second = record_run(app, window, 11);
  ASSERT_EQ(first.size(), second.size());
  EXPECT_TRUE(first == second) << "the second run went another way";
}

}  // namespace
