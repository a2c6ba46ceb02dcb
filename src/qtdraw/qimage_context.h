// The drawing context of the window and of the headless pictures: it paints into a
// QImage of the client area's size.
//
// Shapes follow GDI's conventions exactly, so the picture looks
// the same pixel for pixel on every machine: right and bottom coordinates are
// exclusive, the one-pixel pen outlines inside the box (Rectangle(l, t, r, b)
// covers pixels l..r-1 by t..b-1, the outline on the outermost ones and the brush
// inside), and a line stops one pixel short of its end point. Shapes are rasterised
// straight into the image's pixels: the field lattice draws thousands of cells and
// strokes per frame, and nothing here allocates per call. Only text goes through
// QPainter, which needs a QGuiApplication; without one text is left out.
//
// Coordinates may lie anywhere in the int range: everything is clipped to the
// image, and no call does more work than the image's size asks for.
#pragma once

#include <QImage>
#include <string_view>

#include "draw/draw_context.h"

class qimage_context final : public draw_context {
 public:
  // A black image of the given size; a negative size counts as 0, and a 0 x 0
  // image accepts every call and draws nothing.
  qimage_context(int width, int height);

  void rectangle(int left, int top, int right, int bottom) override;
  void ellipse(int left, int top, int right, int bottom) override;
  void move_to(int x, int y) override;
  void line_to(int x, int y) override;
  // In the application's default font, black on an opaque white box, the box's
  // top-left corner at (x, y). 8-bit text, each byte one Latin-1 character.
  void text_out(int x, int y, std::string_view text) override;

  int width() const { return width_; }
  int height() const { return height_; }
  // The picture, in QImage::Format_RGB32.
  const QImage& image() const { return image_; }

 private:
  // Puts the box's corners in order; false when the box is empty or lies wholly
  // outside the image.
  bool visible_box(int left, int top, int right, int bottom, long long& l, long long& t,
                   long long& r, long long& b) const;
  // Fills pixels x0..x1 (inclusive) of row y, clipped to the image.
  void fill_span(QRgb* bits, long long y, long long x0, long long x1, QRgb colour) const;
  void draw_segment(long long x0, long long y0, long long x1, long long y1, QRgb colour);

  QImage image_;
  int width_ = 0;
  int height_ = 0;
  qsizetype stride_ = 0;  // pixels per image row
  int pos_x_ = 0;
  int pos_y_ = 0;
};
