// The arrow primitive of the field lattice and of the robot's drawing.
#pragma once

#include "draw/scene_view.h"

class draw_context;

// Where an arrow's strokes start and end, in the view's pixels.
struct arrow_points {
  int tail_x = 0, tail_y = 0;    // the shaft's start
  int head_x = 0, head_y = 0;    // the shaft's end, where both barbs end too
  int right_x = 0, right_y = 0;  // the barb at -45 degrees starts here
  int left_x = 0, left_y = 0;    // the barb at +45 degrees ends here
};

// The end points of the arrow draw_arrow draws; a pure function of its
// arguments, the world's size and the view's size.
arrow_points arrow_geometry(const scene_view& view, double x, double y, double angle,
                            double length);
// The three strokes between the points, with the current pen.
void draw_arrow_strokes(draw_context& dc, const arrow_points& points);

// Three strokes with the current pen: a shaft of 2 * length centred on (x, y)
// along angle, and two barbs from 0.75 * length off the centre at +-45 degrees.
void draw_arrow(const scene_view& view, draw_context& dc, double x, double y, double angle,
                double length);
