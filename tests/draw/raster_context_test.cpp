// Pixel checks of the rasteriser, with no window system: GDI's rectangle, ellipse
// and line conventions, clipping, sizes down to zero, drawing into given memory,
// and every shape against a pixel-by-pixel form of its rule on random and
// adversarial coordinates.
#include "draw/raster_context.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <utility>
#include <vector>

#include "core/simulation.h"

namespace {

constexpr colour_ref kRed = rgb(255, 0, 0);
constexpr colour_ref kBlue = rgb(0, 0, 255);
constexpr std::uint32_t kPixelRed = 0xFFFF0000u;
constexpr std::uint32_t kPixelBlue = 0xFF0000FFu;
constexpr std::uint32_t kPixelBlack = 0xFF000000u;

// Inclusive pixel box; empty when left > right.
struct box {
  int left = 0, top = 0, right = -1, bottom = -1;
  friend bool operator==(const box&, const box&) = default;
  friend std::ostream& operator<<(std::ostream& out, const box& b) {
    return out << "(" << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom << ")";
  }
};

class RasterContextTest : public ::testing::Test {
 protected:
  simulation sim;  // the maker of the drawing objects
  RasterContextTest() : dc(40, 30) {
    brush = create_solid_brush(sim, kBlue);
    pen = create_pen(sim, 1, kRed);
    dc.select_object(brush);
    dc.select_object(pen);
  }
  ~RasterContextTest() override {
    delete_object(sim, brush);
    delete_object(sim, pen);
  }

  std::uint32_t at(int x, int y) const { return dc.pixel(x, y); }
  // The box spanned by every pixel that is not black (the buffer starts black).
  box painted() const {
    box b{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = 0; y < dc.height(); ++y)
      for (int x = 0; x < dc.width(); ++x)
        if (at(x, y) != kPixelBlack)
          b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x),
               std::max(b.bottom, y)};
    return b.left > b.right ? box{} : b;
  }
  int painted_count() const {
    int n = 0;
    for (int y = 0; y < dc.height(); ++y)
      for (int x = 0; x < dc.width(); ++x) n += at(x, y) != kPixelBlack;
    return n;
  }

  raster_context dc;
  draw_object brush;
  draw_object pen;
};

TEST_F(RasterContextTest, NewBufferIsBlackOfTheGivenSizeWithPackedRows) {
  EXPECT_EQ(dc.width(), 40);
  EXPECT_EQ(dc.height(), 30);
  EXPECT_EQ(dc.stride(), 40);
  EXPECT_EQ(painted_count(), 0);
  EXPECT_EQ(at(-1, 0), 0u);  // outside reads as 0
  EXPECT_EQ(at(40, 0), 0u);
}

TEST_F(RasterContextTest, RectangleCoversLeftToRightMinusOneWithThePenOutside) {
  dc.rectangle(10, 10, 20, 20);
  EXPECT_EQ(painted(), (box{10, 10, 19, 19}));
  for (int k = 10; k <= 19; ++k) {
    EXPECT_EQ(at(k, 10), kPixelRed);
    EXPECT_EQ(at(k, 19), kPixelRed);
    EXPECT_EQ(at(10, k), kPixelRed);
    EXPECT_EQ(at(19, k), kPixelRed);
  }
  for (int y = 11; y <= 18; ++y)
    for (int x = 11; x <= 18; ++x) EXPECT_EQ(at(x, y), kPixelBlue) << x << "," << y;
}

TEST_F(RasterContextTest, RectangleCornersInAnyOrderGiveTheSameBox) {
  dc.rectangle(20, 20, 10, 10);
  EXPECT_EQ(painted(), (box{10, 10, 19, 19}));
  EXPECT_EQ(at(15, 15), kPixelBlue);
}

