#include "shell/mouse_edit.h"

#include <algorithm>

#include "core/world.h"

bool mouse_is_down = false;
bool right_mouse_down = false;

namespace {

// The pixel nearest to the pointer inside a client area of the given size.
unsigned clamp_to_client(int value, int size) {
  if (size <= 0) return 0;
  return static_cast<unsigned>(std::clamp(value, 0, size - 1));
}

double pointer_world_x(int x) {
  return get_world_x(clamp_to_client(x, display_x));
}
double pointer_world_y(int y) {
  return get_world_y(clamp_to_client(y, display_y));
}

}  // namespace

void mouse_down(int x, int y) {
  mouse_is_down = true;
  world_add_wall(pointer_world_x(x), pointer_world_y(y), 0.0, 0.0);
}

void mouse_move(int x, int y) {
  const double wx = pointer_world_x(x);
  const double wy = pointer_world_y(y);
  if (mouse_is_down) {
    wall_node* wall = world.walls;
    // With no wall to drag, or the pointer left of or above the wall's corner, the
    // whole move is ignored, the target included.
    if (wall == nullptr) return;
    if (wall->x > wx || wall->y > wy) return;
    world_resize_wall(wall, wx - wall->x, wy - wall->y);
  }
  if (right_mouse_down) world_set_target(wx, wy);
}

void mouse_up(int /*x*/, int /*y*/) {
  mouse_is_down = false;
}

void right_button_down(int x, int y) {
  world_set_target(pointer_world_x(x), pointer_world_y(y));
  right_mouse_down = true;
}

void right_button_up() {
  right_mouse_down = false;
}

void mouse_edit_reset() {
  mouse_is_down = false;
  right_mouse_down = false;
}
