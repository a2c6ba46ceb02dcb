// The runner's pictures: the world drawn by the window's drawing code into an
// image, with the robot's trail while it is recorded and the statistics line on
// top when it is switched on. The final PNG and every GIF frame are drawn here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qtdraw/qimage_context.h"

struct simulator;

class scene_picture {
 public:
  // An image of width x height, which also becomes the size the world's pixel
  // conversions use (display_x, display_y).
  scene_picture(simulator& app, int width, int height);

  // Draws the world as it is now. Text needs a QGuiApplication; without one the
  // statistics line is left out.
  void draw();

  // The picture's pixels, 0xFFRRGGBB, rows stride() pixels apart.
  const std::uint32_t* pixels() const;
  std::ptrdiff_t stride() const;

  bool encode_png(std::string& png, std::string& error) const;

 private:
  simulator& app_;
  qimage_context image_;
};