TEST_F(RasterContextTest, ThinAndEmptyRectangles) {
  dc.rectangle(5, 5, 6, 9);  // one pixel wide: all outline
  EXPECT_EQ(painted(), (box{5, 5, 5, 8}));
  for (int y = 5; y <= 8; ++y) EXPECT_EQ(at(5, y), kPixelRed);
  dc.rectangle(30, 5, 30, 20);  // zero width: nothing
  dc.rectangle(30, 5, 35, 5);   // zero height: nothing
  EXPECT_EQ(painted_count(), 4);
}

TEST_F(RasterContextTest, ColoursArePaintedExactlyAsOpaqueRgb) {
  const draw_object wall = create_solid_brush(sim, rgb(0, 128, 200));
  dc.select_object(wall);
  dc.rectangle(0, 0, 5, 5);
  EXPECT_EQ(at(2, 2), 0xFF0080C8u);
  EXPECT_EQ(raster_pixel(rgb(1, 2, 3)), 0xFF010203u);
  dc.select_object(brush);
  delete_object(sim, wall);
}

TEST_F(RasterContextTest, RectangleIsClippedToTheBuffer) {
  dc.rectangle(-5, -5, 3, 3);
  EXPECT_EQ(painted(), (box{0, 0, 2, 2}));
  EXPECT_EQ(at(0, 0), kPixelBlue);  // the outline lies off the buffer
  EXPECT_EQ(at(2, 2), kPixelRed);
}

TEST_F(RasterContextTest, EllipseStaysInsideItsBoxAndTouchesEverySide) {
  dc.ellipse(5, 4, 25, 20);
  EXPECT_EQ(painted(), (box{5, 4, 24, 19}));
  // Outline on the extreme points, brush in the middle.
  EXPECT_EQ(at(15, 12), kPixelBlue);
  EXPECT_EQ(at(5, 12), kPixelRed);
  EXPECT_EQ(at(24, 12), kPixelRed);
  EXPECT_EQ(at(15, 4), kPixelRed);
  EXPECT_EQ(at(15, 19), kPixelRed);
  // The corners of the box stay clear.
  EXPECT_EQ(at(5, 4), kPixelBlack);
  EXPECT_EQ(at(24, 19), kPixelBlack);
  // Symmetric about both axes of the box.
  for (int y = 4; y <= 19; ++y)
    for (int x = 5; x <= 24; ++x) {
      EXPECT_EQ(at(x, y), at(29 - x, y)) << x << "," << y;
      EXPECT_EQ(at(x, y), at(x, 23 - y)) << x << "," << y;
    }
}

TEST_F(RasterContextTest, SmallEllipsesStillShow) {
  dc.ellipse(2, 2, 3, 3);  // one pixel
  EXPECT_EQ(painted(), (box{2, 2, 2, 2}));
  dc.ellipse(10, 10, 16, 15);  // a waypoint's size at 640 x 480
  EXPECT_EQ(painted(), (box{2, 2, 15, 14}));
  dc.ellipse(30, 10, 30, 20);  // zero width: nothing
  EXPECT_EQ(painted(), (box{2, 2, 15, 14}));
}

TEST_F(RasterContextTest, LineStopsOnePixelShortOfItsEnd) {
  dc.move_to(0, 0);
  dc.line_to(10, 0);
  EXPECT_EQ(painted(), (box{0, 0, 9, 0}));
  EXPECT_EQ(at(0, 0), kPixelRed);  // lines take the pen's colour
  dc.line_to(10, 5);               // continues from the last end point
  EXPECT_EQ(painted(), (box{0, 0, 10, 4}));
  EXPECT_EQ(at(10, 0), kPixelRed);
  EXPECT_EQ(at(10, 5), kPixelBlack);
}

TEST_F(RasterContextTest, DiagonalAndSteepLinesStepOnePixelPerRowOrColumn) {
  dc.move_to(0, 0);
  dc.line_to(5, 5);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(at(k, k), kPixelRed);
  EXPECT_EQ(painted_count(), 5);

  dc.move_to(20, 20);
  dc.line_to(22, 10);  // steep, upward: ten pixels, one per row
  EXPECT_EQ(painted_count(), 15);
  EXPECT_EQ(at(20, 20), kPixelRed);
  EXPECT_EQ(at(22, 11), kPixelRed);
  EXPECT_EQ(at(22, 10), kPixelBlack);
}

