// The world's drawing, checked call by call on a recording context at 640 x 480.
#include "draw/world_draw.h"

#include <cmath>
#include <set>
#include <vector>

#include "../core/test_support.h"
#include "core/world_field.h"
#include "draw/graphics.h"
#include "draw/recording_context.h"

namespace {

constexpr colour_ref kWallColour = rgb(0, 128, 200);
constexpr colour_ref kBlack = rgb(0, 0, 0);
constexpr colour_ref kWhite = rgb(255, 255, 255);
constexpr colour_ref kGreen = rgb(0, 255, 0);
constexpr colour_ref kRed = rgb(255, 0, 0);
constexpr int kCells = 75;

class WorldDrawTest : public SimulationTest {
 protected:
  // Replaces the planner's waypoints with a list whose indices are given.
  void set_waypoints(const std::vector<point>& positions, int current) {
    world_free_waypoints(sim);
    for (const point& p : positions) world_add_waypoint(sim, p.x, p.y, 0.0);
    int index = 0;
    for (waypoint_node* w = world.waypoints; w != nullptr; w = w->next) w->index = index++;
    world.cur_waypoint = current;
  }

  // A field whose value at the lattice point (4, 4) (i = j = 30) is known exactly.
  void set_gains(double s1, double s2, double s3) {
    world.scale1 = s1;
    world.scale2 = s2;
    world.scale3 = s3;
  }

  // The lattice cell and its arrow at i = j = 30, the world point (4, 4).
  struct lattice_cell {
    draw_call rectangle;
    std::vector<draw_call> arrow;  // move_to, line_to, move_to, line_to, line_to
  };
  lattice_cell cell_at_4_4(const recording_context& dc) {
    const auto shapes = dc.shapes();
    // Every cell is one rectangle followed by the five calls of its arrow.
    const std::size_t first = (30 * kCells + 30) * 6;
    lattice_cell cell{shapes.at(first), {}};
    for (std::size_t k = 1; k <= 5; ++k) cell.arrow.push_back(shapes.at(first + k));
    return cell;
  }

  std::vector<draw_call> arrow_calls(double x, double y, double angle, double length) {
    recording_context dc;
    draw_arrow(sim, dc, x, y, angle, length);
    return dc.shapes();
  }

  recording_context dc;
};

bool same_shape(const draw_call& a, draw_call_kind kind, int x1, int y1, int x2, int y2) {
  return a.kind == kind && a.x1 == x1 && a.y1 == y1 && a.x2 == x2 && a.y2 == y2;
}

bool same_shape(const draw_call& a, const draw_call& b) {
  return same_shape(a, b.kind, b.x1, b.y1, b.x2, b.y2);
}

void expect_same_shapes(const std::vector<draw_call>& got, const std::vector<draw_call>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_TRUE(same_shape(got[k], want[k]))
        << "call " << k << ": (" << got[k].x1 << "," << got[k].y1 << ")-(" << got[k].x2 << ","
        << got[k].y2 << ") expected (" << want[k].x1 << "," << want[k].y1 << ")-(" << want[k].x2
        << "," << want[k].y2 << ")";
  }
}

TEST_F(WorldDrawTest, ArrowIsAShaftAndTwoBarbsFromTheCentre) {
  draw_arrow(sim, dc, 5.0, 5.0, 0.0, 1.0);
  const auto calls = dc.shapes();
  ASSERT_EQ(calls.size(), 5u);
  // Shaft from (4, 5) to (6, 5): pixels (256, 240) to (384, 240).
  EXPECT_EQ(calls[0].kind, draw_call_kind::move_to);
  EXPECT_EQ(calls[1].kind, draw_call_kind::line_to);
  EXPECT_TRUE(same_shape(calls[1], draw_call_kind::line_to, 256, 240, 384, 240));
  // Barbs from about (5.530, 4.470) to the head and on to about (5.530, 5.530),
  // 0.75 of the length off the centre at 45 degrees either side.
  EXPECT_EQ(calls[2].kind, draw_call_kind::move_to);
  EXPECT_TRUE(same_shape(calls[3], draw_call_kind::line_to, 353, 214, 384, 240));
  EXPECT_TRUE(same_shape(calls[4], draw_call_kind::line_to, 384, 240, 353, 265));
  // The arrow selects nothing: no selection calls were recorded.
  EXPECT_EQ(dc.count(draw_call_kind::select_pen) + dc.count(draw_call_kind::select_brush), 0u);
}

