#include "shell/mouse_edit.h"

#include <algorithm>

#include "core/simulation.h"
#include "shell/simulator.h"

namespace {

// The pixel nearest to the pointer inside a client area of the given size.
unsigned clamp_to_client(int value, int size) {
  if (size <= 0) return 0;
  return static_cast<unsigned>(std::clamp(value, 0, size - 1));
}

double pointer_world_x(const simulation& sim, int x) {
  return get_world_x(sim, clamp_to_client(x, sim.display_x));
}
double pointer_world_y(const simulation& sim, int y) {
  return get_world_y(sim, clamp_to_client(y, sim.display_y));
}

}  // namespace

void mouse_down(simulator& app, int x, int y) {
  app.mouse.mouse_is_down = true;
  world_add_wall(app.sim, pointer_world_x(app.sim, x), pointer_world_y(app.sim, y), 0.0, 0.0);
}

void mouse_move(simulator& app, int x, int y) {
  simulation& sim = app.sim;
  const double wx = pointer_world_x(sim, x);
  const double wy = pointer_world_y(sim, y);
  if (app.mouse.mouse_is_down) {
    wall_node* wall = sim.world.walls;
    // With no wall to drag, or the pointer left of or above the wall's corner, the
    // whole move is ignored, the target included.
    if (wall == nullptr) return;
    if (wall->x > wx || wall->y > wy) return;
    world_resize_wall(sim, wall, wx - wall->x, wy - wall->y);
  }
  if (app.mouse.right_mouse_down) world_set_target(sim, wx, wy);
}

void mouse_up(simulator& app, int /*x*/, int /*y*/) {
  app.mouse.mouse_is_down = false;
}

void right_button_down(simulator& app, int x, int y) {
  world_set_target(app.sim, pointer_world_x(app.sim, x), pointer_world_y(app.sim, y));
  app.mouse.right_mouse_down = true;
}

void right_button_up(simulator& app) {
  app.mouse.right_mouse_down = false;
}

void mouse_edit_reset(simulator& app) {
  app.mouse = mouse_edit_state{};
}