TEST_F(RasterContextTest, LineToTheSamePointDrawsNothing) {
  dc.move_to(7, 7);
  dc.line_to(7, 7);
  EXPECT_EQ(painted_count(), 0);
}

// Clipped before they are walked: BM_HugeCoordinates measures microseconds where
// walking 2^32 steps would take seconds.
TEST_F(RasterContextTest, HugeCoordinatesAreClipped) {
  dc.move_to(INT_MIN, INT_MIN);
  dc.line_to(INT_MAX, INT_MAX);  // the diagonal through the buffer
  for (int k = 0; k < 30; ++k) EXPECT_EQ(at(k, k), kPixelRed) << k;
  dc.move_to(INT_MIN, 5);
  dc.line_to(INT_MAX, 5);
  for (int x = 0; x < 40; ++x) EXPECT_EQ(at(x, 5), kPixelRed);
  dc.rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);  // outline far outside
  EXPECT_EQ(at(20, 20), kPixelBlue);
  dc.ellipse(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  EXPECT_EQ(at(20, 20), kPixelBlue);  // the inside of an ellipse far larger than the buffer
}

TEST_F(RasterContextTest, TextIsLeftOutOfAPlainBuffer) {
  dc.text_out(1, 1, "Update rate: 100");
  EXPECT_EQ(painted_count(), 0);
}

TEST(RasterContextSizes, ZeroAndNegativeSizesDrawNothing) {
  for (auto size : {std::pair{0, 0}, std::pair{-5, 10}, std::pair{10, 0}, std::pair{INT_MIN, -1}}) {
    raster_context dc(size.first, size.second);
    EXPECT_EQ(dc.width(), 0);
    EXPECT_EQ(dc.height(), 0);
    EXPECT_EQ(dc.pixels(), nullptr);
    EXPECT_EQ(dc.pixel(0, 0), 0u);
    dc.rectangle(0, 0, 10, 10);
    dc.ellipse(0, 0, 10, 10);
    dc.move_to(0, 0);
    dc.line_to(10, 10);
    dc.text_out(1, 1, "Update rate");
  }
}

TEST(RasterContextMemory, DrawsIntoGivenRowsAndLeavesTheRestAlone) {
  // 5 x 3 pixels in rows of 8: the three pixels past each row must stay as they are.
  constexpr std::uint32_t kUntouched = 0x12345678u;
  std::vector<std::uint32_t> memory(8 * 3, kUntouched);
  raster_context dc(memory.data(), 5, 3, 8);
  ASSERT_EQ(dc.stride(), 8);
  EXPECT_EQ(dc.pixel(4, 2), kUntouched);  // the content is kept, not cleared
  simulation sim;
  const draw_object red_pen = create_pen(sim, 1, kRed);
  const draw_object red_brush = create_solid_brush(sim, kRed);
  dc.select_object(red_pen);
  dc.select_object(red_brush);
  dc.rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  dc.move_to(-100, 1);
  dc.line_to(100, 1);
  dc.ellipse(-3, -3, 20, 20);
  delete_object(sim, red_pen);
  delete_object(sim, red_brush);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 8; ++x) {
      const std::uint32_t p = memory[static_cast<std::size_t>(y * 8 + x)];
      if (x < 5)
        EXPECT_EQ(p, kPixelRed) << x << "," << y;
      else
        EXPECT_EQ(p, kUntouched) << x << "," << y;
    }
  }
}

