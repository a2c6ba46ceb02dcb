#include "draw/graphics.h"

#include <cmath>

#include "core/portable_math.h"
#include "core/simulation.h"
#include "draw/draw_context.h"

arrow_points arrow_geometry(const scene_view& view, double x, double y, double angle,
                            double length) {
  constexpr double kQuarterPi = 0.7853981633974483;
  // Each pair is the sine and cosine of one angle as portable_sin and
  // portable_cos give them; the barbs' angles are rounded sums, so their pairs
  // are computed, never rotated from the shaft's.
  double v = 0.0, u = 0.0;
  portable_sincos(angle, v, u);
  double right_sin = 0.0, right_cos = 0.0;
  portable_sincos(angle - kQuarterPi, right_sin, right_cos);
  double left_sin = 0.0, left_cos = 0.0;
  portable_sincos(angle + kQuarterPi, left_sin, left_cos);
  // The barbs start from the centre, not from the head.
  const double barb = 0.75 * length;

  arrow_points points;
  points.tail_x = view_x(view, x - length * u);
  points.tail_y = view_y(view, y - length * v);
  points.head_x = view_x(view, x + length * u);
  points.head_y = view_y(view, y + length * v);
  points.right_x = view_x(view, x + barb * right_cos);
  points.right_y = view_y(view, y + barb * right_sin);
  points.left_x = view_x(view, x + barb * left_cos);
  points.left_y = view_y(view, y + barb * left_sin);
  return points;
}

void draw_arrow_strokes(draw_context& dc, const arrow_points& points) {
  dc.move_to(points.tail_x, points.tail_y);
  dc.line_to(points.head_x, points.head_y);
  dc.move_to(points.right_x, points.right_y);
  dc.line_to(points.head_x, points.head_y);
  dc.line_to(points.left_x, points.left_y);
}

void draw_arrow(const scene_view& view, draw_context& dc, double x, double y, double angle,
                double length) {
  draw_arrow_strokes(dc, arrow_geometry(view, x, y, angle, length));
}