TEST_F(WorldDrawTest, ArrowPointsDownTheScreenForAPositiveQuarterTurn) {
  draw_arrow(sim, dc, 5.0, 5.0, kPi / 2, 1.0);
  const auto calls = dc.shapes();
  ASSERT_EQ(calls.size(), 5u);
  // Tail above the centre, head below it (y grows downward).
  EXPECT_TRUE(same_shape(calls[1], draw_call_kind::line_to, 320, 192, 320, 288));
  // Both barbs end above the head, one either side of the shaft.
  EXPECT_LT(calls[3].y1, 288);
  EXPECT_GT(calls[3].x1, 320);
  EXPECT_LT(calls[4].x2, 320);
  EXPECT_EQ(calls[3].y1, calls[4].y2);
}

TEST_F(WorldDrawTest, ArrowOfLengthZeroCollapsesToItsCentre) {
  draw_arrow(sim, dc, 5.0, 5.0, 1.0, 0.0);
  for (const draw_call& call : dc.shapes()) {
    EXPECT_EQ(call.kind == draw_call_kind::move_to ? call.x1 : call.x2, 320);
    EXPECT_EQ(call.kind == draw_call_kind::move_to ? call.y1 : call.y2, 240);
  }
}

TEST_F(WorldDrawTest, SceneIsBackgroundWallsTargetWaypointsThenRobot) {
  set_waypoints({{2.0, 2.0}}, 0);
  world_draw(sim, dc);
  const auto shapes = dc.shapes();
  ASSERT_GE(shapes.size(), 7u);
  // The background fills the client area in white.
  EXPECT_TRUE(same_shape(shapes[0], draw_call_kind::rectangle, 0, 0, 640, 480));
  EXPECT_EQ(shapes[0].brush_colour(), kWhite);
  EXPECT_EQ(shapes[0].pen_colour(), kWhite);
  // The four walls from the head of the list: right, left, bottom, top.
  EXPECT_TRUE(same_shape(shapes[1], draw_call_kind::rectangle, 636, 0, 640, 480));
  EXPECT_TRUE(same_shape(shapes[2], draw_call_kind::rectangle, 0, 0, 3, 480));
  EXPECT_TRUE(same_shape(shapes[3], draw_call_kind::rectangle, 0, 477, 640, 480));
  EXPECT_TRUE(same_shape(shapes[4], draw_call_kind::rectangle, 0, 0, 640, 2));
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(shapes[k].brush_colour(), kWallColour);
    EXPECT_EQ(shapes[k].pen_colour(), kWallColour);
  }
  // The target, a disc 0.15 across at (5, 5), then the one waypoint.
  EXPECT_TRUE(same_shape(shapes[5], draw_call_kind::ellipse, 315, 236, 324, 243));
  EXPECT_EQ(shapes[5].brush_colour(), kGreen);
  EXPECT_TRUE(same_shape(shapes[6], draw_call_kind::ellipse, 124, 93, 131, 98));
  // The robot comes last: its body is the next ellipse, green with a black outline.
  pixel_rect body{};
  get_bounding_rect(sim, robot.x, robot.y, robot.diameter, robot.diameter, body);
  EXPECT_TRUE(
      same_shape(shapes[7], draw_call_kind::ellipse, body.left, body.top, body.right, body.bottom));
  // Without the lattice nothing else is a rectangle.
  EXPECT_EQ(dc.count(draw_call_kind::rectangle), 5u);
}

