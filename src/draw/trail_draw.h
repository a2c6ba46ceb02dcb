// The robot's trail in the headless pictures: a thin polyline along the path the
// robot has driven, drawn under the robot. The window never draws it.
#pragma once

#include <limits>
#include <optional>
#include <span>

#include "core/utility.h"
#include "draw/draw_context.h"
#include "draw/scene_view.h"

// Orange: none of the scene's own colours, so the trail stands out on the white
// floor, the field lattice and the walls alike.
constexpr colour_ref kTrailColour = rgb(255, 128, 0);

// A point with both coordinates NaN in a trail ends one piece and starts the next
// (the robot was placed elsewhere in between).
constexpr point kTrailBreak{std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::quiet_NaN()};
constexpr bool is_trail_break(const point& p) {
  return p.x != p.x;
}

// Draws the trail's pieces with a one-pixel pen of the trail colour, each piece
// from its first point through the others; the last piece goes on to `end` (the
// robot's position now), when there is one. An empty trail draws nothing. The
// pen that was current stays current afterwards.
void draw_trail(const scene_view& view, draw_context& dc, std::span<const point> trail,
                std::optional<point> end);
