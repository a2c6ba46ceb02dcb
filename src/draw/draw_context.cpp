#include "draw/draw_context.h"

namespace {
// Stock objects selected into a fresh context, as in GDI: a white brush and a
// black pen.
draw_object stock_object(draw_object_kind kind, colour_ref colour) {
  draw_object object;
  object.kind = kind;
  object.colour = colour;
  object.id = kStockObjectId;
  return object;
}
}  // namespace

draw_context::draw_context()
    : brush_(stock_object(draw_object_kind::brush, rgb(255, 255, 255))),
      pen_(stock_object(draw_object_kind::pen, rgb(0, 0, 0))) {}

draw_object draw_context::select_object(const draw_object& object) {
  if (object.is_null()) return object;
  draw_object previous;
  if (object.kind == draw_object_kind::brush) {
    previous = brush_;
    brush_ = object;
  } else {
    previous = pen_;
    pen_ = object;
  }
  on_select(object);
  return previous;
}
