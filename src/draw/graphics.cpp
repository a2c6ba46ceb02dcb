#include "draw/graphics.h"

#include <cmath>

#include "core/portable_math.h"
#include "core/simulation.h"
#include "draw/draw_context.h"

void draw_arrow(const scene_view& view, draw_context& dc, double x, double y, double angle,
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
  const double head_x = x + length * u;
  const double head_y = y + length * v;
  const double tail_x = x - length * u;
  const double tail_y = y - length * v;
  // The barbs start from the centre, not from the head.
  const double barb = 0.75 * length;

  const int head_px = view_x(view, head_x);
  const int head_py = view_y(view, head_y);

  dc.move_to(view_x(view, tail_x), view_y(view, tail_y));
  dc.line_to(head_px, head_py);

  dc.move_to(view_x(view, x + barb * right_cos), view_y(view, y + barb * right_sin));
  dc.line_to(head_px, head_py);
  dc.line_to(view_x(view, x + barb * left_cos), view_y(view, y + barb * left_sin));
}
