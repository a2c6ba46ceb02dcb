#include "shell/driver.h"

#include <cstdio>
#include <ctime>

#include "core/map.h"
#include "core/simulation.h"
#include "draw/draw_context.h"
#include "draw/vector_state.h"
#include "draw/world_draw.h"
#include "shell/simulator.h"
#include "shell/trail.h"

namespace {

constexpr double kManualSpeed = 0.03;
constexpr double kManualReverseTurningSpeed = 0.015;
constexpr double kManualTurn = 0.03;
constexpr double kGainStep = 0.01;
constexpr double kFineGainStep = 0.001;

bool held(const driver_state& driver, unsigned key) {
  return driver.keys[key & 0xFFu];
}

void rearm_tick_timer(const driver_state& driver, platform& window) {
  window.set_timer(kTickTimerId, driver.timer_val);
}

// The key table: every held key with an action runs it, in this order.
void run_key_actions(simulator& app, platform& window) {
  simulation& sim = app.sim;
  world_state& world = sim.world;
  driver_state& driver = app.driver;
  const auto is_held = [&driver](unsigned key) { return held(driver, key); };
  if (is_held('N')) {
    world_free_markers(sim);
    world_free_impacts(sim);
  }
  if (is_held('V')) sim.robot.show_vision ^= 1;
  if (is_held(vk_escape)) window.request_quit(0);
  if (is_held(vk_down)) {
    driver.timer_val += 1;
    rearm_tick_timer(driver, window);
  }
  if (is_held(vk_up)) {
    driver.timer_val -= 1;
    if (driver.timer_val < 0) driver.timer_val = 0;
    rearm_tick_timer(driver, window);
  }
  if (is_held('R')) world_setup(sim);
  if (is_held('T')) world.show_walls ^= 1;
  if (is_held('M')) sim.manual_mode ^= 1;
  if (is_held('G')) world.show_grad ^= 1;
  if (is_held('1')) world.scale1 -= kGainStep;
  if (is_held('2')) world.scale1 += kGainStep;
  if (is_held('3')) world.scale2 -= kGainStep;
  if (is_held('4')) world.scale2 += kGainStep;
  if (is_held('5')) world.scale3 -= kFineGainStep;
  if (is_held('6')) world.scale3 += kFineGainStep;
  if (is_held(vk_space)) driver.show_stats ^= 1;
  if (is_held('P')) world_compute_map_grid(sim);
}

void start_up(simulator& app, platform& window, unsigned seed) {
  app.sim.rng.seed(seed);
  memdc_setup(app, window);
  world_setup(app.sim);
  world_update(app.sim);
  if (app.memdc) world_draw(app.sim, *app.memdc);
  window.set_timer(kTickTimerId, app.driver.timer_val);
  window.set_timer(kRateTimerId, kRatePeriodMs);
}

}  // namespace

void system_startup(simulator& app, platform& window) {
  start_up(app, window, static_cast<unsigned>(std::time(nullptr)));
}

void system_startup(simulator& app, platform& window, unsigned seed) {
  start_up(app, window, seed);
}

void memdc_setup(simulator& app, platform& window) {
  int width = 0;
  int height = 0;
  window.client_size(width, height);
  app.sim.display_x = width > 0 ? width : 0;
  app.sim.display_y = height > 0 ? height : 0;
  app.memdc = window.create_image(app.sim.display_x, app.sim.display_y);
}

void timer_message(simulator& app, platform& window, unsigned timer_id) {
  if (timer_id == kTickTimerId) {
    // Whatever ran since the last tick (the window system, Qt, the Python
    // interpreter) may have left the vector registers in a state that makes the
    // tick run at half speed. (The frame clears it again by itself.)
    clear_upper_vector_state();
    check_keys(app);
    world_update(app.sim);
    trail_note_robot(app);
    if (app.memdc) world_draw(app.sim, *app.memdc);
    app.driver.updates += 1;
    window.request_repaint();
  } else if (timer_id == kRateTimerId) {
    app.driver.updates_per_second = app.driver.updates;
    app.driver.updates = 0;
  }
}

void key_down(simulator& app, platform& window, unsigned key_code) {
  app.driver.keys[key_code & 0xFFu] = true;
  run_key_actions(app, window);
}

void key_up(simulator& app, unsigned key_code) {
  app.driver.keys[key_code & 0xFFu] = false;
}

void check_keys(simulator& app) {
  simulation& sim = app.sim;
  driver_state& driver = app.driver;
  if (!sim.manual_mode) {
    driver.program_drive.reset();
    return;
  }
  if (driver.program_drive) {
    manual_motion(sim, driver.program_drive->speed, driver.program_drive->turn);
    return;
  }
  const auto is_held = [&driver](unsigned key) { return held(driver, key); };
  double speed = 0;
  double turn = 0;
  if (is_held('W')) {
    speed = kManualSpeed;
    if (is_held('A')) {
      turn = -kManualTurn;
    } else if (is_held('D')) {
      turn = kManualTurn;
    }
  } else if (is_held('S')) {
    // Backing up reverses the sense of the turn.
    if (is_held('A')) {
      speed = -kManualReverseTurningSpeed;
      turn = kManualTurn;
    } else if (is_held('D')) {
      speed = -kManualSpeed;
      turn = -kManualTurn;
    } else {
      speed = -kManualSpeed;
    }
  } else if (is_held('A')) {
    turn = -kManualTurn;
  } else if (is_held('D')) {
    turn = kManualTurn;
  }
  manual_motion(sim, speed, turn);
}

void manual_motion(simulation& sim, double speed, double turn) {
  if (!sim.manual_mode) return;
  sim.robot.speed = speed;
  sim.robot.turn = turn;
}

void system_shutdown(simulator& app) {
  world_destroy(app.sim);
  app.memdc.reset();
}

std::string statistics_line(const simulator& app) {
  constexpr const char* kFormat = "Update rate: %3d scale1 %f scale2 %f scale3: %f";
  const int rate = app.driver.updates_per_second;
  const world_state& world = app.sim.world;
  // Measured first: a gain far from 1 prints many digits with %f.
  const int length =
      std::snprintf(nullptr, 0, kFormat, rate, world.scale1, world.scale2, world.scale3);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), kFormat, rate, world.scale1, world.scale2, world.scale3);
  text.resize(static_cast<std::size_t>(length));
  return text;
}
