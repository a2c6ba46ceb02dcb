// Drawing of the world: background, field lattice, walls, target, waypoints,
// then the robot on top.
#pragma once

class draw_context;

void world_draw(draw_context& dc);
void world_draw_walls(draw_context& dc);
void world_draw_waypoints(draw_context& dc);
void world_draw_grad(draw_context& dc);
// Kept without callers: impacts and markers are recorded but never drawn.
void world_draw_impacts(draw_context& dc);
void world_draw_markers(draw_context& dc);
// Kept without callers: the navigation grid's drawing entry point; draws nothing.
void world_draw_map_grid(draw_context& dc);
