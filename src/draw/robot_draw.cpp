#include "draw/robot_draw.h"
void robot_draw(draw_context&) {}
void draw_sensor(draw_context&, double, double, double, double, double, colour_ref) {}
colour_ref get_sensor_color(bool hit) { return hit ? rgb(255, 0, 0) : rgb(255, 255, 255); }
void draw_line(draw_context&, line) {}
