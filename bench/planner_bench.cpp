// One planning run on the default world with 0, 50 and 500 impacts: the literal
// form with repeated passes, the one-sweep wavefront, and the usual case where
// only the robot moved and the stored wavefront is reused.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/world.h"

namespace {

void prepare(simulator& app, const benchmark::State& state) {
  simulation& sim = app.sim;
  bench_default_world(app);
  bench_scatter_impacts(sim, static_cast<int>(state.range(0)));
}

void BM_PlanningRunRepeatedPasses(benchmark::State& state) {
  bench_simulator bench;
  simulation& sim = bench.sim;
  world_state& world = bench.world;
  prepare(bench.app, state);
  for (auto _ : state) {
    world_compute_map_grid_by_passes(sim);
    benchmark::DoNotOptimize(world.num_waypoints);
  }
  state.counters["waypoints"] = world.num_waypoints;
}
BENCHMARK(BM_PlanningRunRepeatedPasses)->Arg(0)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

void BM_PlanningRunSweep(benchmark::State& state) {
  bench_simulator bench;
  simulation& sim = bench.sim;
  world_state& world = bench.world;
  prepare(bench.app, state);
  for (auto _ : state) {
    world_invalidate_wavefront(sim);
    world_compute_map_grid(sim);
    benchmark::DoNotOptimize(world.num_waypoints);
  }
  state.counters["waypoints"] = world.num_waypoints;
}
BENCHMARK(BM_PlanningRunSweep)->Arg(0)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

void BM_PlanningRunReused(benchmark::State& state) {
  bench_simulator bench;
  simulation& sim = bench.sim;
  world_state& world = bench.world;
  prepare(bench.app, state);
  world_compute_map_grid(sim);
  for (auto _ : state) {
    world_compute_map_grid(sim);
    benchmark::DoNotOptimize(world.num_waypoints);
  }
  state.counters["waypoints"] = world.num_waypoints;
}
BENCHMARK(BM_PlanningRunReused)->Arg(0)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

}  // namespace