TEST(RasterContextMemory, UnusableMemoryIsAnEmptyBuffer) {
  std::vector<std::uint32_t> memory(16, 0u);
  for (auto [pixels, stride] :
       {std::pair{memory.data(), std::ptrdiff_t{3}}, std::pair{memory.data(), std::ptrdiff_t{-4}},
        std::pair{static_cast<std::uint32_t*>(nullptr), std::ptrdiff_t{4}}}) {
    raster_context dc(pixels, 4, 4, stride);
    EXPECT_EQ(dc.width(), 0);
    dc.rectangle(0, 0, 4, 4);
    dc.move_to(0, 0);
    dc.line_to(4, 4);
  }
  for (std::uint32_t p : memory) EXPECT_EQ(p, 0u);
}

// ---------------------------------------------------------------------------
// The rules written pixel by pixel, independently of the rasteriser's spans,
// clipping and carried rounding. Each asks of one buffer pixel what it shows.

struct shape_colours {
  std::uint32_t pen;
  std::uint32_t brush;
};

using pixels = std::vector<std::uint32_t>;

void sort_box(long long& l, long long& t, long long& r, long long& b) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
}

void reference_rectangle(pixels& buf, int w, int h, long long l, long long t, long long r,
                         long long b, shape_colours c) {
  sort_box(l, t, r, b);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (x < l || x >= r || y < t || y >= b) continue;
      const bool edge = x == l || x == r - 1 || y == t || y == b - 1;
      buf[static_cast<std::size_t>(y) * w + x] = edge ? c.pen : c.brush;
    }
}

// Pixel (x, y) lies in the ellipse inscribed in the box when its centre does.
bool in_ellipse(long long l, long long t, long long r, long long b, long long x, long long y) {
  if (x < l || x >= r || y < t || y >= b) return false;
  const double a = static_cast<double>(r - l) / 2.0;
  const double bb = static_cast<double>(b - t) / 2.0;
  const double cx = static_cast<double>(l) + a;
  const double cy = static_cast<double>(t) + bb;
  const double dy = (static_cast<double>(y) + 0.5 - cy) / bb;
  const double rest = 1.0 - dy * dy;
  if (rest < 0.0) return false;
  const double half = a * std::sqrt(rest);
  const double px = static_cast<double>(x);
  return px >= cx - half - 0.5 && px <= cx + half - 0.5;
}

void reference_ellipse(pixels& buf, int w, int h, long long l, long long t, long long r,
                       long long b, shape_colours c) {
  sort_box(l, t, r, b);
  if (l == r || t == b) return;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!in_ellipse(l, t, r, b, x, y)) continue;
      // The outline: a pixel with one of its four neighbours outside.
      const bool inner = in_ellipse(l, t, r, b, x - 1, y) && in_ellipse(l, t, r, b, x + 1, y) &&
                         in_ellipse(l, t, r, b, x, y - 1) && in_ellipse(l, t, r, b, x, y + 1);
      buf[static_cast<std::size_t>(y) * w + x] = inner ? c.brush : c.pen;
    }
}

// Step i of a line, 0 <= i < steps, lies i pixels along the longer axis from the
// start and round(i * minor / steps) along the shorter one, halves rounded away
// from the start.
void reference_line(pixels& buf, int w, int h, long long x0, long long y0, long long x1,
                    long long y1, std::uint32_t pen) {
  __extension__ using wide = __int128;
  const long long dx = x1 - x0, dy = y1 - y0;
  const long long adx = std::llabs(dx), ady = std::llabs(dy);
  const bool x_major = adx >= ady;
  const long long steps = x_major ? adx : ady;
  const long long minor = x_major ? ady : adx;
  const long long major_sign = (x_major ? dx : dy) < 0 ? -1 : 1;
  const long long minor_sign = (x_major ? dy : dx) < 0 ? -1 : 1;
  const long long major_start = x_major ? x0 : y0;
  const long long minor_start = x_major ? y0 : x0;
  // Visit the buffer's columns (or rows) and ask which step, if any, lands there.
  const int major_size = x_major ? w : h;
  for (long long p = 0; p < major_size; ++p) {
    const long long i = (p - major_start) * major_sign;
    if (i < 0 || i >= steps) continue;
    const long long offset =
        static_cast<long long>((wide{2} * i * minor + steps) / (wide{2} * steps));
    const long long m = minor_start + minor_sign * offset;
    const long long x = x_major ? p : m, y = x_major ? m : p;
    if (x >= 0 && x < w && y >= 0 && y < h) buf[static_cast<std::size_t>(y) * w + x] = pen;
  }
}

