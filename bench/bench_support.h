// Scenario set-up shared by the benchmarks.
#pragma once

#include <memory>

#include "shell/simulator.h"

// A benchmark's own simulator, on the heap (it is a few hundred kilobytes),
// with its parts named as the simulator's code names them.
struct bench_simulator {
  std::unique_ptr<simulator> owned = std::make_unique<simulator>();
  simulator& app = *owned;
  simulation& sim = app.sim;
  world_state& world = sim.world;
  robot_state& robot = sim.robot;
};

// The default world with a fixed seed, a simulated clock and a 640 x 480 display,
// the robot at (1.5, 2.9) and the target at (5, 5).
void bench_default_world(simulator& app);
// Scatters this many impacts over the world at fixed pseudo-random places.
void bench_scatter_impacts(simulation& sim, int count);
// Adds the walls of a small maze to the current world.
void bench_add_maze_walls(simulation& sim);
