#include "shell/driver.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/map.h"
#include "core/robot.h"
#include "core/world.h"
#include "draw/draw_context.h"
#include "draw/vector_state.h"
#include "draw/world_draw.h"
#include "shell/trail.h"

bool keys[256];
std::int32_t timer_val = 10;
std::int32_t updates = 0;
std::int32_t updates_per_second = 0;
bool show_stats = false;
std::unique_ptr<draw_context> memdc;
std::optional<drive_command> program_drive;

namespace {

constexpr double kManualSpeed = 0.03;
constexpr double kManualReverseTurningSpeed = 0.015;
constexpr double kManualTurn = 0.03;
constexpr double kGainStep = 0.01;
constexpr double kFineGainStep = 0.001;

bool held(unsigned key) {
  return keys[key & 0xFFu];
}

void rearm_tick_timer(platform& window) {
  window.set_timer(kTickTimerId, timer_val);
}

// The key table: every held key with an action runs it, in this order.
void run_key_actions(platform& window) {
  if (held('N')) {
    world_free_markers();
    world_free_impacts();
  }
  if (held('V')) robot.show_vision ^= 1;
  if (held(vk_escape)) window.request_quit(0);
  if (held(vk_down)) {
    timer_val += 1;
    rearm_tick_timer(window);
  }
  if (held(vk_up)) {
    timer_val -= 1;
    if (timer_val < 0) timer_val = 0;
    rearm_tick_timer(window);
  }
  if (held('R')) world_setup();
  if (held('T')) world.show_walls ^= 1;
  if (held('M')) manual_mode ^= 1;
  if (held('G')) world.show_grad ^= 1;
  if (held('1')) world.scale1 -= kGainStep;
  if (held('2')) world.scale1 += kGainStep;
  if (held('3')) world.scale2 -= kGainStep;
  if (held('4')) world.scale2 += kGainStep;
  if (held('5')) world.scale3 -= kFineGainStep;
  if (held('6')) world.scale3 += kFineGainStep;
  if (held(vk_space)) show_stats ^= 1;
  if (held('P')) world_compute_map_grid();
}

void start_up(platform& window, unsigned seed) {
  std::srand(seed);
  memdc_setup(window);
  world_setup();
  world_update();
  if (memdc) world_draw(*memdc);
  window.set_timer(kTickTimerId, timer_val);
  window.set_timer(kRateTimerId, kRatePeriodMs);
}

}  // namespace

void system_startup(platform& window) {
  start_up(window, static_cast<unsigned>(std::time(nullptr)));
}

void system_startup(platform& window, unsigned seed) {
  start_up(window, seed);
}

void memdc_setup(platform& window) {
  int width = 0;
  int height = 0;
  window.client_size(width, height);
  display_x = width > 0 ? width : 0;
  display_y = height > 0 ? height : 0;
  memdc = window.create_image(display_x, display_y);
}

void timer_message(platform& window, unsigned timer_id) {
  if (timer_id == kTickTimerId) {
    // Whatever ran since the last tick (the window system, Qt, the Python
    // interpreter) may have left the vector registers in a state that makes the
    // tick run at half speed. (The frame clears it again by itself.)
    clear_upper_vector_state();
    check_keys();
    world_update();
    trail_note_robot();
    if (memdc) world_draw(*memdc);
    updates += 1;
    window.request_repaint();
  } else if (timer_id == kRateTimerId) {
    updates_per_second = updates;
    updates = 0;
  }
}

void key_down(platform& window, unsigned key_code) {
  keys[key_code & 0xFFu] = true;
  run_key_actions(window);
}

void key_up(unsigned key_code) {
  keys[key_code & 0xFFu] = false;
}

void check_keys() {
  if (!manual_mode) {
    program_drive.reset();
    return;
  }
  if (program_drive) {
    manual_motion(program_drive->speed, program_drive->turn);
    return;
  }
  double speed = 0;
  double turn = 0;
  if (held('W')) {
    speed = kManualSpeed;
    if (held('A')) {
      turn = -kManualTurn;
    } else if (held('D')) {
      turn = kManualTurn;
    }
  } else if (held('S')) {
    // Backing up reverses the sense of the turn.
    if (held('A')) {
      speed = -kManualReverseTurningSpeed;
      turn = kManualTurn;
    } else if (held('D')) {
      speed = -kManualSpeed;
      turn = -kManualTurn;
    } else {
      speed = -kManualSpeed;
    }
  } else if (held('A')) {
    turn = -kManualTurn;
  } else if (held('D')) {
    turn = kManualTurn;
  }
  manual_motion(speed, turn);
}

void manual_motion(double speed, double turn) {
  if (!manual_mode) return;
  robot.speed = speed;
  robot.turn = turn;
}

void system_shutdown() {
  world_destroy();
  memdc.reset();
}

std::string statistics_line() {
  constexpr const char* kFormat = "Update rate: %3d scale1 %f scale2 %f scale3: %f";
  const int rate = updates_per_second;
  // Measured first: a gain far from 1 prints many digits with %f.
  const int length =
      std::snprintf(nullptr, 0, kFormat, rate, world.scale1, world.scale2, world.scale3);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), kFormat, rate, world.scale1, world.scale2, world.scale3);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void driver_reset() {
  for (bool& key : keys) key = false;
  timer_val = 10;
  updates = 0;
  updates_per_second = 0;
  show_stats = false;
  memdc.reset();
  program_drive.reset();
}
