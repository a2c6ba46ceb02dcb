// A drawing context that draws nothing and keeps a log of every call: what was
// drawn, where, and with which brush and pen. Tests read the log to check the
// drawing rules without a window system.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "draw/draw_context.h"

enum class draw_call_kind {
  select_brush,
  select_pen,
  rectangle,
  ellipse,
  move_to,
  line_to,
  text_out
};

struct draw_call {
  draw_call_kind kind;
  // rectangle, ellipse: left, top, right, bottom. move_to, text_out: x, y in x1, y1.
  // line_to: from the current position (x1, y1) to (x2, y2). Selections: unused.
  int x1 = 0;
  int y1 = 0;
  int x2 = 0;
  int y2 = 0;
  // The brush and pen current when the call was made (after it, for selections).
  draw_object brush;
  draw_object pen;
  std::string text;  // text_out only

  colour_ref brush_colour() const { return brush.colour; }
  colour_ref pen_colour() const { return pen.colour; }
};

class recording_context final : public draw_context {
 public:
  void rectangle(int left, int top, int right, int bottom) override;
  void ellipse(int left, int top, int right, int bottom) override;
  void move_to(int x, int y) override;
  void line_to(int x, int y) override;
  void text_out(int x, int y, std::string_view text) override;

  const std::vector<draw_call>& calls() const { return calls_; }
  // The calls of one kind, in order.
  std::vector<draw_call> calls_of(draw_call_kind kind) const;
  std::size_t count(draw_call_kind kind) const;
  // Drawing calls only: every call except the selections.
  std::vector<draw_call> shapes() const;
  void clear() { calls_.clear(); }

 protected:
  void on_select(const draw_object& object) override;

 private:
  void record(draw_call_kind kind, int x1, int y1, int x2, int y2);

  std::vector<draw_call> calls_;
  int pos_x_ = 0;
  int pos_y_ = 0;
};
