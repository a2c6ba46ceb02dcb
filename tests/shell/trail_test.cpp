// The robot's trail: what the shell keeps while a front end asks for it, and how
// the drawing layer draws it under the robot.
#include "shell/trail.h"

#include <cmath>

#include "../core/test_support.h"
#include "draw/recording_context.h"
#include "draw/trail_draw.h"
#include "draw/world_draw.h"

namespace {

constexpr colour_ref kTrail = kTrailColour;

class TrailTest : public SimulationTest {
 protected:
  // The robot moved by hand, then noted as the tick notes it.
  void move_robot_to(double x, double y) {
    robot.x = x;
    robot.y = y;
    trail_note_robot(app);
  }

  std::size_t breaks() {
    std::size_t count = 0;
    for (const point& p : trail_points(app)) count += is_trail_break(p) ? 1 : 0;
    return count;
  }
};

TEST_F(TrailTest, NothingIsKeptUntilAFrontEndAsks) {
  fake_platform window;
  system_startup(app, window, 7);
  for (int i = 0; i < 300; ++i) timer_message(app, window, kTickTimerId);
  EXPECT_FALSE(trail_recording(app));
  EXPECT_TRUE(trail_points(app).empty());
}

TEST_F(TrailTest, PointsAreKeptAtTheMarkerSpacing) {
  place_robot(2.0, 5.0);
  trail_start(app);
  ASSERT_EQ(trail_points(app).size(), 1u);
  // Steps of 0.01 along x: a point whenever the robot is more than 0.0625 (an
  // eighth of the diameter 0.5) beyond the last one kept.
  for (int i = 1; i <= 100; ++i) move_robot_to(2.0 + 0.01 * i, 5.0);
  const auto points = trail_points(app);
  ASSERT_GE(points.size(), 2u);
  for (std::size_t i = 1; i < points.size(); ++i) {
    const double gap = points[i].x - points[i - 1].x;
    EXPECT_GT(gap, 0.0625) << i;
    EXPECT_LT(gap, 0.0625 + 0.0101) << i;
    EXPECT_EQ(points[i].y, 5.0);
  }
  EXPECT_EQ(points.size(), 15u);  // 1 + floor(1.0 / 0.07)
}

TEST_F(TrailTest, TheDriversTickKeepsTheTrail) {
  fake_platform window;
  system_startup(app, window, 7);
  trail_start(app);
  const point start = trail_points(app).front();
  EXPECT_EQ(start.x, robot.x);
  EXPECT_EQ(start.y, robot.y);
  for (int i = 0; i < 600; ++i) timer_message(app, window, kTickTimerId);
  EXPECT_GT(trail_points(app).size(), 10u);
  EXPECT_EQ(breaks(), 0u);
}

TEST_F(TrailTest, AJumpStartsANewPiece) {
  place_robot(2.0, 2.0);
  trail_start(app);
  move_robot_to(2.1, 2.0);
  move_robot_to(7.0, 7.0);  // placed elsewhere: a reset or a loaded world
  move_robot_to(7.1, 7.0);
  const auto points = trail_points(app);
  ASSERT_EQ(points.size(), 5u);
  EXPECT_TRUE(is_trail_break(points[2]));
  EXPECT_EQ(points[3].x, 7.0);
  EXPECT_EQ(points[4].x, 7.1);

  // Drawn as two pieces: no stroke crosses from one to the other.
  recording_context dc;
  draw_trail(sim, dc, trail_points(app), point{7.1, 7.0});
  const auto moves = dc.calls_of(draw_call_kind::move_to);
  const auto lines = dc.calls_of(draw_call_kind::line_to);
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[1].x1, get_screen_x(sim, 7.0));
  for (const draw_call& l : lines) {
    EXPECT_EQ(l.pen_colour(), kTrail);
    EXPECT_LT(std::abs(l.x2 - l.x1), 64) << "a stroke across the jump";
  }
}

