// The web page's simulation as the page's script drives it.
#include "web/page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "core/simulation.h"
#include "core/world_file.h"
#include "shell/observation.h"
#include "shell/run_metrics.h"
#include "shell/trace.h"

namespace {

std::string saved(const web_page& page) {
  std::string text;
  std::string error;
  EXPECT_TRUE(page.save_world(text, error)) << error;
  return text;
}

TEST(WebPage, StartsAsTheRunWithoutAWindowDoes) {
  web_page page(640, 480, 7);
  simulated_run run(640, 480);
  run.start(7, 10, false);
  std::string expected = std::string(kTraceHeader) + "\n";
  append_trace_row(expected, run.sim(), 0, 0);
  for (int i = 1; i <= 300; ++i) {
    run.tick();
    append_trace_row(expected, run.sim(), run.ticks(), run.now_ms());
  }
  EXPECT_EQ(page.trace(300), expected);
  EXPECT_EQ(page.state().tick, 300u);
  EXPECT_EQ(page.state().time_ms, 3000u);
}

// window.robosim.stats() reads these figures through the table of run metrics.
TEST(WebPage, ItsRunFiguresAreThoseOfTheRunWithoutAWindow) {
  web_page page(640, 480, 7);
  simulated_run run(640, 480);
  run.start(7, 10, false);
  run.start_metrics(false);
  EXPECT_EQ(page.figures(), run_figures_of(run.app(), run.now_ms()));
  EXPECT_EQ(page.run(6000), 6000u);
  for (int i = 0; i < 6000; ++i) run.tick();
  const run_figures figures = page.figures();
  EXPECT_EQ(figures, run_figures_of(run.app(), run.now_ms()));
  EXPECT_EQ(figures.simulated_seconds, 60.0);
  EXPECT_GT(figures.metrics.targets_reached, 0u);
  EXPECT_GT(figures.metrics.distance, 0.0);
}

TEST(WebPage, TheRateIsTheTicksOfTheLastRealSecond) {
  web_page page(640, 480, 1);
  EXPECT_EQ(page.run(250), 250u);  // 2.5 simulated seconds: no rate report of its own
  EXPECT_EQ(page.state().updates_per_second, 0);
  page.rate_timer();
  EXPECT_EQ(page.state().updates_per_second, 250);
  page.tick();
  page.rate_timer();
  EXPECT_EQ(page.state().updates_per_second, 1);
  EXPECT_EQ(page.statistics_line(),
            "Update rate:   1 scale1 0.110000 scale2 0.860000 scale3: 0.193000");
}

TEST(WebPage, KeysRunTheKeyTable) {
  struct key_case {
    const char* list;
    bool grad, vision, stats;
    int timer_val;
  };
  const key_case cases[] = {
      {"G", true, false, false, 10},       {"GV", true, true, false, 10},
      {"g,v,space", true, true, true, 10}, {"down,down,up", false, false, false, 11},
      {"GG", false, false, false, 10},     {"", false, false, false, 10},
  };
  for (const key_case& c : cases) {
    web_page page(640, 480, 3);
    std::string error;
    EXPECT_TRUE(page.press_keys(c.list, error)) << c.list << ": " << error;
    const page_state state = page.state();
    EXPECT_EQ(state.show_grad, c.grad) << c.list;
    EXPECT_EQ(state.show_vision, c.vision) << c.list;
    EXPECT_EQ(state.show_stats, c.stats) << c.list;
    EXPECT_EQ(state.timer_val, c.timer_val) << c.list;
  }
}

TEST(WebPage, AnUnknownKeyNamePressesNothing) {
  web_page page(640, 480, 3);
  std::string error;
  EXPECT_FALSE(page.press_keys("G,left,no_key", error));
  EXPECT_NE(error.find("\"no_key\" is not a key"), std::string::npos) << error;
  EXPECT_FALSE(page.state().show_grad);
}

TEST(WebPage, BrowserKeysDriveAndArmTheTimer) {
  web_page page(640, 480, 3);
  const std::uint64_t arms = page.tick_timer_arms();
  page.key_down("ArrowDown", "ArrowDown", false);
  page.key_up("ArrowDown", "ArrowDown", false);
  EXPECT_EQ(page.tick_period_ms(), 11);
  EXPECT_EQ(page.tick_timer_arms(), arms + 1);
  page.key_down("KeyM", "m", false);
  page.key_up("KeyM", "m", false);
  ASSERT_TRUE(page.state().manual_mode);
  page.key_down("KeyW", "w", false);
  page.tick();
  EXPECT_DOUBLE_EQ(page.state().speed, 0.03);
  // The page loses the keyboard: W goes up and the robot stops at the next tick.
  page.release_keys();
  page.tick();
  EXPECT_DOUBLE_EQ(page.state().speed, 0.0);
  // Alt+G is the browser's: no lattice.
  page.key_down("KeyG", "g", true);
  EXPECT_FALSE(page.state().show_grad);
}

TEST(WebPage, EscAndExitEndTheSimulation) {
  web_page by_key(640, 480, 3);
  by_key.key_down("Escape", "Escape", false);
  EXPECT_TRUE(by_key.ended());
  EXPECT_EQ(by_key.run(10), 0u);
  web_page by_menu(640, 480, 3);
  by_menu.exit();
  EXPECT_TRUE(by_menu.state().ended);
  std::string text;
  std::string error;
  EXPECT_FALSE(by_menu.save_world(text, error));
  by_menu.mouse_down(kLeftButton, 10, 10);  // nothing left to edit, and no crash
  by_menu.tick();
}

TEST(WebPage, AMouseDragAddsTheWallThatSaveWrites) {
  web_page page(640, 480, 3);
  page.mouse_down(kLeftButton, 64, 48);
  page.mouse_move(192, 144);
  // A release far off the canvas still ends the drag, with the last extent.
  page.mouse_move(100000, -5000);
  page.mouse_up(kLeftButton, 100000, -5000);
  page.mouse_move(300, 300);
  const std::string text = saved(page);
  EXPECT_NE(text.find("\n5\n1.000000 1.000000 2.000000 2.000000\n"), std::string::npos) << text;
  page.mouse_down(kRightButton, 320, 240);
  EXPECT_DOUBLE_EQ(page.state().target_x, 5.0);
  EXPECT_DOUBLE_EQ(page.state().target_y, 5.0);
  page.mouse_move(-20, 480 * 3);  // clamped to the canvas
  EXPECT_DOUBLE_EQ(page.state().target_x, 0.0);
  EXPECT_NEAR(page.state().target_y, 10.0, 0.03);
  page.mouse_up(kRightButton, 0, 0);
}

TEST(WebPage, OpenThenSaveGivesTheBytesBack) {
  web_page page(640, 480, 3);
  const std::string file =
      "2.500000\n7.250000\n1.500000\n2\n1.000000 2.000000 3.000000 4.000000\n"
      "0.000000 0.000000 10.000000 0.050000\n";
  std::string error;
  ASSERT_TRUE(page.open_world("a.dat", file, error)) << error;
  // Saving after a load writes the walls in the opposite order.
  EXPECT_EQ(saved(page),
            "2.500000\n7.250000\n1.500000\n2\n0.000000 0.000000 10.000000 0.050000\n"
            "1.000000 2.000000 3.000000 4.000000\n");
}

TEST(WebPage, ABrokenFileLeavesTheWorldAsItWas) {
  const char* const broken[] = {"2.5\n7.25\nnorth\n", "1\n2\n3\n1\n1 2 3\n", "\x89PNG\r\n"};
  for (const char* bytes : broken) {
    web_page page(640, 480, 3);
    page.run(50);
    const std::string before = saved(page);
    std::string error;
    EXPECT_FALSE(page.open_world("bad.dat", bytes, error));
    EXPECT_EQ(error.rfind("cannot load \"bad.dat\": ", 0), 0u) << error;
    EXPECT_EQ(saved(page), before);
  }
  web_page page(640, 480, 3);
  std::string error;
  EXPECT_FALSE(page.open_world("big.dat", std::string(kWorldFileMaxBytes + 1, ' '), error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

TEST(WebPage, AShareLinkReopensTheSameWorld) {
  web_page page(640, 480, 3);
  page.run(120);
  page.mouse_down(kLeftButton, 100, 100);
  page.mouse_move(200, 150);
  page.mouse_up(kLeftButton, 200, 150);
  page.mouse_down(kRightButton, 500, 400);
  page.mouse_up(kRightButton, 500, 400);
  const std::string fragment = page.share_fragment();
  EXPECT_EQ(fragment.find_first_of(" \n%#"), std::string::npos) << fragment;

  web_page other(320, 200, 99);
  std::string error;
  ASSERT_TRUE(other.open_shared(fragment, error)) << error;
  EXPECT_EQ(saved(other), saved(page));
  EXPECT_NEAR(other.state().target_x, page.state().target_x, 1e-6);
  EXPECT_NEAR(other.state().target_y, page.state().target_y, 1e-6);
  EXPECT_EQ(other.share_fragment(), fragment);
}

TEST(WebPage, ABrokenShareLinkLeavesTheWorldAsItWas) {
  const char* const fragments[] = {"",
                                   "target=1,2",
                                   "world=1;2;x",
                                   "world=1;2;3;0&target=1",
                                   "world=1;2;3;0&target=nan,2",
                                   "world=1;2;3;1;1,2"};
  for (const char* fragment : fragments) {
    web_page page(640, 480, 3);
    const std::string before = saved(page);
    std::string error;
    EXPECT_FALSE(page.open_shared(fragment, error)) << fragment;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(saved(page), before) << fragment;
  }
}

TEST(WebPage, TheControllerDrivesInManualModeAndReadsTheObservation) {
  web_page page(640, 480, 3);
  page.drive(0.02, 0.01);  // automatic mode: no effect
  page.tick();
  EXPECT_NE(page.state().speed, 0.02);
  page.set_controller(true);
  EXPECT_TRUE(page.state().manual_mode);
  page.drive(0.02, 0.01);
  page.tick();
  EXPECT_DOUBLE_EQ(page.state().speed, 0.02);
  EXPECT_DOUBLE_EQ(page.state().turn, 0.01);
  float expected[kObservationSize];
  robot_observation(page.app().sim.robot, page.app().sim.world, expected);
  const std::vector<float> readings = page.readings();
  ASSERT_EQ(readings.size(), static_cast<std::size_t>(kObservationSize));
  EXPECT_EQ(std::memcmp(readings.data(), expected, sizeof expected), 0);
  page.set_controller(false);
  page.tick();
  EXPECT_DOUBLE_EQ(page.state().speed, 0.0);
}

// The commands Python's drive refuses are refused here too, and leave the
// command before them in place; a turn of exactly half a turn is taken.
TEST(WebPage, TheControllerCannotTurnBeyondHalfATurnOrGiveNumbersThatAreNotFinite) {
  web_page page(640, 480, 3);
  page.set_controller(true);
  ASSERT_TRUE(page.drive(0.01, 0.02));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double speed, turn;
  } kRefused[] = {{0.0, 3.2}, {0.0, -4.0}, {0.0, 1.7e308}, {0.0, nan},
                  {nan, 0.0}, {inf, 0.0},  {0.0, -inf}};
  for (const auto& c : kRefused) {
    EXPECT_FALSE(page.drive(c.speed, c.turn)) << c.speed << ", " << c.turn;
  }
  page.tick();
  EXPECT_DOUBLE_EQ(page.state().speed, 0.01);
  EXPECT_DOUBLE_EQ(page.state().turn, 0.02);
  EXPECT_TRUE(page.drive(1e300, kMaxDriveTurn));
  EXPECT_TRUE(page.drive(0.0, -kMaxDriveTurn));
}

TEST(WebPage, AStateThatStopsBeingFiniteStopsTheRun) {
  web_page page(640, 480, 3);
  page.set_controller(true);
  // A command no controller can give (drive refuses it) sends the heading past
  // the largest double, as a state gone wrong would.
  page.app().driver.program_drive = drive_command{0.0, 1.7e308};
  EXPECT_EQ(page.run(100), 2u);
  EXPECT_NE(page.broken_value(), nullptr);
  EXPECT_STREQ(page.broken_value(), "the robot's heading");
  EXPECT_EQ(page.run(100), 1u);  // each run stops after its first tick
  // The page stops the controller; a new world (R) is whole again after a tick.
  page.set_controller(false);
  page.key_down("KeyR", "r", false);
  EXPECT_EQ(page.run(5), 5u);
  EXPECT_EQ(page.broken_value(), nullptr);
}

TEST(WebPage, TheCanvasGetsTheImageAsRedGreenBlueAlpha) {
  web_page page(640, 480, 3);
  const std::uint8_t* pixels = page.draw();
  const auto at = [pixels](int x, int y) { return pixels + (y * 640 + x) * 4; };
  // Inside the boundary walls the background is white, opaque.
  EXPECT_EQ(at(10, 10)[0], 255);
  EXPECT_EQ(at(10, 10)[3], 255);
  // The top wall is (0, 128, 200).
  EXPECT_EQ(at(300, 0)[0], 0);
  EXPECT_EQ(at(300, 0)[1], 128);
  EXPECT_EQ(at(300, 0)[2], 200);
  EXPECT_EQ(at(300, 0)[3], 255);
  page.resize(0, 0);
  page.draw();
  page.resize(20, 10);
  EXPECT_EQ(page.state().width, 20);
  page.draw();
}

}  // namespace
