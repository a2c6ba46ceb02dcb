#include "draw/raster_context.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace {

// Products of two coordinate differences can pass 64 bits when callers hand in
// coordinates near the ends of the int range.
__extension__ using wide_int = __int128;

constexpr std::uint32_t kBlack = raster_pixel(rgb(0, 0, 0));

// A line of at most this many steps has 2 * first * minor + steps < 2^62.
constexpr long long kNarrowSteps = 1LL << 30;

// Horizontal extent, in pixel columns, of row y of the ellipse inscribed in the box
// left..right-1 by top..bottom-1: the pixels whose centres lie inside the ellipse.
// Returns false for a row the ellipse does not reach.
bool ellipse_span(long long left, long long top, long long right, long long bottom, long long y,
                  long long& x0, long long& x1) {
  if (y < top || y >= bottom) return false;
  const double a = static_cast<double>(right - left) / 2.0;
  const double b = static_cast<double>(bottom - top) / 2.0;
  const double cx = static_cast<double>(left) + a;
  const double cy = static_cast<double>(top) + b;
  const double dy = (static_cast<double>(y) + 0.5 - cy) / b;
  const double rest = 1.0 - dy * dy;
  if (rest < 0.0) return false;
  const double half = a * std::sqrt(rest);
  x0 = static_cast<long long>(std::ceil(cx - half - 0.5));
  x1 = static_cast<long long>(std::floor(cx + half - 0.5));
  x0 = std::max(x0, left);
  x1 = std::min(x1, right - 1);
  return x0 <= x1;
}

}  // namespace

raster_context::raster_context(int width, int height) {
  if (width <= 0 || height <= 0) return;
  try {
    owned_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kBlack);
  } catch (const std::bad_alloc&) {
    return;  // too large for this machine: a 0 x 0 buffer
  }
  pixels_ = owned_.data();
  width_ = width;
  height_ = height;
  stride_ = width;
}

raster_context::raster_context(std::uint32_t* pixels, int width, int height,
                               std::ptrdiff_t stride) {
  if (pixels == nullptr || width <= 0 || height <= 0 || stride < width) return;
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  stride_ = stride;
}

std::uint32_t raster_context::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<std::ptrdiff_t>(y) * stride_ + x];
}

void raster_context::fill_span(std::uint32_t* bits, long long y, long long x0, long long x1,
                               std::uint32_t colour) const {
  if (y < 0 || y >= height_) return;
  x0 = std::max(x0, 0LL);
  x1 = std::min(x1, static_cast<long long>(width_) - 1);
  if (x0 > x1) return;
  std::uint32_t* row = bits + static_cast<std::ptrdiff_t>(y) * stride_;
  std::fill(row + x0, row + x1 + 1, colour);
}

bool raster_context::visible_box(int left, int top, int right, int bottom, long long& l,
                                 long long& t, long long& r, long long& b) const {
  if (width_ == 0) return false;
  l = left;
  t = top;
  r = right;
  b = bottom;
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  if (l == r || t == b) return false;
  // Nothing of the box is visible: skip it without touching the pixels.
  return r > 0 && b > 0 && l < width_ && t < height_;
}

void raster_context::rectangle(int left, int top, int right, int bottom) {
  long long l = 0, t = 0, r = 0, b = 0;
  if (!visible_box(left, top, right, bottom, l, t, r, b)) return;

  before_drawing();
  std::uint32_t* bits = pixels_;
  const std::uint32_t pen = raster_pixel(current_pen().colour);
  const std::uint32_t brush = raster_pixel(current_brush().colour);
  const long long y_first = std::max(t, 0LL);
  const long long y_last = std::min(b - 1, static_cast<long long>(height_) - 1);
  // The visible columns of the box and of its inside; a side's outline column
  // may lie outside the buffer.
  const long long x_first = std::max(l, 0LL);
  const long long x_last = std::min(r - 1, static_cast<long long>(width_) - 1);
  const long long inside_first = std::max(l + 1, 0LL);
  const long long inside_last = std::min(r - 2, static_cast<long long>(width_) - 1);
  const bool left_shown = l >= 0;
  const bool right_shown = r - 1 < width_;
  for (long long y = y_first; y <= y_last; ++y) {
    std::uint32_t* row = bits + static_cast<std::ptrdiff_t>(y) * stride_;
    // A brush of the pen's colour (every lattice cell) makes each row one span.
    if (y == t || y == b - 1 || pen == brush) {
      std::fill(row + x_first, row + x_last + 1, pen);
      continue;
    }
    if (inside_first <= inside_last) std::fill(row + inside_first, row + inside_last + 1, brush);
    if (left_shown) row[l] = pen;
    if (right_shown) row[r - 1] = pen;
  }
}

