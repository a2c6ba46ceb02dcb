// A drawing context that rasterises into a plain buffer of 32-bit pixels, with no
// window system: the window's image, the headless pictures and anything else that
// needs a frame draw through it.
//
// Shapes follow GDI's conventions exactly, so the picture looks the same pixel for
// pixel on every machine: right and bottom coordinates are exclusive, the one-pixel
// pen outlines inside the box (Rectangle(l, t, r, b) covers pixels l..r-1 by
// t..b-1, the outline on the outermost ones and the brush inside), and a line stops
// one pixel short of its end point. The field lattice draws thousands of cells and
// strokes per frame, and nothing here allocates per call.
//
// Coordinates may lie anywhere in the int range: everything is clipped to the
// buffer, and no call does more work than the buffer's size asks for.
//
// A pixel is 0xFFRRGGBB (opaque, red in bits 16 to 23), the layout of a QImage in
// Format_RGB32; rows are `stride` pixels apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "draw/draw_context.h"

constexpr std::uint32_t raster_pixel(colour_ref colour) {
  return 0xFF000000u | (red_of(colour) << 16) | (green_of(colour) << 8) | blue_of(colour);
}

class raster_context : public draw_context {
 public:
  // Owns a black buffer of the given size, rows packed. A negative size counts as
  // 0; a 0 x 0 buffer (also the result when the memory cannot be had) accepts
  // every call and draws nothing.
  raster_context(int width, int height);
  // Draws into `height` rows of `stride` pixels starting at `pixels`, which the
  // caller owns and keeps alive; their content is left as it is. Without memory, or
  // with a stride shorter than a row, it is a 0 x 0 buffer.
  raster_context(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride);

  void rectangle(int left, int top, int right, int bottom) override;
  void ellipse(int left, int top, int right, int bottom) override;
  void move_to(int x, int y) override;
  void line_to(int x, int y) override;
  // A pixel buffer has no font: text is left out. Back ends with one override this.
  void text_out(int x, int y, std::string_view text) override;

  int width() const { return width_; }
  int height() const { return height_; }
  std::ptrdiff_t stride() const { return stride_; }
  // The first row; nullptr for a 0 x 0 buffer.
  const std::uint32_t* pixels() const { return pixels_; }
  // Pixel (x, y); 0 outside the buffer.
  std::uint32_t pixel(int x, int y) const;

 protected:
  // Called before a shape touches the pixels. A back end whose memory can move
  // hands its new place to set_memory() here; the layout must stay the same.
  virtual void before_drawing() {}
  void set_memory(std::uint32_t* pixels) { pixels_ = pixels; }

 private:
  // Puts the box's corners in order; false when the box is empty or lies wholly
  // outside the buffer.
  bool visible_box(int left, int top, int right, int bottom, long long& l, long long& t,
                   long long& r, long long& b) const;
  // Fills pixels x0..x1 (inclusive) of row y, clipped to the buffer.
  void fill_span(std::uint32_t* bits, long long y, long long x0, long long x1,
                 std::uint32_t colour) const;
  void draw_segment(long long x0, long long y0, long long x1, long long y1, std::uint32_t colour);

  std::vector<std::uint32_t> owned_;
  std::uint32_t* pixels_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::ptrdiff_t stride_ = 0;
  int pos_x_ = 0;
  int pos_y_ = 0;
};
