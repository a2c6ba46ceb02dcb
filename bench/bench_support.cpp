#include "bench_support.h"

#include <cstdlib>
#include <random>

#include "core/automode.h"
#include "core/console.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/simulation.h"
#include "core/utility.h"
#include "core/world.h"
#include "shell/simulation_reset.h"
#include "shell/simulator.h"

void bench_default_world(simulator& app) {
  simulation& sim = app.sim;
  simulation_reset(app);
  set_console_sink(sim, [](std::string_view) {});
  use_simulated_clock(sim, 1000.0);
  sim.rng.seed(1);
  sim.display_x = 640;
  sim.display_y = 480;
  world_setup(sim);
  sim.robot.x = 1.5;
  sim.robot.y = 2.9;
  world_set_target(sim, 5, 5);
}

void bench_scatter_impacts(simulation& sim, int count) {
  world_state& world = sim.world;
  world_free_impacts(sim);
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> coordinate(0.3, 9.7);
  for (int n = 0; n < count; ++n) {
    const double x = coordinate(rng);
    const double y = coordinate(rng);
    // Keep the robot's and the target's surroundings clear so a path exists.
    if (std::abs(x - 5) < 0.4 && std::abs(y - 5) < 0.4) continue;
    if (std::abs(x - sim.robot.x) < 0.4 && std::abs(y - sim.robot.y) < 0.4) continue;
    world.impacts = new impact_node{x, y, world.impacts};
    ++world.num_impacts;
  }
}

void bench_add_maze_walls(simulation& sim) {
  // Three staggered partitions with gaps, and a few posts.
  world_add_wall(sim, 2.5, 0.0, 0.1, 7.0);
  world_add_wall(sim, 5.0, 3.0, 0.1, 7.0);
  world_add_wall(sim, 7.5, 0.0, 0.1, 7.0);
  world_add_wall(sim, 1.0, 8.0, 1.0, 0.1);
  world_add_wall(sim, 3.5, 1.5, 0.8, 0.1);
  world_add_wall(sim, 6.0, 2.0, 0.8, 0.1);
  world_add_wall(sim, 8.3, 5.0, 0.8, 0.1);
}
