// The robot's centre never passes through a wall and is never flung: in worlds of
// thin walls where the push-back's pushes add up (shelves drawn as one-pixel
// outlines, specks, wedges of three thin walls, slots narrower than the robot)
// the robot stays in the region of free floor it started in and no tick moves it
// farther than 0.1; driven fast at thin walls, the moves that would have crossed
// one are not made and are counted.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "../core/file_result_check.h"
#include "core/simulation.h"
#include "core/world_file.h"
#include "shell/driver.h"
#include "shell/run_metrics.h"
#include "shell/simulated_run.h"
#include "tools/free_space.h"

namespace {

world_file_data boundary_world(double x, double y) {
  world_file_data world;
  world.x = x;
  world.y = y;
  world.heading = 0.3;
  world.walls = {{0, 0, 10, 0.05}, {0, 9.95, 10, 0.05}, {0, 0, 0.05, 10}, {9.95, 0, 0.05, 10}};
  return world;
}

// Forty wedges of three walls a pixel thick (0.025) at random places.
world_file_data wedges(unsigned seed) {
  world_file_data world = boundary_world(5, 5);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> at(1.0, 8.5);
  for (int n = 0; n < 40; ++n) {
    const double x = at(rng);
    const double y = at(rng);
    world.walls.push_back({x, y, 0.6, 0.025});
    world.walls.push_back({x, y, 0.025, 0.6});
    world.walls.push_back({x + 0.45, y - 0.1, 0.025, 0.7});
  }
  return world;
}

// Rows of hollow boxes a pixel thick, back to back, with slots between the rows
// narrower than the robot.
world_file_data hollow_boxes() {
  world_file_data world = boundary_world(5, 9.3);
  const double t = 0.02;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 6; ++column) {
      const double x = 0.6 + column * 1.5;
      const double y = 0.8 + row * 2.1;
      for (const double dy : {0.0, 0.45}) {  // two boxes back to back, a slot between
        world.walls.push_back({x, y + dy, 1.2, t});
        world.walls.push_back({x, y + dy + 0.4, 1.2, t});
        world.walls.push_back({x, y + dy, t, 0.42});
        world.walls.push_back({x + 1.2, y + dy, t, 0.42});
      }
    }
  }
  return world;
}

world_file_data from_file(const std::string& name) {
  const std::string path = std::string(ROBOSIM_SOURCE_DIR) + "/worlds/" + name;
  simulation probe;
  world_file_data data;
  world_file_error parse_error;
  std::string text;
  EXPECT_TRUE(succeeded(world_read_file(probe, path)));
  // The walls as the world holds them, oldest (the file's first) last.
  for (const wall_node* w = probe.world.walls; w != nullptr; w = w->next) {
    data.walls.insert(data.walls.begin(), {w->x, w->y, w->width, w->height});
  }
  data.x = probe.robot.x;
  data.y = probe.robot.y;
  data.heading = probe.robot.heading;
  return data;
}

// Rows of walls a pixel thick across the world, for a robot driven at them faster
// than the push-back can hold: from its candidate position beyond a wall the
// backward ray pushes it on, through the wall.
world_file_data thin_rows() {
  world_file_data world = boundary_world(5, 1.0);
  world.heading = 1.4;  // up the world, across the rows, a little to the left
  for (int row = 0; row < 4; ++row) world.walls.push_back({0.05, 2.0 + 2.0 * row, 9.9, 0.02});
  return world;
}

struct crossing_case {
  const char* name;
  world_file_data world;
  int seeds;
  std::optional<drive_command> drive;  // manual driving; the automatic mode without
  bool crossings_expected;
};

TEST(WallCrossing, TheRobotStaysInTheFreeFloorItStartedOn) {
  const crossing_case cases[] = {
      {"warehouse map", from_file("warehouse.dat"), 6, std::nullopt, false},
      {"wedges of thin walls", wedges(1), 6, std::nullopt, false},
      {"other wedges", wedges(2), 6, std::nullopt, false},
      {"hollow boxes and slots", hollow_boxes(), 6, std::nullopt, false},
      {"driven fast at thin rows", thin_rows(), 2, drive_command{0.3, 0.002}, true},
  };
  for (const crossing_case& c : cases) {
    const disc_regions floor(c.world.walls, 0.0);  // where a point can go
    const int start = floor.region_at(*c.world.x, *c.world.y);
    ASSERT_GE(start, 0) << c.name;
    for (int seed = 1; seed <= c.seeds; ++seed) {
      simulated_run run(640, 480);
      set_console_sink(run.sim(), [](std::string_view) {});
      run.start(static_cast<std::uint32_t>(seed), 10, c.drive.has_value());
      world_apply_data(run.sim(), c.world);
      run.app().driver.program_drive = c.drive;
      run.start_metrics(false);
      for (int tick = 1; tick <= 15000; ++tick) {
        run.tick();
        const robot_state& robot = run.sim().robot;
        // Twice the commanded step, or 0.1 at the automatic mode's speeds (and the
        // rounding of the position's sum).
        const double longest = (c.drive ? 2 * c.drive->speed : 0.1) + 1e-12;
        ASSERT_LE(run_metrics(run.app()).largest_step, longest)
            << c.name << ", seed " << seed << ", tick " << tick;
        const int region = floor.region_at(robot.x, robot.y);
        ASSERT_TRUE(region == start || region == -1)
            << c.name << ", seed " << seed << ", tick " << tick << ": the robot at (" << robot.x
            << ", " << robot.y << ") is in region " << region << ", not " << start;
      }
      const std::uint64_t prevented = run_metrics(run.app()).wall_crossings_prevented;
      if (c.crossings_expected) {
        EXPECT_GT(prevented, 0u) << c.name << ": the case tests nothing";
      }
    }
  }
}

}  // namespace
