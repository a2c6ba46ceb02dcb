#include "core/draw_object.h"

namespace {
std::uint32_t next_object_id = 1;
long live_objects = 0;

draw_object make_object(draw_object_kind kind, colour_ref colour) {
  draw_object object;
  object.kind = kind;
  object.colour = colour & 0x00FFFFFFu;
  object.id = next_object_id++;
  // id 0 stays the null object, and the stock id is never handed out.
  if (next_object_id == kStockObjectId) next_object_id = 1;
  ++live_objects;
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
  if (object.is_null() || object.id == kStockObjectId) return;
  --live_objects;
}

long live_draw_objects() {
  return live_objects;
}
