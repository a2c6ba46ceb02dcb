#include "draw/robot_draw.h"

#include <cmath>

#include "core/portable_math.h"
#include "core/simulation.h"
#include "draw/graphics.h"

namespace {
constexpr double kThirdPi = kPi / 3.0;
constexpr double kFieldArrowLength = 0.1;
}  // namespace

void robot_draw(const scene_view& view, draw_context& dc) {
  const world_state& world = view.sim.world;
  const robot_state& robot = view.sim.robot;
  dc.select_object(world.black_pen);

  pixel_rect body{};
  get_bounding_rect(world, view.screen, robot.x, robot.y, robot.diameter, robot.diameter, body);
  dc.select_object(world.green_brush);
  dc.ellipse(body.left, body.top, body.right, body.bottom);

  dc.select_object(world.white_brush);
  draw_arrow(view, dc, robot.x, robot.y, robot.heading, robot.sensor_size);

  for (int i = 0; i < kNumSensors; ++i) {
    draw_sensor(view, dc, robot.x, robot.y, robot.heading - kThirdPi + i * kThirdPi,
                robot.sensor_dist, robot.sensor_size, get_sensor_color(robot.sensor_hit[i]));
  }

  if (view.vision) {
    for (int i = 0; i < kNumSensors; ++i) {
      if (!robot.vision_seen[i]) continue;
      dc.select_object(world.green_pen);
      dc.move_to(view_x(view, robot.x), view_y(view, robot.y));
      dc.line_to(view_x(view, robot.vision_point[i].x), view_y(view, robot.vision_point[i].y));
    }
  }

  // The field arrow stays in blue_pen, and white_brush stays selected too.
  dc.select_object(world.blue_pen);
  draw_arrow(view, dc, robot.x, robot.y, robot.grad_angle, kFieldArrowLength);
}

void draw_sensor(const scene_view& view, draw_context& dc, double x, double y, double angle,
                 double dist, double size, colour_ref colour) {
  const double mx = x + dist * portable_cos(angle);
  const double my = y + dist * portable_sin(angle);
  const double half = size * 0.5;

  const draw_object brush = create_solid_brush(view.objects, colour);
  const draw_object previous = dc.select_object(brush);
  dc.ellipse(view_x(view, mx - half), view_y(view, my - half), view_x(view, mx + half),
             view_y(view, my + half));
  dc.select_object(previous);
  delete_object(view.objects, brush);
}

colour_ref get_sensor_color(bool hit) {
  return hit ? rgb(255, 0, 0) : rgb(255, 255, 255);
}

void draw_line(const scene_view& view, draw_context& dc, line l) {
  dc.move_to(view_x(view, l.x1), view_y(view, l.y1));
  dc.line_to(view_x(view, l.x2), view_y(view, l.y2));
}
