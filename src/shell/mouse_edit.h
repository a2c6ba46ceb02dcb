// Editing the world with the mouse: the left button drags out a new wall, the
// right button places the target and drags it. Positions are client-area pixels.
//
// The window captures the mouse while a button is held, so the release always
// arrives, also outside the window, and ends the drag. While captured, the pointer
// may report positions off the client area; they are clamped to its edge, so a
// drag never reaches past the world, and a client area of zero size gives world
// coordinate 0 instead of a division by zero.
#pragma once

struct simulator;

struct mouse_edit_state {
  // A wall is being dragged: from a left press to the next left release.
  bool mouse_is_down = false;
  // The target follows the pointer: from a right press to the next right release.
  bool right_mouse_down = false;

  template <typename Self, typename Visit>
  static void fields(Self& m, Visit& visit) {
    visit(m.mouse_is_down, "mouse_is_down");
    visit(m.right_mouse_down, "right_mouse_down");
  }
  friend bool operator==(const mouse_edit_state&, const mouse_edit_state&) = default;
};

// Left press: a wall of zero size at the pointer becomes the newest wall.
void mouse_down(simulator& app, int x, int y);
// Pointer move: resizes the newest wall while the left button is held (only to
// the right of and below its corner), then moves the target while the right
// button is held.
void mouse_move(simulator& app, int x, int y);
// Left release: the dragged wall keeps the extent of the last accepted move.
void mouse_up(simulator& app, int x, int y);
// Right press: the target moves to the pointer at once.
void right_button_down(simulator& app, int x, int y);
void right_button_up(simulator& app);

// Both buttons up again: when the window shuts down.
void mouse_edit_reset(simulator& app);
