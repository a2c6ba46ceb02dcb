// One robot_update tick in automatic mode, on the default world and on a maze.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "core/utility.h"
#include "core/world.h"

namespace {

void run_ticks(simulation& sim, benchmark::State& state) {
  world_state& world = sim.world;
  for (auto _ : state) {
    advance_simulated_clock(sim, 0.01);
    world_update(sim);
  }
  state.counters["impacts"] = world.num_impacts;
}

void BM_TickDefaultWorld(benchmark::State& state) {
  bench_simulator bench;
  simulator& app = bench.app;
  bench_default_world(app);
  run_ticks(bench.sim, state);
}
BENCHMARK(BM_TickDefaultWorld)->Unit(benchmark::kMicrosecond);

void BM_TickMazeWorld(benchmark::State& state) {
  bench_simulator bench;
  simulator& app = bench.app;
  simulation& sim = bench.sim;
  bench_default_world(app);
  bench_add_maze_walls(sim);
  run_ticks(bench.sim, state);
}
BENCHMARK(BM_TickMazeWorld)->Unit(benchmark::kMicrosecond);

}  // namespace