TEST_F(TrailTest, ALongRunIsThinnedNotDropped) {
  place_robot(1.0, 1.0);
  trail_start(app);
  // A zigzag far longer than the trail may hold: 0.07 per step, every step kept
  // until the first thinning.
  const std::size_t steps = kMaxTrailPoints * 3;
  for (std::size_t i = 1; i <= steps; ++i) {
    move_robot_to(1.0 + 0.07 * double(i % 100), 1.0 + 0.07 * double((i / 100) % 100));
  }
  EXPECT_LT(trail_points(app).size(), kMaxTrailPoints);
  EXPECT_GT(trail_points(app).size(), kMaxTrailPoints / 8);
  // The start is still there; the latest position kept is near the robot.
  EXPECT_EQ(trail_points(app).front().x, 1.0);
  EXPECT_EQ(trail_points(app).front().y, 1.0);
  const point last = trail_points(app).back();
  EXPECT_LT(std::hypot(last.x - robot.x, last.y - robot.y), 1.0);
}

TEST_F(TrailTest, ManyJumpsKeepTheTrailBounded) {
  place_robot(1.0, 1.0);
  trail_start(app);
  for (std::size_t i = 0; i < kMaxTrailPoints * 2; ++i) move_robot_to(i % 2 ? 8.0 : 1.0, 1.0);
  EXPECT_LT(trail_points(app).size(), kMaxTrailPoints);
  EXPECT_FALSE(is_trail_break(trail_points(app).front()));
  EXPECT_FALSE(is_trail_break(trail_points(app).back()));
}

TEST_F(TrailTest, SimulationResetForgetsTheTrail) {
  place_robot(2.0, 2.0);
  trail_start(app);
  move_robot_to(3.0, 2.0);
  simulation_reset(app);
  EXPECT_FALSE(trail_recording(app));
  EXPECT_TRUE(trail_points(app).empty());
}

TEST_F(TrailTest, DrawnOverTheWaypointsAndUnderTheRobot) {
  place_robot(5.0, 5.0);
  world_compute_map_grid(sim);
  ASSERT_GT(world.num_waypoints, 0);

  // Without a trail the scene is world_draw's, call for call.
  recording_context plain;
  world_draw(sim, plain);
  recording_context empty;
  world_draw_with_trail(sim, empty, {});
  ASSERT_EQ(plain.calls().size(), empty.calls().size());
  for (std::size_t i = 0; i < plain.calls().size(); ++i) {
    EXPECT_EQ(plain.calls()[i].kind, empty.calls()[i].kind) << i;
    EXPECT_EQ(plain.calls()[i].x1, empty.calls()[i].x1) << i;
    EXPECT_EQ(plain.calls()[i].pen, empty.calls()[i].pen) << i;
  }

  const point trail[] = {{3.0, 3.0}, {4.0, 3.5}};
  recording_context dc;
  const long objects_before = live_draw_objects(sim);
  world_draw_with_trail(sim, dc, trail);
  EXPECT_EQ(live_draw_objects(sim), objects_before) << "the trail's pen is released";
  const auto& calls = dc.calls();
  std::size_t first_trail = calls.size();
  std::size_t last_trail = 0;
  std::size_t last_waypoint = 0;
  std::size_t body = 0;  // the last green disc; the target is the first
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const draw_call& c = calls[i];
    if (c.kind == draw_call_kind::line_to && c.pen_colour() == kTrail) {
      first_trail = std::min(first_trail, i);
      last_trail = i;
    }
    if (c.kind != draw_call_kind::ellipse) continue;
    if (c.brush == world.wall_brush) last_waypoint = i;
    if (c.brush == world.green_brush) body = i;
  }
  // Two strokes: through the second point, then on to the robot.
  EXPECT_EQ(dc.count(draw_call_kind::line_to) - plain.count(draw_call_kind::line_to), 2u);
  EXPECT_GT(first_trail, last_waypoint);
  EXPECT_LT(last_trail, body);
  EXPECT_EQ(calls[last_trail].x2, get_screen_x(sim, 5.0));
  EXPECT_EQ(calls[last_trail].y2, get_screen_y(sim, 5.0));
}

}  // namespace
