#include "draw/trail_draw.h"

#include "core/simulation.h"

void draw_trail(const scene_view& view, draw_context& dc, std::span<const point> trail,
                std::optional<point> end) {
  if (trail.empty()) return;
  const draw_object pen = create_pen(view.objects, 1, kTrailColour);
  const draw_object previous = dc.select_object(pen);
  bool piece_started = false;
  for (const point& p : trail) {
    if (is_trail_break(p)) {
      piece_started = false;
      continue;
    }
    if (piece_started) {
      dc.line_to(view_x(view, p.x), view_y(view, p.y));
    } else {
      dc.move_to(view_x(view, p.x), view_y(view, p.y));
      piece_started = true;
    }
  }
  if (piece_started && end) dc.line_to(view_x(view, end->x), view_y(view, end->y));
  dc.select_object(previous);
  delete_object(view.objects, pen);
}