// Coordinates for one shape: all near the buffer (small shapes, every edge case of
// the outline and the rounding), spread over a wider area (long lines, large discs
// crossing the buffer), or anywhere up to the ends of the int range.
struct coordinate_source {
  int mode;
  int size;
  int operator()(std::mt19937& rng) const {
    const int picks[] = {INT_MIN,  INT_MIN + 1, -1000003, -1,      0,           1,
                         size - 1, size,        size + 1, 1000003, INT_MAX - 1, INT_MAX};
    switch (mode) {
      case 0:
        return std::uniform_int_distribution<int>(-3, size + 3)(rng);
      case 1:
        return std::uniform_int_distribution<int>(-20 * size - 20, 20 * size + 20)(rng);
      default:
        if (rng() % 2 == 0) return std::uniform_int_distribution<int>(INT_MIN, INT_MAX)(rng);
        return picks[rng() % std::size(picks)];
    }
  }
};

class RasterReferenceTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(RasterReferenceTest, EveryShapeMatchesItsPixelRuleBitForBit) {
  const auto [w, h] = GetParam();
  std::mt19937 rng(static_cast<std::uint32_t>(w * 7919 + h));
  std::uniform_int_distribution<std::uint32_t> any_colour(0, 0xFFFFFFu);
  raster_context dc(w, h);
  pixels want(static_cast<std::size_t>(w) * h, raster_pixel(rgb(0, 0, 0)));
  int pos_x = 0, pos_y = 0;
  simulation sim;

  for (int n = 0; n < 1500; ++n) {
    const draw_object pen = create_pen(sim, 1, any_colour(rng));
    // Every eighth shape has a brush of its pen's colour, as the lattice's cells do.
    const draw_object brush = create_solid_brush(sim, n % 8 == 0 ? pen.colour : any_colour(rng));
    dc.select_object(pen);
    dc.select_object(brush);
    const shape_colours c{raster_pixel(pen.colour), raster_pixel(brush.colour)};
    const int mode = static_cast<int>(rng() % 3);
    const coordinate_source across{mode, w}, down{mode, h};
    const int l = across(rng), t = down(rng), r = across(rng), b = down(rng);
    const int shape = n % 4;
    if (shape == 0) {
      dc.rectangle(l, t, r, b);
      reference_rectangle(want, w, h, l, t, r, b, c);
    } else if (shape == 1) {
      dc.ellipse(l, t, r, b);
      reference_ellipse(want, w, h, l, t, r, b, c);
    } else if (shape == 2) {
      dc.move_to(l, t);
      dc.line_to(r, b);
      reference_line(want, w, h, l, t, r, b, c.pen);
      pos_x = r;
      pos_y = b;
    } else {
      dc.line_to(l, t);  // from where the last line ended
      reference_line(want, w, h, pos_x, pos_y, l, t, c.pen);
      pos_x = l;
      pos_y = t;
    }
    delete_object(sim, pen);
    delete_object(sim, brush);

    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(dc.pixel(x, y), want[static_cast<std::size_t>(y) * w + x])
            << "shape " << n << " (kind " << shape << ") " << l << "," << t << "," << r << "," << b
            << " at pixel " << x << "," << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RasterReferenceTest,
                         ::testing::Values(std::pair{1, 1}, std::pair{1, 6}, std::pair{7, 1},
                                           std::pair{2, 2}, std::pair{13, 9}, std::pair{40, 30}),
                         [](const auto& info) {
                           return std::to_string(info.param.first) + "x" +
                                  std::to_string(info.param.second);
                         });

}  // namespace
