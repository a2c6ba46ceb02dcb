// The 75 x 75 navigation grid: occupancy from impacts, the wavefront distance
// field from the target, the path trace that becomes the waypoint list, and the
// navigation vector of a cell.
#pragma once

#include <cstdint>

#include "core/utility.h"
#include "core/world.h"

using map_grid = std::int32_t[kMapSize][kMapSize];

constexpr std::int32_t kMapOutside = 255;      // beyond the wavefront or the grid
constexpr std::int32_t kMapBlocked = -1;       // stored value of a blocked cell
constexpr std::int32_t kMapPathMark = 0x4000;  // set on cells of the last path
constexpr std::int32_t kMapValueMask = 0xFFF;  // every read takes the low 12 bits

// A planning run that finds no path draws random targets, as long as some cell
// that the draws can produce is not yet known to fail. As a guard against a
// generator that never produces the remaining cells, it also gives up after
// this many draws in a row that all land on cells known to fail (far beyond
// anything a uniform generator needs: a cell of the 61 x 61 that the draws
// reach comes up once in about 3,700 draws).
constexpr int kMaxDrawsOnFailedCells = 1000000;

// The eight neighbour steps; their order is the planner's tie-break order.
extern const int offsets[8][2];

// Cell index of a world coordinate: trunc(x / width * 75). Anything negative,
// above 74, NaN or infinite gives 74.
int get_map_x(double x);
int get_map_y(double y);

// The grid is written only by the functions below (a planning run reuses what the
// last run left in it).

// Blocks the cell, with each index clamped into 0..74.
void world_set_map(int i, int j);
// The cell's masked value, or 255 outside the grid.
int world_test_map(const map_grid& grid, int i, int j);
// The neighbour (0..7) with the lowest value below 255, ties to the lower index;
// 8 when none is below 255.
int world_get_lowest_index(const map_grid& grid, int i, int j);
// One wavefront pass over the world's grid; clears changed when nothing changed.
void world_compute_map_pass(bool& changed);
// One planning run: grid, wavefront, path trace, waypoints and cur_waypoint.
void world_compute_map_grid();

// The navigation vector of the cell under the world point (x, y).
void compute_map_nav(point& out, double x, double y);

// Counters for reports and benchmarks.
struct planner_counters {
  std::uint64_t runs = 0;            // planning runs started (every try counts)
  std::uint64_t random_targets = 0;  // random targets chosen because no path existed
  std::uint64_t gave_up = 0;         // runs that ended with no path after all tries
};
extern planner_counters planner_stats;

// The same planning run with the wavefront spread by repeated full passes and no
// reuse of earlier work: the slow, literal form that the fast run must match.
void world_compute_map_grid_by_passes();
// Forgets the stored wavefront, so the next run starts from scratch.
void world_invalidate_wavefront();
// The stored wavefront forgotten and the counters zeroed, as at program start.
// Part of simulation_reset(), which is what callers use.
void planner_reset();
// The impact list was emptied (world_free_impacts calls it). The planner follows
// impacts put at the head of the list by itself; impacts are never changed in place.
void world_impacts_freed();
