// A uniform grid over the world and a border around it that lists, per cell, the
// walls whose box comes near the cell, so that a vision ray and the point-in-wall
// test visit only the walls that can change their result instead of every wall.
//
// The index follows the wall list by itself: walls added at the head are taken in
// at the next query, a change of the newest wall's extent (a mouse drag) is seen,
// and world_free_walls() makes it start afresh. A wall other than the newest one
// may change only through world_resize_wall().
#pragma once

#include <vector>

#include "core/utility.h"
#include "core/world.h"

// How far along a ray the walls it may meet are gathered: a vision ray sees
// nothing from 2 on, and only crossings closer than 1 become impacts.
constexpr double kWallIndexReach = 2.0;

// Every wall that can report a crossing closer than kWallIndexReach to the ray's
// start (a superset, passed through a conservative bound), in list order (newest
// first). The ray runs from (x1, y1) to (x2, y2) along (ux, uy), of length 1 up to
// rounding, as vision builds its rays; the bound's margin is far above the
// rounding by which that direction and the line's own differ. nullptr when the
// index cannot decide (a ray starting far outside the world, a world of odd
// extent, ...); the caller then tests every wall. The list stays valid until the
// next query.
const std::vector<const wall_node*>* wall_index_ray_candidates(const line& ray, double ux,
                                                               double uy);

// Every wall whose box may hold the point (a superset), or nullptr when the index
// cannot decide.
const std::vector<const wall_node*>* wall_index_point_candidates(double x, double y);

// The wall list was emptied: the next query builds the index from scratch.
void wall_index_forget();
// The extent of this wall changed in place.
void wall_index_wall_changed(const wall_node* wall);