TEST_F(WorldDrawTest, TargetOutlineTakesTheWallPenWhenWallsAreShownAndBlackOtherwise) {
  world.show_walls = true;
  world_draw(sim, dc);
  auto ellipses = dc.calls_of(draw_call_kind::ellipse);
  ASSERT_FALSE(ellipses.empty());
  EXPECT_EQ(ellipses[0].brush_colour(), kGreen);
  EXPECT_EQ(ellipses[0].pen.id, world.wall_pen.id);

  dc.clear();
  world.show_walls = false;
  world_draw(sim, dc);
  // No wall is drawn: the only rectangle is the background.
  EXPECT_EQ(dc.count(draw_call_kind::rectangle), 1u);
  ellipses = dc.calls_of(draw_call_kind::ellipse);
  ASSERT_FALSE(ellipses.empty());
  EXPECT_EQ(ellipses[0].brush_colour(), kGreen);
  EXPECT_EQ(ellipses[0].pen.id, world.black_pen.id);
  EXPECT_EQ(ellipses[0].pen_colour(), kBlack);
}

TEST_F(WorldDrawTest, NoTargetDiscWithoutATarget) {
  world.target_set = false;
  set_waypoints({}, 0);
  world_draw(sim, dc);
  // The first ellipse is the robot's body (black outline), not the target.
  const auto ellipses = dc.calls_of(draw_call_kind::ellipse);
  ASSERT_FALSE(ellipses.empty());
  EXPECT_EQ(ellipses[0].pen.id, world.black_pen.id);
}

TEST_F(WorldDrawTest, OnlyTheCurrentWaypointIsRedWithABlackOutline) {
  set_waypoints({{1.0, 1.0}, {2.0, 2.0}, {3.0, 3.0}}, 1);
  world_draw_waypoints(sim, dc);
  auto discs = dc.calls_of(draw_call_kind::ellipse);
  ASSERT_EQ(discs.size(), 3u);
  // The list runs newest first: (3, 3) has index 0, (2, 2) index 1.
  EXPECT_TRUE(same_shape(discs[0], draw_call_kind::ellipse, 188, 141, 195, 146));
  EXPECT_EQ(discs[0].brush_colour(), kWallColour);
  EXPECT_EQ(discs[0].pen_colour(), kWallColour);
  EXPECT_EQ(discs[1].brush.id, world.red_brush.id);
  EXPECT_EQ(discs[1].pen.id, world.black_pen.id);
  EXPECT_EQ(discs[2].brush.id, world.wall_brush.id);
  EXPECT_EQ(discs[2].pen.id, world.wall_pen.id);

  // With no waypoint at the current index, none is red.
  dc.clear();
  world.cur_waypoint = 7;
  world_draw_waypoints(sim, dc);
  discs = dc.calls_of(draw_call_kind::ellipse);
  ASSERT_EQ(discs.size(), 3u);
  for (const draw_call& disc : discs) EXPECT_EQ(disc.brush_colour(), kWallColour);
}

TEST_F(WorldDrawTest, ZeroSizedWallIsStillDrawn) {
  world_add_wall(sim, 5.0, 5.0, 0.0, 0.0);
  world_draw_walls(sim, dc);
  const auto rects = dc.calls_of(draw_call_kind::rectangle);
  ASSERT_EQ(rects.size(), 5u);
  EXPECT_TRUE(same_shape(rects[0], draw_call_kind::rectangle, 320, 240, 320, 240));
}

TEST_F(WorldDrawTest, ImpactsAndMarkersAreNeverDrawn) {
  world_add_impact(sim, 3.0, 3.0);
  world_draw_impacts(sim, dc);
  world_draw_markers(sim, dc);
  EXPECT_TRUE(dc.calls().empty());
}

