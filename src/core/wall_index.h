// A uniform grid over the world and a border around it that lists, per cell, the
// walls whose box comes near the cell, so that a vision ray and the point-in-wall
// test visit only the walls that can change their result instead of every wall.
//
// The index follows the wall list by itself: walls added at the head are taken in
// at the next query, a change of the newest wall's extent (a mouse drag) is seen,
// and world_free_walls() makes it start afresh. A wall other than the newest one
// may change only through world_resize_wall(). It is a simulation's cache: a
// copy of the simulation starts without it and builds it at its first query.
#pragma once

#include <cstdint>
#include <vector>

#include "core/utility.h"
#include "core/world.h"

// One wall as the index took it in. Only wall_index.cpp reads the fields.
struct wall_index_record {
  const wall_node* node = nullptr;
  // The wall as it was taken in, to notice a change of the newest wall.
  double x = 0, y = 0, width = 0, height = 0;
  // Its box widened by its rounding slack and twice the traversal margin.
  double lo_x = 0, lo_y = 0, hi_x = 0, hi_y = 0;
  int i0 = 0, i1 = -1, j0 = 0, j1 = -1;  // listed in these cells (none when i1 < i0)
  bool in_side_list = false;
  std::uint32_t stamp = 0;  // the last query that visited it
};

// The grid of the walls. Only wall_index.cpp reads the fields.
struct wall_index {
  bool built = false;
  double world_width = 0;
  double world_height = 0;
  const wall_node* head = nullptr;
  std::int32_t num_walls = 0;
  double x0 = 0, y0 = 0, x_end = 0, y_end = 0;
  double cell = 1, inv_cell = 1;
  int cols = 0, rows = 0;
  std::vector<std::vector<std::uint32_t>> cells;  // [col * rows + row]: walls, oldest first
  std::vector<std::uint32_t> side;                // walls visited by every query
  std::vector<wall_index_record> records;         // by age: 0 is the oldest wall
  std::uint32_t stamp = 0;
  std::vector<std::uint32_t> found;
  std::vector<const wall_node*> ray_result;
  std::vector<const wall_node*> point_result;
};

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
const std::vector<const wall_node*>* wall_index_ray_candidates(simulation& sim, const line& ray,
                                                               double ux, double uy);

// Every wall whose box may hold the point (a superset), or nullptr when the index
// cannot decide.
const std::vector<const wall_node*>* wall_index_point_candidates(simulation& sim, double x,
                                                                 double y);

// The wall list was emptied: the next query builds the index from scratch.
void wall_index_forget(simulation& sim);
// The extent of this wall changed in place.
void wall_index_wall_changed(simulation& sim, const wall_node* wall);
