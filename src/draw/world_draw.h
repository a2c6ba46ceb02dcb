// Drawing of the world: background, field lattice, walls, target, waypoints,
// then the robot on top.
#pragma once

#include <span>

#include "core/utility.h"
#include "draw/scene_view.h"

class draw_context;
struct simulation;

// Each draws the view (draw/scene_view.h); a simulation passed as it is draws
// as the window shows it.
void world_draw(const scene_view& view, draw_context& dc);
// The same scene with the robot's trail (see draw/trail_draw.h) drawn over the
// waypoints and under the robot, for the pictures of the other front ends; with
// an empty trail it draws exactly what world_draw draws. The trail's last piece
// runs on to the robot unless trail_reaches_robot is false.
void world_draw_with_trail(const scene_view& view, draw_context& dc, std::span<const point> trail,
                           bool trail_reaches_robot = true);
void world_draw_walls(const scene_view& view, draw_context& dc);
void world_draw_waypoints(const scene_view& view, draw_context& dc);
void world_draw_grad(const scene_view& view, draw_context& dc);
// Kept without callers: impacts and markers are recorded but never drawn.
void world_draw_impacts(simulation& sim, draw_context& dc);
void world_draw_markers(simulation& sim, draw_context& dc);
// Kept without callers: the navigation grid's drawing entry point; draws nothing.
void world_draw_map_grid(simulation& sim, draw_context& dc);
