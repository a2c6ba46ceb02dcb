// A small drawing interface in the manner of a GDI device context: the simulator
// draws through it, and back ends replay the calls (a recorder for tests, a pixel
// rasteriser for the window and the headless pictures). The brushes and pens it
// selects are the plain values of core/draw_object.h.
#pragma once

#include <string_view>

#include "core/draw_object.h"

class draw_context {
 public:
  draw_context();
  virtual ~draw_context() = default;
  draw_context(const draw_context&) = delete;
  draw_context& operator=(const draw_context&) = delete;

  // Makes a brush or a pen current and returns the one of the same kind that was
  // current before. Selecting the null object changes nothing and returns it.
  draw_object select_object(const draw_object& object);

  // Filled with the current brush, outlined with the current pen. As on the
  // GDI, right and bottom are exclusive.
  virtual void rectangle(int left, int top, int right, int bottom) = 0;
  virtual void ellipse(int left, int top, int right, int bottom) = 0;
  // Lines are drawn with the current pen from the current position.
  virtual void move_to(int x, int y) = 0;
  virtual void line_to(int x, int y) = 0;
  // Text in the context's default font, black on white, top-left at (x, y).
  virtual void text_out(int x, int y, std::string_view text) = 0;

  const draw_object& current_brush() const { return brush_; }
  const draw_object& current_pen() const { return pen_; }

 protected:
  // Told after every change of the current brush or pen.
  virtual void on_select(const draw_object& /*object*/) {}

 private:
  draw_object brush_;
  draw_object pen_;
};
