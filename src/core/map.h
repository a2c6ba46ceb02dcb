// The 75 x 75 navigation grid: occupancy from impacts, the wavefront distance
// field from the target, the path trace that becomes the waypoint list, and the
// navigation vector of a cell.
#pragma once

#include <cstdint>
#include <vector>

#include "core/utility.h"
#include "core/world.h"

using map_grid = std::int32_t[kMapSize][kMapSize];
// The grid's values, kMapOutside, kMapBlocked, kMapPathMark and kMapValueMask,
// are in core/world.h beside the grid.

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
int get_map_x(const simulation& sim, double x);
int get_map_y(const simulation& sim, double y);

// The grid is written only by the functions below (a planning run reuses what the
// last run left in it).

// Blocks the cell, with each index clamped into 0..74.
void world_set_map(simulation& sim, int i, int j);
// The cell's masked value, or 255 outside the grid.
int world_test_map(const map_grid& grid, int i, int j);
// The neighbour (0..7) with the lowest value below 255, ties to the lower index;
// 8 when none is below 255.
int world_get_lowest_index(const map_grid& grid, int i, int j);
// One wavefront pass over the world's grid; clears changed when nothing changed.
void world_compute_map_pass(simulation& sim, bool& changed);
// One planning run: grid, wavefront, path trace, waypoints and cur_waypoint.
void world_compute_map_grid(simulation& sim);

// The navigation vector of the cell under the world point (x, y).
void compute_map_nav(const simulation& sim, point& out, double x, double y);

// Counters for reports and benchmarks.
struct planner_counters {
  std::uint64_t runs = 0;            // planning runs started (every try counts)
  std::uint64_t random_targets = 0;  // random targets chosen because no path existed
  std::uint64_t gave_up = 0;         // runs that ended with no path after all tries

  template <typename Self, typename Visit>
  static void fields(Self& c, Visit& visit) {
    visit(c.runs, "runs", any_value{});
    visit(c.random_targets, "random_targets", any_value{});
    visit(c.gave_up, "gave_up", any_value{});
  }
  static void relations(const planner_counters& c, field_check& check) {
    check.require(c.gave_up <= c.runs, "more runs gave up than were started");
  }
  friend bool operator==(const planner_counters&, const planner_counters&) = default;
};

// What lets a planning run start from the last one's work, and its scratch
// space: a simulation's cache, which a copy starts without (every run then
// builds its wavefront afresh, with the same result). Only map.cpp reads the
// fields.
struct planner_cache {
  // The wavefront depends only on the impacts' cells, the target's cell and the
  // world's extent, not on the robot. While none of those change, a planning run
  // starts from the stored wavefront and only traces the path again.
  bool wavefront_valid = false;
  double wavefront_width = 0.0;
  double wavefront_height = 0.0;
  int wavefront_target_i = -1;
  int wavefront_target_j = -1;
  std::uint64_t wavefront_cells_version = 0;
  map_grid wavefront = {};

  // The impacts' cells (i * kMapSize + j), oldest first, kept up to date as
  // impacts are put at the head of the list; any other change makes them start
  // afresh. cells_version changes whenever the cells do.
  const impact_node* cells_head = nullptr;
  std::int32_t cells_count = 0;
  double cells_width = 0.0;
  double cells_height = 0.0;
  std::vector<int> cells_oldest_first;
  std::uint64_t cells_version = 1;

  // Cells (i * kMapSize + j) the last path trace marked. While map_is_wavefront
  // holds, world.map is the stored wavefront with just these marks on top, so a
  // planning run that reuses the wavefront clears them instead of copying the grid.
  std::vector<int> marked_cells;
  bool map_is_wavefront = false;

  // The cells along one axis that f_rand(1, extent - 1) can land in, for the
  // last two extents asked about.
  struct drawable_answer {
    bool known = false;
    double extent = 0.0;
    bool drawable[kMapSize] = {};
    int count = 0;
  };
  drawable_answer drawable[2];
  int next_drawable = 0;

  // Scratch space of the sweep for the targets that can reach the robot (rare:
  // only when no path is found). The wavefront sweep's own is on the stack.
  static constexpr int kFramedSide = kMapSize + 2;
  bool blocked[kMapSize][kMapSize] = {};
  int distance[kMapSize][kMapSize] = {};
  bool reachable[kMapSize][kMapSize] = {};
  int reach_queue[kMapSize * kMapSize][2] = {};
};

// The same planning run with the wavefront spread by repeated full passes and no
// reuse of earlier work: the slow, literal form that the fast run must match.
void world_compute_map_grid_by_passes(simulation& sim);
// Forgets the stored wavefront, so the next run starts from scratch.
void world_invalidate_wavefront(simulation& sim);
// The impact list was emptied (world_free_impacts calls it). The planner follows
// impacts put at the head of the list by itself; impacts are never changed in place.
void world_impacts_freed(simulation& sim);
