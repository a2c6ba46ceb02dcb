// Shared fixture: every test starts from the default world with a fixed seed, a
// simulated clock and the driver, robot and automatic mode at their start state.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/automode.h"
#include "core/console.h"
#include "core/driver.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/world.h"

class SimulationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_reset();
    robot_reset_update_state();
    automode_reset();
    world_invalidate_wavefront();
    planner_stats = planner_counters{};
    use_simulated_clock(1000.0);
    console_text.clear();
    set_console_sink([this](std::string_view text) { console_text.append(text); });
    std::srand(12345);
    display_x = 640;
    display_y = 480;
    world_setup();
  }

  void TearDown() override {
    world_destroy();
    set_console_sink({});
    use_real_clock();
    driver_reset();
  }

  // Places the robot and replans, as a tick would.
  static void place_robot(double x, double y, double heading = 0.0) {
    robot.x = x;
    robot.y = y;
    robot.heading = heading;
  }

  std::string console_text;
};
