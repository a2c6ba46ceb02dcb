// The arrow primitive against its literal form (each end point from its own sine
// and cosine call), on every arrow of the field's lattice and on angles and
// lengths beyond it, call by call and pixel by pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "../core/test_support.h"
#include "core/portable_math.h"
#include "core/robot.h"
#include "core/world_field.h"
#include "draw/graphics.h"
#include "draw/lattice_memo.h"
#include "draw/raster_context.h"
#include "draw/recording_context.h"
#include "draw/world_draw.h"

namespace {

// The arrow as written first: three strokes, every sine and cosine asked for.
void literal_arrow(const scene_view& view, draw_context& dc, double x, double y, double angle,
                   double length) {
  constexpr double kQuarterPi = 0.7853981633974483;
  const double barb = 0.75 * length;
  const int head_px = view_x(view, x + length * portable_cos(angle));
  const int head_py = view_y(view, y + length * portable_sin(angle));
  dc.move_to(view_x(view, x - length * portable_cos(angle)),
             view_y(view, y - length * portable_sin(angle)));
  dc.line_to(head_px, head_py);
  dc.move_to(view_x(view, x + barb * portable_cos(angle - kQuarterPi)),
             view_y(view, y + barb * portable_sin(angle - kQuarterPi)));
  dc.line_to(head_px, head_py);
  dc.line_to(view_x(view, x + barb * portable_cos(angle + kQuarterPi)),
             view_y(view, y + barb * portable_sin(angle + kQuarterPi)));
}

struct arrow {
  double x, y, angle, length;
};

class ArrowTest : public SimulationTest {
 protected:
  // The lattice's arrows as the frame draws them, then others at the same
  // points: random angles and lengths, and the edge cases of both.
  std::vector<arrow> arrows() {
    constexpr int kCells = 75;
    const double specials[] = {0.0,
                               -0.0,
                               3.141592653589793,
                               -3.141592653589793,
                               0.7853981633974483,
                               -0.7853981633974483,
                               1.5707963267948966,
                               -2.356194490192345,
                               1e-300,
                               1e22,
                               std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    const double lengths[] = {0.0, 1e-300, 0.0125, 0.1};
    std::mt19937_64 rng(75);
    std::uniform_real_distribution<double> any_angle(-3.2, 3.2), any_length(0.0, 0.1);
    std::vector<arrow> out;
    for (int i = 0; i < kCells; ++i) {
      const double wx = static_cast<double>(i) / kCells * world.width;
      for (int j = 0; j < kCells; ++j) {
        const double wy = static_cast<double>(j) / kCells * world.height;
        double angle = 0.0, magnitude = 0.0;
        compute_grad_point(sim, wx, wy, angle, magnitude);
        const double length = std::fabs(magnitude) / 5.0;
        out.push_back({wx, wy, angle, std::isnan(length) ? 0.0 : std::fmin(length, 0.1)});
        out.push_back({wx, wy, any_angle(rng), any_length(rng)});
        const std::size_t k = static_cast<std::size_t>(i * kCells + j);
        out.push_back({wx, wy, specials[k % std::size(specials)],
                       lengths[(k / std::size(specials)) % std::size(lengths)]});
      }
    }
    return out;
  }
};

TEST_F(ArrowTest, EveryStrokeEndsWhereTheLiteralFormPutsIt) {
  const screen_size sizes[] = {{640, 480}, {1280, 960}, {333, 217}};
  for (const screen_size size : sizes) {
    sim.display_x = size.width;
    sim.display_y = size.height;
    recording_context fast, literal;
    for (const arrow& a : arrows()) {
      fast.clear();
      literal.clear();
      draw_arrow(sim, fast, a.x, a.y, a.angle, a.length);
      literal_arrow(sim, literal, a.x, a.y, a.angle, a.length);
      ASSERT_EQ(fast.calls().size(), literal.calls().size());
      for (std::size_t n = 0; n < fast.calls().size(); ++n) {
        const draw_call& got = fast.calls()[n];
        const draw_call& want = literal.calls()[n];
        ASSERT_EQ(got.kind, want.kind);
        ASSERT_EQ(got.x1, want.x1) << a.x << "," << a.y << " at " << a.angle << " x " << a.length;
        ASSERT_EQ(got.y1, want.y1) << a.x << "," << a.y << " at " << a.angle << " x " << a.length;
        ASSERT_EQ(got.x2, want.x2) << a.x << "," << a.y << " at " << a.angle << " x " << a.length;
        ASSERT_EQ(got.y2, want.y2) << a.x << "," << a.y << " at " << a.angle << " x " << a.length;
      }
    }
  }
}

TEST_F(ArrowTest, ALatticeOfArrowsGivesTheLiteralFormsPixels) {
  raster_context fast(640, 480), literal(640, 480);
  // A pen of its own for each arrow, so that one drawn wrong under later ones
  // still shows where they leave it uncovered.
  int n = 0;
  for (const arrow& a : arrows()) {
    const draw_object pen = create_pen(sim, 1, rgb(n & 0xFF, (n >> 8) & 0xFF, 128));
    fast.select_object(pen);
    literal.select_object(pen);
    draw_arrow(sim, fast, a.x, a.y, a.angle, a.length);
    literal_arrow(sim, literal, a.x, a.y, a.angle, a.length);
    delete_object(sim, pen);
    ++n;
  }
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) ASSERT_EQ(fast.pixel(x, y), literal.pixel(x, y)) << x << "," << y;
}

// The scene with the lattice, drawn through `arrows` or afresh without one.
std::vector<std::uint32_t> lattice_frame(const simulation& sim, lattice_memo* arrows) {
  raster_context out(sim.display_x, sim.display_y);
  draw_object_count objects = sim.draw_objects;
  world_draw(
      scene_view(sim, screen_size{sim.display_x, sim.display_y}, true, false, objects, arrows),
      out);
  return {out.pixels(), out.pixels() + static_cast<std::size_t>(out.width()) * out.height()};
}

TEST_F(ArrowTest, FramesThroughTheMemoAreTheFramesDrawnAfresh) {
  lattice_memo memo;
  const auto expect_same_frame = [&](const char* when) {
    ASSERT_EQ(lattice_frame(sim, &memo), lattice_frame(sim, nullptr)) << when;
  };
  expect_same_frame("first frame");
  // The same field again: every arrow comes from the memo.
  const std::uint64_t before = memo.reused();
  expect_same_frame("same field");
  EXPECT_EQ(memo.reused() - before, 75u * 75u);
  // A run: the robot moves, meets walls and replans, and the field follows. A
  // box around it gives it walls to see (impacts, which push the field).
  world_add_wall(sim, robot.x - 0.6, robot.y - 0.6, 1.2, 0.1);
  world_add_wall(sim, robot.x - 0.6, robot.y + 0.5, 1.2, 0.1);
  world_add_wall(sim, robot.x - 0.6, robot.y - 0.6, 0.1, 1.2);
  world_add_wall(sim, robot.x + 0.5, robot.y - 0.6, 0.1, 1.2);
  for (int round = 0; round < 6; ++round) {
    for (int n = 0; n < 50; ++n) robot_update(sim);
    expect_same_frame("after ticks");
  }
  world_set_target(sim, 8.5, 1.5);
  robot_update(sim);
  expect_same_frame("new target");
  sim.display_x = 1280;
  sim.display_y = 960;
  expect_same_frame("larger view");
  sim.display_x = 333;
  sim.display_y = 217;
  expect_same_frame("smaller view");
  world.width = 12.5;
  expect_same_frame("wider world");
  EXPECT_GT(world.num_impacts, 0);
}

}  // namespace
