// What a drawing of the scene reads besides the context it draws into: the
// simulation, which it never changes; the pixels the world is mapped onto;
// whether the field lattice and the vision rays are shown; and the count that
// the brushes and pens it makes take their ids from; and, for a front end that
// draws frame after frame, the memo of the lattice's arrows (draw/lattice_memo.h).
//
// A simulation converts to the window's view of it: its own client area
// (display_x by display_y), its own switches and its own count, so that
// world_draw(sim, dc) draws what the window shows, as it always did. A picture
// of another size or with other switches (shell/scene.h) makes a view of its
// own and leaves the simulation as it was.
#pragma once

#include "core/draw_object.h"
#include "core/simulation.h"
#include "core/world.h"

class lattice_memo;

struct scene_view {
  scene_view(const simulation& sim, screen_size screen, bool grad, bool vision,
             draw_object_count& objects, lattice_memo* arrows = nullptr)
      : sim(sim), screen(screen), grad(grad), vision(vision), objects(objects), arrows(arrows) {}
  // The window's view of the simulation.
  scene_view(simulation& sim)  // NOLINT(google-explicit-constructor): world_draw(sim, dc)
      : scene_view(sim, screen_size{sim.display_x, sim.display_y}, sim.world.show_grad,
                   sim.robot.show_vision, sim.draw_objects) {}

  const simulation& sim;
  screen_size screen;
  bool grad;
  bool vision;
  draw_object_count& objects;
  lattice_memo* arrows;  // none: every arrow is computed afresh
};

// World units to the view's pixels (core/world.h's conversions onto its screen).
inline int view_x(const scene_view& view, double x) {
  return get_screen_x(view.sim.world, view.screen, x);
}
inline int view_y(const scene_view& view, double y) {
  return get_screen_y(view.sim.world, view.screen, y);
}
