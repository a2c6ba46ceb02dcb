// The robot's drawing, checked call by call on a recording context at 640 x 480.
#include "draw/robot_draw.h"

#include <cmath>

#include "../core/test_support.h"
#include "core/portable_math.h"
#include "draw/graphics.h"
#include "draw/recording_context.h"

namespace {

constexpr colour_ref kRed = rgb(255, 0, 0);
constexpr colour_ref kWhite = rgb(255, 255, 255);

class RobotDrawTest : public SimulationTest {
 protected:
  void SetUp() override {
    SimulationTest::SetUp();
    robot.x = 5.0;
    robot.y = 5.0;
    robot.heading = 0.0;
    robot.grad_angle = kPi / 2;
    robot.show_vision = false;
    for (int i = 0; i < kNumSensors; ++i) {
      robot.sensor_hit[i] = false;
      robot.vision_seen[i] = false;
    }
  }

  recording_context dc;
};

bool same_shape(const draw_call& a, draw_call_kind kind, int x1, int y1, int x2, int y2) {
  return a.kind == kind && a.x1 == x1 && a.y1 == y1 && a.x2 == x2 && a.y2 == y2;
}

TEST_F(RobotDrawTest, SensorColoursFollowTheTouchState) {
  EXPECT_EQ(get_sensor_color(true), kRed);
  EXPECT_EQ(get_sensor_color(false), kWhite);
}

TEST_F(RobotDrawTest, BodyHeadingSensorsAndFieldArrowInOrder) {
  robot_draw(sim, dc);
  const auto shapes = dc.shapes();
  // Body, heading arrow (5 strokes), six sensor discs, field arrow (5 strokes).
  ASSERT_EQ(shapes.size(), 1u + 5u + 6u + 5u);

  // A disc 0.5 across centred on (5, 5): green, outlined in black.
  EXPECT_TRUE(same_shape(shapes[0], draw_call_kind::ellipse, 304, 228, 336, 252));
  EXPECT_EQ(shapes[0].brush.id, world.green_brush.id);
  EXPECT_EQ(shapes[0].pen.id, world.black_pen.id);

  // The heading arrow, in black, half-length sensor_size.
  recording_context heading;
  draw_arrow(sim, heading, 5.0, 5.0, 0.0, robot.sensor_size);
  const auto want = heading.shapes();
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_TRUE(
        same_shape(shapes[1 + k], want[k].kind, want[k].x1, want[k].y1, want[k].x2, want[k].y2));
    EXPECT_EQ(shapes[1 + k].pen.id, world.black_pen.id);
  }

  // The field arrow in blue along grad_angle, half-length 0.1.
  recording_context field;
  draw_arrow(sim, field, 5.0, 5.0, kPi / 2, 0.1);
  const auto want_field = field.shapes();
  for (std::size_t k = 0; k < 5; ++k) {
    const draw_call& got = shapes[12 + k];
    EXPECT_TRUE(same_shape(got, want_field[k].kind, want_field[k].x1, want_field[k].y1,
                           want_field[k].x2, want_field[k].y2));
    EXPECT_EQ(got.pen.id, world.blue_pen.id);
  }
}

TEST_F(RobotDrawTest, SensorDiscsSitOnTheRimStartingAtMinusSixtyDegrees) {
  robot.sensor_hit[1] = true;
  robot.sensor_hit[4] = true;
  robot_draw(sim, dc);
  const auto discs = dc.calls_of(draw_call_kind::ellipse);
  ASSERT_EQ(discs.size(), 7u);
  for (int i = 0; i < kNumSensors; ++i) {
    const draw_call& disc = discs[1 + i];
    const double angle = -kPi / 3 + i * kPi / 3;
    const double mx = 5.0 + robot.sensor_dist * portable_cos(angle);
    const double my = 5.0 + robot.sensor_dist * portable_sin(angle);
    const double half = robot.sensor_size * 0.5;
    EXPECT_TRUE(same_shape(disc, draw_call_kind::ellipse, get_screen_x(sim, mx - half),
                           get_screen_y(sim, my - half), get_screen_x(sim, mx + half),
                           get_screen_y(sim, my + half)))
        << "sensor " << i;
    EXPECT_EQ(disc.brush_colour(), (i == 1 || i == 4) ? kRed : kWhite) << "sensor " << i;
    EXPECT_EQ(disc.pen.id, world.black_pen.id);
  }
  // The first disc lies up and to the right of the centre (y grows downward).
  EXPECT_GT(discs[1].x1, 320);
  EXPECT_LT(discs[1].y2, 240);
}

TEST_F(RobotDrawTest, VisionLinesOnlyWhenShownAndOnlyForRaysThatSawAWall) {
  robot.vision_seen[0] = true;
  robot.vision_point[0] = {7.0, 5.0};
  robot.vision_seen[3] = true;
  robot.vision_point[3] = {5.0, 2.0};
  robot.vision_point[2] = {1.0, 1.0};  // not seen: never drawn

  robot_draw(sim, dc);
  // Hidden: the only lines are the two arrows' strokes.
  EXPECT_EQ(dc.count(draw_call_kind::line_to), 6u);

  dc.clear();
  robot.show_vision = true;
  robot_draw(sim, dc);
  EXPECT_EQ(dc.count(draw_call_kind::line_to), 8u);
  std::vector<draw_call> rays;
  for (const draw_call& call : dc.calls_of(draw_call_kind::line_to))
    if (call.pen.id == world.green_pen.id) rays.push_back(call);
  ASSERT_EQ(rays.size(), 2u);
  EXPECT_TRUE(same_shape(rays[0], draw_call_kind::line_to, 320, 240, 448, 240));
  EXPECT_TRUE(same_shape(rays[1], draw_call_kind::line_to, 320, 240, 320, 96));
}

TEST_F(RobotDrawTest, LeavesBluePenAndWhiteBrushSelectedAndNoBrushBehind) {
  const long live_before = live_draw_objects(sim);
  robot.sensor_hit[2] = true;
  robot_draw(sim, dc);
  EXPECT_EQ(dc.current_pen().id, world.blue_pen.id);
  EXPECT_EQ(dc.current_brush().id, world.white_brush.id);
  EXPECT_EQ(live_draw_objects(sim), live_before);
}

TEST_F(RobotDrawTest, SensorDiscPutsThePreviousBrushBack) {
  dc.select_object(world.red_brush);
  const long live_before = live_draw_objects(sim);
  draw_sensor(sim, dc, 5.0, 5.0, 0.0, 1.0, 0.5, rgb(1, 2, 3));
  const auto discs = dc.calls_of(draw_call_kind::ellipse);
  ASSERT_EQ(discs.size(), 1u);
  // Centred 1 to the right of (5, 5), 0.5 across.
  EXPECT_TRUE(same_shape(discs[0], draw_call_kind::ellipse, 368, 228, 400, 252));
  EXPECT_EQ(discs[0].brush_colour(), rgb(1, 2, 3));
  EXPECT_EQ(dc.current_brush().id, world.red_brush.id);
  EXPECT_EQ(live_draw_objects(sim), live_before);
}

TEST_F(RobotDrawTest, DrawLineUsesTheCurrentPen) {
  dc.select_object(world.wall_pen);
  draw_line(sim, dc, line{1.0, 1.0, 2.0, 3.0});
  const auto lines = dc.calls_of(draw_call_kind::line_to);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(same_shape(lines[0], draw_call_kind::line_to, 64, 48, 128, 144));
  EXPECT_EQ(lines[0].pen.id, world.wall_pen.id);
  EXPECT_EQ(dc.count(draw_call_kind::select_pen), 1u);
}

}  // namespace
