// Scenario set-up shared by the benchmarks.
#pragma once

// The default world with a fixed seed, a simulated clock and a 640 x 480 display,
// the robot at (1.5, 2.9) and the target at (5, 5).
void bench_default_world();
// Scatters this many impacts over the world at fixed pseudo-random places.
void bench_scatter_impacts(int count);
// Adds the walls of a small maze to the current world.
void bench_add_maze_walls();