// The lattice cell at (4, 4) with a field of known value: gains set to zero drop a
// term, an impact 1 away gives a repulsion of exactly scale1, and a waypoint 0.5
// away an attraction of exactly 0.5 * scale2.
TEST_F(WorldDrawTest, NegativeFieldColoursTheCellRedAndCapsTheArrow) {
  world_free_impacts(sim);
  set_waypoints({{4.5, 4.0}}, 0);
  set_gains(0.0, 1.0, 0.0);
  double angle = 0, magnitude = 0;
  compute_grad_point(sim, 4.0, 4.0, angle, magnitude);
  ASSERT_EQ(magnitude, -0.5);

  world.show_grad = true;
  world_draw_grad(sim, dc);
  const lattice_cell cell = cell_at_4_4(dc);
  EXPECT_EQ(cell.rectangle.brush_colour(), rgb(127, 0, 0));
  EXPECT_EQ(cell.rectangle.pen_colour(), rgb(127, 0, 0));
  // Cell half-sizes 4 and 3 at 640 x 480, one pixel more on every side.
  EXPECT_TRUE(same_shape(cell.rectangle, draw_call_kind::rectangle, 251, 188, 261, 196));
  // |-0.5| / 5 = 0.1, the cap; drawn in the green pen.
  expect_same_shapes(cell.arrow, arrow_calls(4.0, 4.0, angle, 0.1));
  for (const draw_call& stroke : cell.arrow) EXPECT_EQ(stroke.pen.id, world.green_pen.id);
}

TEST_F(WorldDrawTest, PositiveFieldColoursTheCellBlueWithAShorterArrow) {
  world_free_impacts(sim);
  world_add_impact(sim, 5.0, 4.0);
  set_gains(0.3, 0.0, 0.0);
  double angle = 0, magnitude = 0;
  compute_grad_point(sim, 4.0, 4.0, angle, magnitude);
  ASSERT_EQ(magnitude, 0.3);

  world_draw_grad(sim, dc);
  const lattice_cell cell = cell_at_4_4(dc);
  EXPECT_EQ(cell.rectangle.brush_colour(), rgb(0, 0, 76));
  EXPECT_EQ(cell.rectangle.pen_colour(), rgb(0, 0, 76));
  expect_same_shapes(cell.arrow, arrow_calls(4.0, 4.0, angle, 0.06));
}

TEST_F(WorldDrawTest, StrongFieldSaturatesTheColourAndTheArrow) {
  world_free_impacts(sim);
  world_add_impact(sim, 5.0, 4.0);
  set_gains(2.0, 0.0, 0.0);
  world_draw_grad(sim, dc);
  const lattice_cell cell = cell_at_4_4(dc);
  EXPECT_EQ(cell.rectangle.brush_colour(), rgb(0, 0, 255));
  double angle = 0, magnitude = 0;
  compute_grad_point(sim, 4.0, 4.0, angle, magnitude);
  expect_same_shapes(cell.arrow, arrow_calls(4.0, 4.0, angle, 0.1));
}

TEST_F(WorldDrawTest, ZeroFieldIsABlackCellWithAnArrowCollapsedToItsPoint) {
  world_free_impacts(sim);
  set_gains(0.0, 0.0, 0.0);
  world_draw_grad(sim, dc);
  const lattice_cell cell = cell_at_4_4(dc);
  EXPECT_EQ(cell.rectangle.brush_colour(), kBlack);
  for (const draw_call& stroke : cell.arrow) {
    EXPECT_EQ(stroke.kind == draw_call_kind::move_to ? stroke.x1 : stroke.x2, 256);
    EXPECT_EQ(stroke.kind == draw_call_kind::move_to ? stroke.y1 : stroke.y2, 192);
  }
}

