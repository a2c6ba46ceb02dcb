// Pictures of the scene, at any size, for every front end: the window's image
// after a resize, the headless runner's PNG and GIF frames, Python's render()
// and recordings, the web page's canvas. A picture is drawn by the window's own
// drawing code into a raster context, from the simulator as it stands, and
// changes nothing of it: not its client area (display_x, display_y), not its
// switches, not even the count its drawing objects take their ids from, so a
// picture between two ticks leaves the run's future as it was.
#pragma once

#include <cstdint>

class lattice_memo;
class raster_context;
struct simulator;

// The largest picture a front end accepts: so many pixels a side, and so many
// in all (64 Mi, 256 MiB of pixels).
constexpr int kMaxImageSide = 16'384;
constexpr std::int64_t kMaxImagePixels = 64LL * 1024 * 1024;

// True for a picture of 1 to kMaxImageSide pixels a side and kMaxImagePixels
// in all. The one test of the limits; each front end words its own refusal.
constexpr bool picture_size_allowed(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

// What a picture shows besides the world and the robot.
struct scene_options {
  bool grad = false;    // the field lattice
  bool vision = false;  // the vision rays of the robot's last readings
  bool trail = true;    // the robot's trail, while one is recorded (shell/trail.h)
  bool stats = false;   // the statistics line, top left, in a context that draws text
  // The lattice's arrows of earlier frames, kept by a front end that draws frame
  // after frame; the same pixels, for less work (draw/lattice_memo.h).
  lattice_memo* arrows = nullptr;
};

// The options the simulator's own switches give, as the window shows it: the
// lattice and the vision rays as the G and V keys set them, the statistics line
// as the space bar sets it, the trail while one is recorded.
scene_options scene_options_of(const simulator& app);

// Draws the scene onto the whole of `out`: the world mapped onto its width x
// height pixels as the window maps it onto its client area, with what the
// options ask for. Pixel for pixel what world_draw (draw/world_draw.h) draws
// into an image of that size once display_x and display_y are set to it and the
// switches to the options. The trail's last piece runs on to the robot, unless
// the robot jumped since the trail last saw it (a reset between two ticks): then
// the picture shows the jump as the trail will keep it, unconnected. Text needs
// a context that draws it (a raster_context leaves the statistics line out).
void draw_scene(const simulator& app, const scene_options& options, raster_context& out);
