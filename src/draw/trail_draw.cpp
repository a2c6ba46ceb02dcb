#include "draw/trail_draw.h"

#include "core/world.h"

void draw_trail(draw_context& dc, std::span<const point> trail, point end) {
  if (trail.empty()) return;
  const draw_object pen = create_pen(1, kTrailColour);
  const draw_object previous = dc.select_object(pen);
  bool piece_started = false;
  for (const point& p : trail) {
    if (is_trail_break(p)) {
      piece_started = false;
      continue;
    }
    if (piece_started) {
      dc.line_to(get_screen_x(p.x), get_screen_y(p.y));
    } else {
      dc.move_to(get_screen_x(p.x), get_screen_y(p.y));
      piece_started = true;
    }
  }
  if (piece_started) dc.line_to(get_screen_x(end.x), get_screen_y(end.y));
  dc.select_object(previous);
  delete_object(pen);
}
