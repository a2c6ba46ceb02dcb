// The robot's centre never passes through a wall: in worlds of thin walls where
// the push-back's pushes add up (shelves drawn as one-pixel outlines, specks,
// wedges of three thin walls, slots narrower than the robot) the robot stays in
// the region of free floor it started in, and every move that would have crossed
// a wall is counted.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/simulation.h"
#include "core/world_file.h"
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
  std::string error;
  world_file_data data;
  world_file_error parse_error;
  std::string text;
  EXPECT_TRUE(world_read_file(probe, path, error)) << error;
  // The walls as the world holds them, oldest (the file's first) last.
  for (const wall_node* w = probe.world.walls; w != nullptr; w = w->next) {
    data.walls.insert(data.walls.begin(), {w->x, w->y, w->width, w->height});
  }
  data.x = probe.robot.x;
  data.y = probe.robot.y;
  data.heading = probe.robot.heading;
  return data;
}

struct crossing_case {
  const char* name;
  world_file_data world;
  int seeds;
};

TEST(WallCrossing, TheRobotStaysInTheFreeFloorItStartedOn) {
  const crossing_case cases[] = {
      {"warehouse map", from_file("warehouse.dat"), 6},
      {"wedges of thin walls", wedges(1), 6},
      {"other wedges", wedges(2), 6},
      {"hollow boxes and slots", hollow_boxes(), 6},
  };
  std::uint64_t prevented_in_all = 0;
  for (const crossing_case& c : cases) {
    const disc_regions floor(c.world.walls, 0.0);  // where a point can go
    const int start = floor.region_at(*c.world.x, *c.world.y);
    ASSERT_GE(start, 0) << c.name;
    for (int seed = 1; seed <= c.seeds; ++seed) {
      simulated_run run(640, 480);
      set_console_sink(run.sim(), [](std::string_view) {});
      run.start(static_cast<std::uint32_t>(seed), 10, false);
      world_apply_data(run.sim(), c.world);
      run.start_metrics(false);
      for (int tick = 1; tick <= 15000; ++tick) {
        run.tick();
        const robot_state& robot = run.sim().robot;
        const int region = floor.region_at(robot.x, robot.y);
        ASSERT_TRUE(region == start || region == -1)
            << c.name << ", seed " << seed << ", tick " << tick << ": the robot at (" << robot.x
            << ", " << robot.y << ") is in region " << region << ", not " << start;
      }
      prevented_in_all += run_metrics(run.app()).wall_crossings_prevented;
    }
  }
  EXPECT_GT(prevented_in_all, 0u) << "no move would have crossed a wall: the cases test nothing";
}

}  // namespace
