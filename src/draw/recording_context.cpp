#include "draw/recording_context.h"

#include <algorithm>
#include <iterator>
#include <utility>

void recording_context::record(draw_call_kind kind, int x1, int y1, int x2, int y2) {
  draw_call call;
  call.kind = kind;
  call.x1 = x1;
  call.y1 = y1;
  call.x2 = x2;
  call.y2 = y2;
  call.brush = current_brush();
  call.pen = current_pen();
  calls_.push_back(std::move(call));
}

void recording_context::rectangle(int left, int top, int right, int bottom) {
  record(draw_call_kind::rectangle, left, top, right, bottom);
}

void recording_context::ellipse(int left, int top, int right, int bottom) {
  record(draw_call_kind::ellipse, left, top, right, bottom);
}

void recording_context::move_to(int x, int y) {
  record(draw_call_kind::move_to, x, y, 0, 0);
  pos_x_ = x;
  pos_y_ = y;
}

void recording_context::line_to(int x, int y) {
  record(draw_call_kind::line_to, pos_x_, pos_y_, x, y);
  pos_x_ = x;
  pos_y_ = y;
}

void recording_context::text_out(int x, int y, std::string_view text) {
  record(draw_call_kind::text_out, x, y, 0, 0);
  calls_.back().text = std::string(text);
}

void recording_context::on_select(const draw_object& object) {
  record(object.kind == draw_object_kind::brush ? draw_call_kind::select_brush
                                                : draw_call_kind::select_pen,
         0, 0, 0, 0);
}

std::vector<draw_call> recording_context::calls_of(draw_call_kind kind) const {
  std::vector<draw_call> result;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result),
               [kind](const draw_call& call) { return call.kind == kind; });
  return result;
}

std::size_t recording_context::count(draw_call_kind kind) const {
  return static_cast<std::size_t>(std::count_if(
      calls_.begin(), calls_.end(), [kind](const draw_call& call) { return call.kind == kind; }));
}

std::vector<draw_call> recording_context::shapes() const {
  std::vector<draw_call> result;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result), [](const draw_call& call) {
    return call.kind != draw_call_kind::select_brush && call.kind != draw_call_kind::select_pen;
  });
  return result;
}
