// One robot_update tick in automatic mode, on the default world and on a maze.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "core/utility.h"
#include "core/world.h"

namespace {

void run_ticks(benchmark::State& state) {
  for (auto _ : state) {
    advance_simulated_clock(0.01);
    world_update();
  }
  state.counters["impacts"] = world.num_impacts;
}

void BM_TickDefaultWorld(benchmark::State& state) {
  bench_default_world();
  run_ticks(state);
}
BENCHMARK(BM_TickDefaultWorld)->Unit(benchmark::kMicrosecond);

void BM_TickMazeWorld(benchmark::State& state) {
  bench_default_world();
  bench_add_maze_walls();
  run_ticks(state);
}
BENCHMARK(BM_TickMazeWorld)->Unit(benchmark::kMicrosecond);

}  // namespace
