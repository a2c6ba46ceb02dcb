// What both fuzz targets need: a simulator of its own for every input, a window
// system that records nothing, and ticks on a simulated clock, so that each input
// runs the same code the program runs and one input cannot change what the next
// one finds.
#pragma once

#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/automode.h"
#include "core/console.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/world.h"
#include "draw/draw_context.h"
#include "draw/world_draw.h"
#include "shell/driver.h"
#include "shell/simulator.h"

namespace fuzz {

// Draws nothing but goes through every drawing call, so the pixel conversions of
// whatever the input put into the world are exercised.
class null_context final : public draw_context {
 public:
  void rectangle(int, int, int, int) override {}
  void ellipse(int, int, int, int) override {}
  void move_to(int, int) override {}
  void line_to(int, int) override {}
  void text_out(int, int, std::string_view) override {}
};

class quiet_platform final : public platform {
 public:
  void set_timer(int, int) override {}
  void request_repaint() override {}
  void request_quit(int) override { quit = true; }
  void client_size(int& width, int& height) override {
    width = 640;
    height = 480;
  }
  std::unique_ptr<draw_context> create_image(int, int) override {
    return std::make_unique<null_context>();
  }
  bool quit = false;
};

// A simulator started as the program starts, with a fixed seed and a simulated clock.
inline std::unique_ptr<simulator> started_simulator(quiet_platform& window) {
  auto app = std::make_unique<simulator>();
  set_console_sink(app->sim, [](std::string_view) {});
  use_simulated_clock(app->sim, 1000.0);
  system_startup(*app, window, 1);
  return app;
}

// One tick of the window's simulation timer, 10 ms of simulated time apart.
inline void tick(simulator& app, quiet_platform& window) {
  advance_simulated_clock(app.sim, 0.01);
  timer_message(app, window, kTickTimerId);
}

}  // namespace fuzz
