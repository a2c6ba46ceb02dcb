#include "draw/world_draw.h"
void world_draw(draw_context&) {}
void world_draw_walls(draw_context&) {}
void world_draw_waypoints(draw_context&) {}
void world_draw_grad(draw_context&) {}
void world_draw_impacts(draw_context&) {}
void world_draw_markers(draw_context&) {}
