// A small drawing interface in the manner of a GDI device context: the simulator
// draws through it, and back ends replay the calls (a recorder for tests, QPainter
// into an image for the window and the headless pictures).
//
// Brushes and pens are plain values that carry their colour, so a context never
// holds a pointer to an object that was released: releasing only updates the count
// of live objects, which tests use to find objects that outlive their use.
#pragma once

#include <cstdint>
#include <string_view>

// A colour as 0x00BBGGRR, red in the low byte.
using colour_ref = std::uint32_t;

constexpr colour_ref rgb(unsigned r, unsigned g, unsigned b) {
  return (r & 0xFFu) | ((g & 0xFFu) << 8) | ((b & 0xFFu) << 16);
}
constexpr unsigned red_of(colour_ref c) {
  return c & 0xFFu;
}
constexpr unsigned green_of(colour_ref c) {
  return (c >> 8) & 0xFFu;
}
constexpr unsigned blue_of(colour_ref c) {
  return (c >> 16) & 0xFFu;
}

enum class draw_object_kind : std::uint8_t { none, brush, pen };

// A solid brush or a solid one-pixel pen. id 0 is the null object.
struct draw_object {
  draw_object_kind kind = draw_object_kind::none;
  colour_ref colour = 0;
  std::uint32_t id = 0;

  bool is_null() const { return id == 0; }
  friend bool operator==(const draw_object&, const draw_object&) = default;
};

draw_object create_solid_brush(colour_ref colour);
// Always solid; only width 1 is ever used.
draw_object create_pen(int width, colour_ref colour);
// Releasing the null object does nothing.
void delete_object(const draw_object& object);
// Objects created and not yet released (for tests that look for leaks).
long live_draw_objects();

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
