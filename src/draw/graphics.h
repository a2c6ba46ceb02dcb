// The arrow primitive of the field lattice and of the robot's drawing.
#pragma once

#include "draw/scene_view.h"

class draw_context;

// Three strokes with the current pen: a shaft of 2 * length centred on (x, y)
// along angle, and two barbs from 0.75 * length off the centre at +-45 degrees.
void draw_arrow(const scene_view& view, draw_context& dc, double x, double y, double angle,
                double length);
