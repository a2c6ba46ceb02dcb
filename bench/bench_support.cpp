#include "bench_support.h"

#include <cstdlib>
#include <random>

#include "core/automode.h"
#include "core/console.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/world.h"
#include "shell/simulation_reset.h"

void bench_default_world() {
  simulation_reset();
  set_console_sink([](std::string_view) {});
  use_simulated_clock(1000.0);
  std::srand(1);
  display_x = 640;
  display_y = 480;
  world_setup();
  robot.x = 1.5;
  robot.y = 2.9;
  world_set_target(5, 5);
}

void bench_scatter_impacts(int count) {
  world_free_impacts();
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> coordinate(0.3, 9.7);
  for (int n = 0; n < count; ++n) {
    const double x = coordinate(rng);
    const double y = coordinate(rng);
    // Keep the robot's and the target's surroundings clear so a path exists.
    if (std::abs(x - 5) < 0.4 && std::abs(y - 5) < 0.4) continue;
    if (std::abs(x - robot.x) < 0.4 && std::abs(y - robot.y) < 0.4) continue;
    world.impacts = new impact_node{x, y, world.impacts};
    ++world.num_impacts;
  }
}

void bench_add_maze_walls() {
  // Three staggered partitions with gaps, and a few posts.
  world_add_wall(2.5, 0.0, 0.1, 7.0);
  world_add_wall(5.0, 3.0, 0.1, 7.0);
  world_add_wall(7.5, 0.0, 0.1, 7.0);
  world_add_wall(1.0, 8.0, 1.0, 0.1);
  world_add_wall(3.5, 1.5, 0.8, 0.1);
  world_add_wall(6.0, 2.0, 0.8, 0.1);
  world_add_wall(8.3, 5.0, 0.8, 0.1);
}
