// Drawing of the world: background, field lattice, walls, target, waypoints,
// then the robot on top.
#pragma once

#include <span>

#include "core/utility.h"

class draw_context;
struct simulation;

void world_draw(simulation& sim, draw_context& dc);
// The same scene with the robot's trail (see draw/trail_draw.h) drawn over the
// waypoints and under the robot, for the headless pictures; with an empty trail
// it draws exactly what world_draw draws.
void world_draw_with_trail(simulation& sim, draw_context& dc, std::span<const point> trail);
void world_draw_walls(simulation& sim, draw_context& dc);
void world_draw_waypoints(simulation& sim, draw_context& dc);
void world_draw_grad(simulation& sim, draw_context& dc);
// Kept without callers: impacts and markers are recorded but never drawn.
void world_draw_impacts(simulation& sim, draw_context& dc);
void world_draw_markers(simulation& sim, draw_context& dc);
// Kept without callers: the navigation grid's drawing entry point; draws nothing.
void world_draw_map_grid(simulation& sim, draw_context& dc);
