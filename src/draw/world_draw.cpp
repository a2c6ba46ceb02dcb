#include "draw/world_draw.h"

#include <cmath>
#include <cstddef>
#include <optional>

#include "core/simulation.h"
#include "core/world_field.h"
#include "draw/draw_context.h"
#include "draw/graphics.h"
#include "draw/lattice_memo.h"
#include "draw/robot_draw.h"
#include "draw/trail_draw.h"
#include "draw/vector_state.h"

namespace {

constexpr int kLatticeSize = 75;
constexpr double kTargetHalf = 0.075;    // the target disc is 0.15 across
constexpr double kWaypointHalf = 0.05;   // a waypoint disc is 0.1 across
constexpr double kMaxArrowLength = 0.1;  // lattice arrows never grow past this

// The colour of a lattice cell: red for a negative field, blue for a positive one,
// its level the magnitude clamped to 1 and scaled to 0..255. Not-a-number draws
// as black.
colour_ref lattice_colour(double magnitude) {
  if (std::isnan(magnitude)) return rgb(0, 0, 0);
  const double clamped = magnitude < -1.0 ? -1.0 : (magnitude > 1.0 ? 1.0 : magnitude);
  const auto level = static_cast<unsigned>(std::fabs(clamped) * 255.0);
  return clamped < 0.0 ? rgb(level, 0, 0) : rgb(0, 0, level);
}

// Half the arrow's length: a fifth of the magnitude, capped.
double lattice_arrow_length(double magnitude) {
  const double length = std::fabs(magnitude) / 5.0;
  if (std::isnan(length)) return 0.0;
  return length > kMaxArrowLength ? kMaxArrowLength : length;
}

// Everything world_draw draws before the robot.
void draw_under_robot(const scene_view& view, draw_context& dc) {
  const world_state& world = view.sim.world;
  // Whatever ran before (the image's set-up, Qt, the Python interpreter) may have
  // left the vector state dirty; a frame with the lattice then takes twice as long.
  clear_upper_vector_state();
  dc.select_object(world.white_pen);
  dc.select_object(world.white_brush);
  dc.rectangle(0, 0, view.screen.width, view.screen.height);

  if (view.grad) world_draw_grad(view, dc);

  dc.select_object(world.black_pen);
  dc.select_object(world.white_brush);

  // Drawing the walls leaves the wall pen selected, so the target's outline is in
  // the wall colour when walls are shown and black when they are hidden.
  if (world.show_walls) world_draw_walls(view, dc);

  if (world.target_set) {
    dc.select_object(world.green_brush);
    dc.ellipse(
        view_x(view, world.target_x - kTargetHalf), view_y(view, world.target_y - kTargetHalf),
        view_x(view, world.target_x + kTargetHalf), view_y(view, world.target_y + kTargetHalf));
  }

  world_draw_waypoints(view, dc);
}

}  // namespace

void world_draw(const scene_view& view, draw_context& dc) {
  draw_under_robot(view, dc);
  robot_draw(view, dc);
}

void world_draw_with_trail(const scene_view& view, draw_context& dc, std::span<const point> trail,
                           bool trail_reaches_robot) {
  draw_under_robot(view, dc);
  const robot_state& robot = view.sim.robot;
  draw_trail(view, dc, trail,
             trail_reaches_robot ? std::optional<point>(point{robot.x, robot.y}) : std::nullopt);
  robot_draw(view, dc);
}

void world_draw_walls(const scene_view& view, draw_context& dc) {
  const world_state& world = view.sim.world;
  dc.select_object(world.wall_brush);
  dc.select_object(world.wall_pen);
  for (const wall_node* wall = world.walls; wall != nullptr; wall = wall->next) {
    dc.rectangle(view_x(view, wall->x), view_y(view, wall->y), view_x(view, wall->x + wall->width),
                 view_y(view, wall->y + wall->height));
  }
}

void world_draw_waypoints(const scene_view& view, draw_context& dc) {
  const world_state& world = view.sim.world;
  dc.select_object(world.wall_brush);
  dc.select_object(world.wall_pen);
  for (const waypoint_node* waypoint = world.waypoints; waypoint != nullptr;
       waypoint = waypoint->next) {
    if (waypoint->index == world.cur_waypoint) {
      dc.select_object(world.red_brush);
      dc.select_object(world.black_pen);
    } else {
      dc.select_object(world.wall_brush);
      dc.select_object(world.wall_pen);
    }
    dc.ellipse(view_x(view, waypoint->x - kWaypointHalf), view_y(view, waypoint->y - kWaypointHalf),
               view_x(view, waypoint->x + kWaypointHalf),
               view_y(view, waypoint->y + kWaypointHalf));
  }
}

void world_draw_grad(const scene_view& view, draw_context& dc) {
  const world_state& world = view.sim.world;
  dc.select_object(world.green_pen);
  const int half_w = view.screen.width / kLatticeSize / 2;
  const int half_h = view.screen.height / kLatticeSize / 2;

  for (int i = 0; i < kLatticeSize; ++i) {
    const double wx = static_cast<double>(i) / kLatticeSize * world.width;
    const int px = view_x(view, wx);
    for (int j = 0; j < kLatticeSize; ++j) {
      const double wy = static_cast<double>(j) / kLatticeSize * world.height;
      double angle = 0.0;
      double magnitude = 0.0;
      compute_grad_point(view.sim, wx, wy, angle, magnitude);

      // Each cell gets a brush and a pen of its own colour, released as soon as
      // they are no longer selected.
      const colour_ref colour = lattice_colour(magnitude);
      const draw_object brush = create_solid_brush(view.objects, colour);
      const draw_object pen = create_pen(view.objects, 1, colour);
      const draw_object previous_brush = dc.select_object(brush);
      dc.select_object(pen);
      const int py = view_y(view, wy);
      dc.rectangle(px - half_w - 1, py - half_h - 1, px + half_w + 1, py + half_h + 1);
      dc.select_object(previous_brush);
      dc.select_object(world.green_pen);
      delete_object(view.objects, brush);
      delete_object(view.objects, pen);

      const double length = lattice_arrow_length(magnitude);
      const std::size_t cell = static_cast<std::size_t>(i) * kLatticeSize + j;
      draw_arrow_strokes(dc, view.arrows != nullptr
                                 ? view.arrows->arrow(view, cell, wx, wy, angle, length)
                                 : arrow_geometry(view, wx, wy, angle, length));
    }
  }
}

void world_draw_impacts(simulation& /*sim*/, draw_context& /*dc*/) {}
void world_draw_markers(simulation& /*sim*/, draw_context& /*dc*/) {}
void world_draw_map_grid(simulation& /*sim*/, draw_context& /*dc*/) {}
