// One frame of world_draw into the window's image, with and without the field
// lattice, at two client sizes.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "core/world.h"
#include "core/world_file.h"
#include "draw/world_draw.h"
#include "qtdraw/qimage_context.h"
#include "shell/driver.h"
#include "tools/world_generator.h"

namespace {

void BM_WorldDraw(benchmark::State& state) {
  bench_simulator bench;
  simulator& app = bench.app;
  simulation& sim = bench.sim;
  world_state& world = bench.world;
  bench_default_world(app);
  bench_scatter_impacts(sim, 30);
  sim.display_x = static_cast<int>(state.range(0));
  sim.display_y = static_cast<int>(state.range(1));
  world.show_grad = state.range(2) != 0;
  qimage_context image(sim.display_x, sim.display_y);
  for (auto _ : state) {
    world_draw(sim, image);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WorldDraw)
    ->ArgNames({"w", "h", "lattice"})
    ->Args({640, 480, 0})
    ->Args({640, 480, 1})
    ->Args({1280, 960, 0})
    ->Args({1280, 960, 1})
    ->Unit(benchmark::kMicrosecond);

// The same frame with a generated world of 10,004 walls (pillars:10000:1).
void BM_WorldDrawManyWalls(benchmark::State& state) {
  bench_simulator bench;
  simulator& app = bench.app;
  simulation& sim = bench.sim;
  world_state& world = bench.world;
  bench_default_world(app);
  world_file_data data;
  std::string error;
  if (!generate_world("pillars:10000:1", data, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  world_apply_data(sim, data);
  bench_scatter_impacts(sim, 30);
  sim.display_x = 1280;
  sim.display_y = 960;
  world.show_grad = state.range(0) != 0;
  qimage_context image(sim.display_x, sim.display_y);
  for (auto _ : state) {
    world_draw(sim, image);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WorldDrawManyWalls)->ArgName("lattice")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
