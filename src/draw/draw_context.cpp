#include "draw/draw_context.h"

namespace {
std::uint32_t next_object_id = 1;
long live_objects = 0;

draw_object make_object(draw_object_kind kind, colour_ref colour) {
  draw_object object;
  object.kind = kind;
  object.colour = colour & 0x00FFFFFFu;
  object.id = next_object_id++;
  if (next_object_id == 0) next_object_id = 1;  // id 0 stays the null object
  ++live_objects;
  return object;
}

// Stock objects selected into a fresh context, as in GDI:
// a white brush and a black pen. They are never counted as live.
draw_object stock_object(draw_object_kind kind, colour_ref colour) {
  draw_object object;
  object.kind = kind;
  object.colour = colour;
  object.id = 0xFFFFFFFFu;
  return object;
}
}  // namespace

draw_object create_solid_brush(colour_ref colour) {
  return make_object(draw_object_kind::brush, colour);
}

draw_object create_pen(int /*width*/, colour_ref colour) {
  return make_object(draw_object_kind::pen, colour);
}

void delete_object(const draw_object& object) {
  if (object.is_null() || object.id == 0xFFFFFFFFu) return;
  --live_objects;
}

long live_draw_objects() {
  return live_objects;
}

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
