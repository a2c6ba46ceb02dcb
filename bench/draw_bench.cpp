// One frame of world_draw into the window's image, with and without the field
// lattice, at two client sizes; shapes with coordinates at the ends of the int
// range in both drawing contexts.
#include <benchmark/benchmark.h>

#include <climits>

#include "bench_support.h"
#include "core/world.h"
#include "core/world_file.h"
#include "draw/raster_context.h"
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

// A line, a rectangle and an ellipse from INT_MIN to INT_MAX in a 40 x 30
// picture: clipped before they are walked, they take microseconds, where walking
// the 2^32 steps of the line would take seconds. 0: the raster context, 1: the
// window's QImage.
void BM_HugeCoordinates(benchmark::State& state) {
  simulation sim;  // the maker of the drawing objects
  raster_context raster(40, 30);
  qimage_context image(40, 30);
  draw_context& dc = state.range(0) == 0 ? static_cast<draw_context&>(raster) : image;
  const draw_object brush = create_solid_brush(sim, rgb(0, 0, 255));
  const draw_object pen = create_pen(sim, 1, rgb(255, 0, 0));
  dc.select_object(brush);
  dc.select_object(pen);
  for (auto _ : state) {
    dc.move_to(INT_MIN, INT_MIN);
    dc.line_to(INT_MAX, INT_MAX);
    dc.move_to(INT_MIN, 5);
    dc.line_to(INT_MAX, 5);
    dc.rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    dc.ellipse(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    benchmark::ClobberMemory();
  }
  delete_object(sim, brush);
  delete_object(sim, pen);
}
BENCHMARK(BM_HugeCoordinates)->ArgName("qimage")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
