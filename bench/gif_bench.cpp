// One GIF frame as the headless runner makes it: the scene drawn into the image,
// then encoded against the frame before. The robot moves a step between frames,
// as it does in a film with one frame every few ticks.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_support.h"
#include "core/robot.h"
#include "core/world.h"
#include "draw/gif_writer.h"
#include "draw/raster_context.h"
#include "draw/world_draw.h"
#include "shell/driver.h"

namespace {

void BM_GifFrame(benchmark::State& state) {
  bench_simulator bench;
  simulator& app = bench.app;
  simulation& sim = bench.sim;
  world_state& world = bench.world;
  robot_state& robot = bench.robot;
  bench_default_world(app);
  sim.display_x = 640;
  sim.display_y = 480;
  world.show_grad = state.range(0) != 0;
  const bool encode = state.range(1) != 0;
  raster_context image(sim.display_x, sim.display_y);
  std::uint64_t bytes = 0;
  gif_writer writer(sim.display_x, sim.display_y, [&bytes](const std::uint8_t*, std::size_t size) {
    bytes += size;
    return true;
  });
  double time_ms = 0;
  int step = 0;
  for (auto _ : state) {
    // Back and forth across the middle of the world.
    robot.x = 2.0 + 0.1 * (step < 50 ? step : 100 - step);
    step = (step + 1) % 100;
    world_draw(sim, image);
    if (encode) {
      writer.add_frame(image.pixels(), image.stride(), time_ms);
    }
    time_ms += 100;
    benchmark::ClobberMemory();
  }
  state.counters["bytes_per_frame"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_GifFrame)
    ->ArgNames({"lattice", "encode"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