void raster_context::ellipse(int left, int top, int right, int bottom) {
  long long l = 0, t = 0, r = 0, b = 0;
  if (!visible_box(left, top, right, bottom, l, t, r, b)) return;

  before_drawing();
  std::uint32_t* bits = pixels_;
  const std::uint32_t pen = raster_pixel(current_pen().colour);
  const std::uint32_t brush = raster_pixel(current_brush().colour);
  const long long y_first = std::max(t, 0LL);
  const long long y_last = std::min(b - 1, static_cast<long long>(height_) - 1);
  for (long long y = y_first; y <= y_last; ++y) {
    long long x0 = 0, x1 = 0;
    if (!ellipse_span(l, t, r, b, y, x0, x1)) continue;
    // A pixel is on the outline when one of its four neighbours lies outside the
    // ellipse; the rest of the row is the brush's. The rows above and below tell
    // which pixels of this row have a neighbour outside.
    long long up0 = 0, up1 = -1, down0 = 0, down1 = -1;
    const bool has_up = ellipse_span(l, t, r, b, y - 1, up0, up1);
    const bool has_down = ellipse_span(l, t, r, b, y + 1, down0, down1);
    if (!has_up || !has_down) {
      fill_span(bits, y, x0, x1, pen);
      continue;
    }
    const long long in0 = std::max({x0 + 1, up0, down0});
    const long long in1 = std::min({x1 - 1, up1, down1});
    if (in0 > in1) {
      fill_span(bits, y, x0, x1, pen);
      continue;
    }
    fill_span(bits, y, x0, in0 - 1, pen);
    fill_span(bits, y, in0, in1, brush);
    fill_span(bits, y, in1 + 1, x1, pen);
  }
}

void raster_context::move_to(int x, int y) {
  pos_x_ = x;
  pos_y_ = y;
}

void raster_context::line_to(int x, int y) {
  if (width_ > 0) draw_segment(pos_x_, pos_y_, x, y, raster_pixel(current_pen().colour));
  pos_x_ = x;
  pos_y_ = y;
}

void raster_context::text_out(int /*x*/, int /*y*/, std::string_view /*text*/) {}

// Steps along the longer axis from the start pixel up to, but not including, the
// end pixel; on the shorter axis each step takes the nearest pixel, computed
// directly from the step number so that only the steps inside the buffer are
// visited.
void raster_context::draw_segment(long long x0, long long y0, long long x1, long long y1,
                                  std::uint32_t colour) {
  const long long dx = x1 - x0;
  const long long dy = y1 - y0;
  const long long adx = dx < 0 ? -dx : dx;
  const long long ady = dy < 0 ? -dy : dy;
  if (adx == 0 && ady == 0) return;

  const bool x_major = adx >= ady;
  const long long steps = x_major ? adx : ady;  // pixels drawn: steps
  const long long minor = x_major ? ady : adx;  // advance on the other axis
  const long long major_start = x_major ? x0 : y0;
  const long long minor_start = x_major ? y0 : x0;
  const long long major_sign = (x_major ? dx : dy) < 0 ? -1 : 1;
  const long long minor_sign = (x_major ? dy : dx) < 0 ? -1 : 1;
  const long long major_size = x_major ? width_ : height_;
  const long long minor_size = x_major ? height_ : width_;

  // The steps whose major coordinate lies inside the buffer.
  long long first = 0, last = steps - 1;
  if (major_sign > 0) {
    first = std::max(first, -major_start);
    last = std::min(last, major_size - 1 - major_start);
  } else {
    first = std::max(first, major_start - (major_size - 1));
    last = std::min(last, major_start);
  }
  if (first > last) return;

  before_drawing();
  std::uint32_t* bits = pixels_;
  const std::ptrdiff_t stride = stride_;
  // The minor offset of step i is round(i * minor / steps), that is
  // (2 * i * minor + steps) / (2 * steps). It is divided out once for the first
  // step inside the buffer and then carried from step to step as quotient and
  // remainder (minor <= steps, so it grows by at most one per step).
  long long offset = 0;
  long long remainder = 0;
  if (steps <= kNarrowSteps) {
    // Fits in 64 bits, and costs far less than the wide division (a library
    // call on most targets); the quotient and remainder are the same.
    const long long numerator = 2 * first * minor + steps;
    offset = numerator / (2 * steps);
    remainder = numerator % (2 * steps);
  } else {
    const wide_int divisor = static_cast<wide_int>(2) * steps;
    const wide_int numerator = static_cast<wide_int>(2) * first * minor + steps;
    offset = static_cast<long long>(numerator / divisor);
    remainder = static_cast<long long>(numerator % divisor);
  }
  const long long step_divisor = 2 * steps;
  const long long increment = 2 * minor;
  // Pixels apart in memory for one step along each axis.
  const std::ptrdiff_t major_pitch = x_major ? 1 : stride;
  const std::ptrdiff_t minor_pitch = x_major ? stride : 1;
  long long major = major_start + major_sign * first;
  long long m = minor_start + minor_sign * offset;
  for (long long i = first; i <= last; ++i) {
    if (m >= 0 && m < minor_size) {
      bits[static_cast<std::ptrdiff_t>(major) * major_pitch +
           static_cast<std::ptrdiff_t>(m) * minor_pitch] = colour;
    }
    major += major_sign;
    remainder += increment;
    if (remainder >= step_divisor) {
      remainder -= step_divisor;
      m += minor_sign;
    }
  }
}
