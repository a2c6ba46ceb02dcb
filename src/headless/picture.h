// The runner's picture: the world drawn by the window's drawing code into an
// image, with the statistics line on top when it is switched on.
#pragma once

#include <string>

// Draws the world as it is now into a width x height image (which also becomes
// the size the world's pixel conversions use), adds the statistics line when
// show_stats is set, and encodes the image as PNG into png. Text needs a
// QGuiApplication; without one the statistics line is left out.
bool render_world_png(int width, int height, std::string& png, std::string& error);
