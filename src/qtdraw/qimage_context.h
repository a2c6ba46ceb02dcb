// The drawing context of the window and of the headless pictures: the pixel
// rasteriser over the memory of a QImage of the client area's size, plus text
// through QPainter. Shapes follow the rasteriser's GDI rules (see
// draw/raster_context.h); only text needs Qt, and a QGuiApplication: without one
// text is left out.
#pragma once

#include <QImage>
#include <cstdint>
#include <string_view>

#include "draw/raster_context.h"

// Holds the image so that it exists before the rasteriser is given its memory.
struct qimage_holder {
  QImage image_;
};

class qimage_context final : private qimage_holder, public raster_context {
 public:
  // A black image of the given size; a negative size counts as 0, and a 0 x 0
  // image accepts every call and draws nothing.
  qimage_context(int width, int height);

  // In the application's default font, black on an opaque white box, the box's
  // top-left corner at (x, y). 8-bit text, each byte one Latin-1 character.
  void text_out(int x, int y, std::string_view text) override;

  // The picture, in QImage::Format_RGB32. A copy keeps the frame it was taken of:
  // the next shape drawn detaches the context's image from it.
  const QImage& image() const { return image_; }

 private:
  void before_drawing() override;
};
