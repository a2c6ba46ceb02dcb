// A headless run: start-up and 100,000 ticks through the driver on a simulated
// clock, without drawing frames, as the headless runner does.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_support.h"
#include "core/console.h"
#include "core/utility.h"
#include "core/world.h"
#include "draw/draw_context.h"
#include "shell/driver.h"
#include "shell/simulation_reset.h"

namespace {

class bench_platform final : public platform {
 public:
  void set_timer(int, int) override {}
  void request_repaint() override {}
  void request_quit(int) override {}
  void client_size(int& width, int& height) override {
    width = 640;
    height = 480;
  }
  // As in the headless runner, frames are not drawn while the run goes on.
  std::unique_ptr<draw_context> create_image(int, int) override { return nullptr; }
};

void BM_HeadlessRun100kTicks(benchmark::State& state) {
  bench_simulator bench;
  simulator& app = bench.app;
  simulation& sim = bench.sim;
  for (auto _ : state) {
    simulation_reset(app);
    set_console_sink(sim, [](std::string_view) {});
    use_simulated_clock(sim, 1000.0);
    bench_platform window;
    system_startup(app, window, 1);
    for (int tick = 0; tick < 100000; ++tick) {
      advance_simulated_clock(sim, 0.01);
      timer_message(app, window, kTickTimerId);
      if (tick % 100 == 99) timer_message(app, window, kRateTimerId);
    }
    system_shutdown(app);
  }
  state.counters["ticks_per_second"] = benchmark::Counter(
      100000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HeadlessRun100kTicks)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
