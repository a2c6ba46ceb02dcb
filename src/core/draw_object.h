// Colours and the drawing objects (solid brushes and one-pixel pens) that the
// world record owns. They are plain values that carry their colour, so the
// simulation can make and release them without any drawing code, and a drawing
// context never holds a pointer to an object that was released: releasing only
// updates the count of live objects, which tests use to find objects that outlive
// their use.
#pragma once

#include <cstdint>

#include "core/utility.h"

struct simulation;

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
  template <typename Self, typename Visit>
  static void fields(Self& o, Visit& visit) {
    visit(o.kind, "kind");
    visit(o.colour, "colour", whole_limit{0, 0xFFFFFF});
    visit(o.id, "id", any_value{});
  }
  friend bool operator==(const draw_object&, const draw_object&) = default;
};

// The id of the stock objects a fresh drawing context starts with (a white brush
// and a black pen); they are never counted as live.
constexpr std::uint32_t kStockObjectId = 0xFFFFFFFFu;

// A simulation's count of the objects it made: the next id, and how many are
// live (made and not yet released).
struct draw_object_count {
  std::uint32_t next_id = 1;
  long live = 0;

  template <typename Self, typename Visit>
  static void fields(Self& c, Visit& visit) {
    visit(c.next_id, "next_id", whole_limit{1, kStockObjectId - 1});
    // Between two ticks, the world's own (simulation_data's relations).
    visit(c.live, "live", any_value{});
  }
  friend bool operator==(const draw_object_count&, const draw_object_count&) = default;
};

draw_object create_solid_brush(simulation& sim, colour_ref colour);
// Always solid; only width 1 is ever used.
draw_object create_pen(simulation& sim, int width, colour_ref colour);
// Releasing the null object or a stock object does nothing.
void delete_object(simulation& sim, const draw_object& object);
// The same with a count of their own (a picture's, shell/scene.h).
draw_object create_solid_brush(draw_object_count& count, colour_ref colour);
draw_object create_pen(draw_object_count& count, int width, colour_ref colour);
void delete_object(draw_object_count& count, const draw_object& object);
// Objects created and not yet released (for tests that look for leaks).
long live_draw_objects(const simulation& sim);
