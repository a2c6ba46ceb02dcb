#include "core/draw_object.h"

#include "core/simulation.h"

namespace {

draw_object make_object(draw_object_count& count, draw_object_kind kind, colour_ref colour) {
  draw_object object;
  object.kind = kind;
  object.colour = colour & 0x00FFFFFFu;
  object.id = count.next_id++;
  // id 0 stays the null object, and the stock id is never handed out.
  if (count.next_id == kStockObjectId) count.next_id = 1;
  ++count.live;
  return object;
}

}  // namespace

draw_object create_solid_brush(draw_object_count& count, colour_ref colour) {
  return make_object(count, draw_object_kind::brush, colour);
}

draw_object create_pen(draw_object_count& count, int /*width*/, colour_ref colour) {
  return make_object(count, draw_object_kind::pen, colour);
}

void delete_object(draw_object_count& count, const draw_object& object) {
  if (object.is_null() || object.id == kStockObjectId) return;
  --count.live;
}

draw_object create_solid_brush(simulation& sim, colour_ref colour) {
  return create_solid_brush(sim.draw_objects, colour);
}

draw_object create_pen(simulation& sim, int width, colour_ref colour) {
  return create_pen(sim.draw_objects, width, colour);
}

void delete_object(simulation& sim, const draw_object& object) {
  delete_object(sim.draw_objects, object);
}

long live_draw_objects(const simulation& sim) {
  return sim.draw_objects.live;
}