TEST_F(WorldDrawTest, LatticeMakesOneBrushAndPenPerCellAndReleasesThem) {
  const long live_before = live_draw_objects(sim);
  world_draw(sim, dc);  // lattice off
  const std::size_t calls_without = dc.calls().size();
  dc.clear();
  world.show_grad = true;
  world_draw(sim, dc);
  EXPECT_EQ(live_draw_objects(sim), live_before);

  std::set<std::uint32_t> cell_brushes;
  std::set<std::uint32_t> cell_pens;
  const auto rects = dc.calls_of(draw_call_kind::rectangle);
  ASSERT_EQ(rects.size(), 1u + kCells * kCells + 4u);
  for (std::size_t k = 1; k <= kCells * kCells; ++k) {
    cell_brushes.insert(rects[k].brush.id);
    cell_pens.insert(rects[k].pen.id);
    // Cells 10 pixels from left to right edge coordinate at 640 pixels wide.
    EXPECT_EQ(rects[k].x2 - rects[k].x1, 10);
    EXPECT_EQ(rects[k].y2 - rects[k].y1, 8);
  }
  EXPECT_EQ(cell_brushes.size(), static_cast<std::size_t>(kCells * kCells));
  EXPECT_EQ(cell_pens.size(), static_cast<std::size_t>(kCells * kCells));
  // Per cell: two selections, the rectangle, two selections back, five strokes;
  // and one selection of the green pen before the first cell.
  EXPECT_EQ(dc.calls().size() - calls_without, static_cast<std::size_t>(kCells * kCells) * 10 + 1);

  // After each cell the brush in use before it and the green pen are back.
  const auto& calls = dc.calls();
  for (std::size_t k = 0; k < calls.size(); ++k) {
    if (calls[k].kind != draw_call_kind::rectangle || calls[k].brush.id == world.white_brush.id ||
        calls[k].brush.id == world.wall_brush.id)
      continue;
    ASSERT_LT(k + 2, calls.size());
    EXPECT_EQ(calls[k + 1].kind, draw_call_kind::select_brush);
    EXPECT_EQ(calls[k + 1].brush.id, world.white_brush.id);
    EXPECT_EQ(calls[k + 2].kind, draw_call_kind::select_pen);
    EXPECT_EQ(calls[k + 2].pen.id, world.green_pen.id);
  }
}

TEST_F(WorldDrawTest, LatticeStartsAtTheTopLeftCorner) {
  world_draw_grad(sim, dc);
  const auto rects = dc.calls_of(draw_call_kind::rectangle);
  ASSERT_EQ(rects.size(), static_cast<std::size_t>(kCells * kCells));
  EXPECT_TRUE(same_shape(rects[0], draw_call_kind::rectangle, -5, -4, 5, 4));
  // The second cell is one step down (j runs inside i); the last one lies one
  // spacing short of the bottom-right corner.
  EXPECT_EQ(rects[1].x1, -5);
  EXPECT_EQ(rects[1].y1, get_screen_y(sim, 10.0 / 75) - 4);
  EXPECT_EQ(rects.back().x1, get_screen_x(sim, 74.0 / 75 * 10) - 5);
  EXPECT_EQ(rects.back().y1, get_screen_y(sim, 74.0 / 75 * 10) - 4);
}

TEST_F(WorldDrawTest, ZeroSizedClientAreaDrawsEverythingAtTheOrigin) {
  sim.display_x = 0;
  sim.display_y = 0;
  world.show_grad = true;
  world_draw(sim, dc);
  const auto shapes = dc.shapes();
  ASSERT_FALSE(shapes.empty());
  EXPECT_TRUE(same_shape(shapes[0], draw_call_kind::rectangle, 0, 0, 0, 0));
  // Lattice cells keep their one-pixel border around the origin.
  for (const draw_call& call : shapes) {
    for (int v : {call.x1, call.y1, call.x2, call.y2}) {
      EXPECT_GE(v, -1);
      EXPECT_LE(v, 1);
    }
  }
}

}  // namespace
