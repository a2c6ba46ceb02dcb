#include "shell/simulation_reset.h"

#include <cstdlib>

#include "core/automode.h"
#include "core/console.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/world.h"
#include "shell/driver.h"
#include "shell/mouse_edit.h"
#include "shell/run_metrics.h"
#include "shell/trail.h"

void simulation_reset() {
  // The shell first: the off-screen image and the mouse drag refer to the world.
  driver_reset();
  mouse_edit_reset();
  run_metrics_reset();
  trail_reset();
  world_reset();
  robot_reset();
  automode_reset();
  planner_reset();
  set_console_sink({});
  use_real_clock();
  // The generator's state before any srand() call is that of srand(1).
  std::srand(1);
}
