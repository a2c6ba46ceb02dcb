#include "draw/trail_draw.h"

#include "core/simulation.h"

void draw_trail(simulation& sim, draw_context& dc, std::span<const point> trail, point end) {
  if (trail.empty()) return;
  const draw_object pen = create_pen(sim, 1, kTrailColour);
  const draw_object previous = dc.select_object(pen);
  bool piece_started = false;
  for (const point& p : trail) {
    if (is_trail_break(p)) {
      piece_started = false;
      continue;
    }
    if (piece_started) {
      dc.line_to(get_screen_x(sim, p.x), get_screen_y(sim, p.y));
    } else {
      dc.move_to(get_screen_x(sim, p.x), get_screen_y(sim, p.y));
      piece_started = true;
    }
  }
  if (piece_started) dc.line_to(get_screen_x(sim, end.x), get_screen_y(sim, end.y));
  dc.select_object(previous);
  delete_object(sim, pen);
}
