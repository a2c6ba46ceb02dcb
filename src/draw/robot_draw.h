// Drawing of the robot: body, heading arrow, sensor discs, vision rays and the
// field arrow.
#pragma once

#include "core/utility.h"
#include "draw/draw_context.h"
#include "draw/scene_view.h"

void robot_draw(const scene_view& view, draw_context& dc);
void draw_sensor(const scene_view& view, draw_context& dc, double x, double y, double angle,
                 double dist, double size, colour_ref colour);
colour_ref get_sensor_color(bool hit);
// Kept without callers: a line between two world points in the current pen.
void draw_line(const scene_view& view, draw_context& dc, line l);
