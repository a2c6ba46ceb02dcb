#include "shell/scene.h"

#include "draw/raster_context.h"
#include "draw/world_draw.h"
#include "shell/driver.h"
#include "shell/simulator.h"
#include "shell/trail.h"

scene_options scene_options_of(const simulator& app) {
  scene_options options;
  options.grad = app.sim.world.show_grad;
  options.vision = app.sim.robot.show_vision;
  options.stats = app.driver.show_stats;
  return options;
}

void draw_scene(const simulator& app, const scene_options& options, raster_context& out) {
  // The picture's drawing objects count on from the simulation's, in a count of
  // its own: the same objects with the same ids as the window would make, and
  // the simulation's count stays as it was.
  draw_object_count objects = app.sim.draw_objects;
  const scene_view view(app.sim, screen_size{out.width(), out.height()}, options.grad,
                        options.vision, objects, options.arrows);
  if (options.trail && trail_recording(app)) {
    world_draw_with_trail(view, out, trail_points(app), !trail_jumped(app));
  } else {
    world_draw(view, out);
  }
  if (options.stats) out.text_out(1, 1, statistics_line(app));
}
