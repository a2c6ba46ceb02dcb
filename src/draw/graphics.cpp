#include "draw/graphics.h"

#include <cmath>

#include "core/simulation.h"
#include "draw/draw_context.h"

void draw_arrow(const simulation& sim, draw_context& dc, double x, double y, double angle,
                double length) {
  constexpr double kQuarterPi = 0.7853981633974483;
  const double u = std::cos(angle);
  const double v = std::sin(angle);
  const double head_x = x + length * u;
  const double head_y = y + length * v;
  const double tail_x = x - length * u;
  const double tail_y = y - length * v;
  // The barbs start from the centre, not from the head.
  const double barb = 0.75 * length;

  const int head_px = get_screen_x(sim, head_x);
  const int head_py = get_screen_y(sim, head_y);

  dc.move_to(get_screen_x(sim, tail_x), get_screen_y(sim, tail_y));
  dc.line_to(head_px, head_py);

  dc.move_to(get_screen_x(sim, x + barb * std::cos(angle - kQuarterPi)),
             get_screen_y(sim, y + barb * std::sin(angle - kQuarterPi)));
  dc.line_to(head_px, head_py);
  dc.line_to(get_screen_x(sim, x + barb * std::cos(angle + kQuarterPi)),
             get_screen_y(sim, y + barb * std::sin(angle + kQuarterPi)));
}
