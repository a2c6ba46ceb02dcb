#include "core/map.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/console.h"
#include "core/portable_math.h"
#include "core/simulation.h"

const int offsets[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};

namespace {

constexpr int kLast = kMapSize - 1;
constexpr int kMaxPathSteps = kMaxWaypoints;
constexpr double kQuarterPi = 0.7853981633974483;

int masked(std::int32_t value) {
  return value & kMapValueMask;
}

int map_index(double coordinate, double extent) {
  const double cell = std::trunc(coordinate / extent * kMapSize);
  // NaN, negative and too large all land on the last cell, as out-of-range values do.
  if (!(cell >= 0.0) || cell > kLast) return kLast;
  return static_cast<int>(cell);
}

void fill_grid(world_state& world, std::int32_t value) {
  for (auto& column : world.map)
    for (auto& cell : column) cell = value;
}

// Steps 1 to 3 of a planning run: everything unknown, impacts blocked with the
// cells beside them, the target's cell 0.
void build_occupancy(simulation& sim) {
  world_state& world = sim.world;
  fill_grid(world, kMapOutside);
  for (const impact_node* impact = world.impacts; impact != nullptr; impact = impact->next) {
    const int i = get_map_x(sim, impact->x);
    const int j = get_map_y(sim, impact->y);
    world_set_map(sim, i, j);
    world_set_map(sim, i + 1, j);
    world_set_map(sim, i - 1, j);
    world_set_map(sim, i, j + 1);
    world_set_map(sim, i, j - 1);
  }
  world.map[get_map_x(sim, world.target_x)][get_map_y(sim, world.target_y)] = 0;
}

// The wavefront as one breadth-first sweep from the target. It yields exactly
// the grid that repeated passes converge to: every free cell gets its 4-neighbour
// distance to the target while that is below 255, every other cell keeps its value.
//
// The sweep runs on a copy of the grid framed by a border of blocked cells, one
// array index per cell, so that no step needs a bounds test; the distances do
// not depend on the order in which cells are taken.
constexpr int kFramedSide = planner_cache::kFramedSide;
constexpr int kFramedCells = kFramedSide * kFramedSide;

int framed_index(int i, int j) {
  return (i + 1) * kFramedSide + (j + 1);
}

void spread_wavefront(simulation& sim) {
  world_state& world = sim.world;
  // Scratch on the stack, written before it is read: the same memory for every
  // simulation on this thread, so it stays in the cache however many there are.
  std::int32_t framed[kFramedCells];
  int queue[kMapSize * kMapSize];
  std::fill(framed, framed + kFramedSide, kMapBlocked);
  std::fill(framed + kFramedCells - kFramedSide, framed + kFramedCells, kMapBlocked);
  for (int i = 0; i < kMapSize; ++i) {
    std::int32_t* column = framed + framed_index(i, 0);
    column[-1] = kMapBlocked;
    std::memcpy(column, world.map[i], sizeof(world.map[i]));
    column[kMapSize] = kMapBlocked;
  }
  int head = 0;
  int tail = 0;
  queue[tail++] = framed_index(get_map_x(sim, world.target_x), get_map_y(sim, world.target_y));
  static constexpr int steps[4] = {-kFramedSide, kFramedSide, -1, 1};
  while (head < tail) {
    const int cell = queue[head++];
    const int next = masked(framed[cell]) + 1;
    if (next >= kMapOutside) continue;
    for (const int step : steps) {
      const int neighbour = cell + step;
      if (framed[neighbour] != kMapOutside) continue;  // blocked, border, target or reached
      framed[neighbour] = next;
      queue[tail++] = neighbour;
    }
  }
  for (int i = 0; i < kMapSize; ++i) {
    std::memcpy(world.map[i], framed + framed_index(i, 0), sizeof(world.map[i]));
  }
}

void spread_wavefront_by_passes(simulation& sim) {
  bool changed = true;
  while (changed) world_compute_map_pass(sim, changed);
}

// cos and sin of the neighbour directions, with the angle grown by a quarter pi
// per neighbour. Computed once: the field evaluates the vector thousands of times
// per frame.
struct direction_table {
  double cos_theta[8];
  double sin_theta[8];
  direction_table() {
    double theta = 0.0;
    for (int k = 0; k < 8; ++k) {
      cos_theta[k] = portable_cos(theta);
      sin_theta[k] = portable_sin(theta);
      theta += kQuarterPi;
    }
  }
};
const direction_table directions;

// The sum over the neighbours, then negated: subtracting term by term would give
// +0 instead of -0 where the sum cancels, and so an angle of pi instead of -pi.
void cell_nav_vector(const world_state& world, int i, int j, point& out) {
  double sum_x = 0.0;
  double sum_y = 0.0;
  for (int k = 0; k < 8; ++k) {
    const double v = world_test_map(world.map, i + offsets[k][0], j + offsets[k][1]);
    sum_x += v * directions.cos_theta[k];
    sum_y += v * directions.sin_theta[k];
  }
  out.x = -sum_x;
  out.y = -sum_y;
}

// Steps 5 to 8: walk down the distances from the robot's cell, marking the path
// and laying out waypoints. False when the trace finds no way to the target.
bool trace_path(simulation& sim) {
  world_state& world = sim.world;
  int i = get_map_x(sim, sim.robot.x);
  int j = get_map_y(sim, sim.robot.y);
  world_free_waypoints(sim);
  for (int n = 1;; ++n) {
    const int k = world_get_lowest_index(world.map, i, j);
    if (k == 8) return false;
    i += offsets[k][0];
    j += offsets[k][1];
    const int value = masked(world.map[i][j]);
    point nav;
    cell_nav_vector(world, i, j, nav);
    world.map[i][j] |= kMapPathMark;
    sim.planner->marked_cells.push_back(i * kMapSize + j);
    world_add_waypoint(sim, i * world.width / kMapSize, j * world.height / kMapSize,
                       portable_atan2(nav.y, nav.x));
    if (value <= 0) break;
    if (n == kMaxPathSteps) return false;
  }
  int index = 0;
  for (waypoint_node* waypoint = world.waypoints; waypoint != nullptr; waypoint = waypoint->next) {
    waypoint->index = index++;
  }
  world.cur_waypoint = world.num_waypoints - 1;
  return true;
}

int impact_cell(const simulation& sim, const impact_node* impact) {
  return get_map_x(sim, impact->x) * kMapSize + get_map_y(sim, impact->y);
}

void recount_impact_cells(simulation& sim) {
  std::vector<int>& cells = sim.planner->cells_oldest_first;
  cells.clear();
  for (const impact_node* impact = sim.world.impacts; impact != nullptr; impact = impact->next) {
    cells.push_back(impact_cell(sim, impact));
  }
  std::reverse(cells.begin(), cells.end());
}

// Impacts put at the head since the last look, when that is all that happened.
bool take_in_new_impacts(simulation& sim) {
  const world_state& world = sim.world;
  planner_cache& cache = *sim.planner;
  const std::int32_t added = world.num_impacts - cache.cells_count;
  if (added <= 0 || world.width != cache.cells_width || world.height != cache.cells_height) {
    return false;
  }
  std::vector<int> fresh;
  const impact_node* impact = world.impacts;
  while (impact != nullptr && impact != cache.cells_head &&
         static_cast<std::int32_t>(fresh.size()) < added) {
    fresh.push_back(impact_cell(sim, impact));
    impact = impact->next;
  }
  if (impact != cache.cells_head || static_cast<std::int32_t>(fresh.size()) != added) {
    return false;
  }
  cache.cells_oldest_first.insert(cache.cells_oldest_first.end(), fresh.rbegin(), fresh.rend());
  return true;
}

void refresh_impact_cells(simulation& sim) {
  const world_state& world = sim.world;
  planner_cache& cache = *sim.planner;
  if (world.impacts == cache.cells_head && world.num_impacts == cache.cells_count &&
      world.width == cache.cells_width && world.height == cache.cells_height) {
    return;
  }
  if (!take_in_new_impacts(sim)) recount_impact_cells(sim);
  cache.cells_head = world.impacts;
  cache.cells_count = world.num_impacts;
  cache.cells_width = world.width;
  cache.cells_height = world.height;
  ++cache.cells_version;
}

bool cache_matches(simulation& sim, int target_i, int target_j) {
  refresh_impact_cells(sim);
  const planner_cache& cache = *sim.planner;
  return cache.wavefront_valid && cache.wavefront_width == sim.world.width &&
         cache.wavefront_height == sim.world.height && cache.wavefront_target_i == target_i &&
         cache.wavefront_target_j == target_j &&
         cache.wavefront_cells_version == cache.cells_version;
}

void prepare_wavefront(simulation& sim) {
  world_state& world = sim.world;
  planner_cache& cache = *sim.planner;
  const int target_i = get_map_x(sim, world.target_x);
  const int target_j = get_map_y(sim, world.target_y);
  if (cache_matches(sim, target_i, target_j)) {
    if (cache.map_is_wavefront) {
      for (int cell : cache.marked_cells) {
        world.map[cell / kMapSize][cell % kMapSize] &= ~kMapPathMark;
      }
    } else {
      std::memcpy(world.map, cache.wavefront, sizeof(world.map));
    }
    cache.marked_cells.clear();
    cache.map_is_wavefront = true;
    return;
  }
  build_occupancy(sim);
  spread_wavefront(sim);
  cache.marked_cells.clear();
  cache.map_is_wavefront = true;
  cache.wavefront_valid = true;
  cache.wavefront_width = world.width;
  cache.wavefront_height = world.height;
  cache.wavefront_target_i = target_i;
  cache.wavefront_target_j = target_j;
  cache.wavefront_cells_version = cache.cells_version;
  std::memcpy(cache.wavefront, world.map, sizeof(world.map));
}

// Which target cells are known to give no path, for one chain of planning runs.
// Within a chain the impacts and the robot's cell stay as they are, so whether a
// run finds a path depends only on the target's cell.
class failed_target_cells {
 public:
  explicit failed_target_cells(simulation& sim) {
    drawable_columns_ = drawable_cells(*sim.planner, sim.world.width, drawable_i_);
    drawable_rows_ = drawable_cells(*sim.planner, sim.world.height, drawable_j_);
    mark_cells_that_cannot_reach_the_robot(sim);
  }

  bool known(int i, int j) const { return failed_[i][j]; }
  void mark(int i, int j) {
    if (failed_[i][j]) return;
    failed_[i][j] = true;
    if (drawable_i_[i] && drawable_j_[j]) ++failed_drawable_;
  }
  // True once no random target can give a path any more.
  bool every_drawable_cell_failed() const {
    return failed_drawable_ == drawable_columns_ * drawable_rows_;
  }

 private:
  // The cells along one axis that f_rand(1, extent - 1) can land in. They depend
  // on the extent alone, and a boxed-in robot asks on every tick: the last two
  // extents' answers are kept.
  static int drawable_cells(planner_cache& cache, double extent, bool (&drawable)[kMapSize]) {
    for (const planner_cache::drawable_answer& a : cache.drawable) {
      if (a.known && same_bits(a.extent, extent)) {
        std::copy(std::begin(a.drawable), std::end(a.drawable), std::begin(drawable));
        return a.count;
      }
    }
    for (bool& cell : drawable) cell = false;
    int count = 0;
    for (int r = 0; r <= 32767; ++r) {
      const int cell = map_index(f_rand_value(1, extent - 1, r), extent);
      if (!drawable[cell]) ++count;
      drawable[cell] = true;
    }
    planner_cache::drawable_answer& a = cache.drawable[cache.next_drawable];
    cache.next_drawable = 1 - cache.next_drawable;
    a.known = true;
    a.extent = extent;
    std::copy(std::begin(drawable), std::end(drawable), std::begin(a.drawable));
    a.count = count;
    return count;
  }

  // A run can succeed only if the wavefront from the target reaches one of the
  // robot cell's eight neighbours below 255, that is within 254 four-neighbour
  // steps over free cells; the target's cell seeds the wavefront even where an
  // impact blocks it, and a neighbour that is the target reads 0. One sweep
  // outward from the free neighbours finds every target cell that can.
  void mark_cells_that_cannot_reach_the_robot(simulation& sim) {
    planner_cache& cache = *sim.planner;
    auto& blocked = cache.blocked;
    auto& distance = cache.distance;
    auto& reachable = cache.reachable;
    auto& queue = cache.reach_queue;
    for (int i = 0; i < kMapSize; ++i) {
      for (int j = 0; j < kMapSize; ++j) {
        blocked[i][j] = false;
        distance[i][j] = kMapOutside;
        reachable[i][j] = false;
      }
    }
    const auto clamp = [](int index) { return index < 0 ? 0 : (index > kLast ? kLast : index); };
    for (const impact_node* impact = sim.world.impacts; impact != nullptr; impact = impact->next) {
      const int i = get_map_x(sim, impact->x);
      const int j = get_map_y(sim, impact->y);
      const int cross[5][2] = {{i, j}, {i + 1, j}, {i - 1, j}, {i, j + 1}, {i, j - 1}};
      for (const auto& c : cross) blocked[clamp(c[0])][clamp(c[1])] = true;
    }

    int head = 0;
    int tail = 0;
    const int robot_i = get_map_x(sim, sim.robot.x);
    const int robot_j = get_map_y(sim, sim.robot.y);
    for (const auto& step : offsets) {
      const int i = robot_i + step[0];
      const int j = robot_j + step[1];
      if (i < 0 || i > kLast || j < 0 || j > kLast) continue;
      reachable[i][j] = true;
      if (blocked[i][j]) continue;
      distance[i][j] = 0;
      queue[tail][0] = i;
      queue[tail][1] = j;
      ++tail;
    }
    static constexpr int steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    while (head < tail) {
      const int i = queue[head][0];
      const int j = queue[head][1];
      ++head;
      for (const auto& step : steps) {
        const int ni = i + step[0];
        const int nj = j + step[1];
        if (ni < 0 || ni > kLast || nj < 0 || nj > kLast) continue;
        // A target there, blocked or not, gives this cell 1 and the neighbour
        // where the sweep started distance + 1.
        if (distance[i][j] + 1 <= kMaxPathSteps) reachable[ni][nj] = true;
        if (blocked[ni][nj] || distance[ni][nj] != kMapOutside) continue;
        distance[ni][nj] = distance[i][j] + 1;
        queue[tail][0] = ni;
        queue[tail][1] = nj;
        ++tail;
      }
    }
    for (int i = 0; i < kMapSize; ++i)
      for (int j = 0; j < kMapSize; ++j)
        if (!reachable[i][j]) mark(i, j);
  }

  bool failed_[kMapSize][kMapSize] = {};
  bool drawable_i_[kMapSize] = {};
  bool drawable_j_[kMapSize] = {};
  int drawable_columns_ = 0;
  int drawable_rows_ = 0;
  int failed_drawable_ = 0;
};

// Runs attempt() for the current target and, while it finds no path, for random
// targets drawn one unit inside the walls (y first, then x), exactly as an
// endless chain of planning runs would. A run is made only for a target cell not
// yet known to fail; the chain gives up once every cell the draws can produce
// is known to fail, so a robot with no way out gives up at once, while one in a
// pocket that only rare targets reach still gets its path.
template <typename Attempt>
void plan_with_fallback(simulation& sim, Attempt attempt) {
  world_state& world = sim.world;
  planner_counters& stats = sim.planner_stats;
  ++stats.runs;
  if (attempt()) return;
  failed_target_cells failed(sim);
  failed.mark(get_map_x(sim, world.target_x), get_map_y(sim, world.target_y));
  int draws_on_failed_cells = 0;
  while (!failed.every_drawable_cell_failed() && draws_on_failed_cells < kMaxDrawsOnFailedCells) {
    // y before x, as for the robot's new targets: the order of the draws decides
    // every later random number.
    const double y = f_rand(sim, 1, world.height - 1);
    const double x = f_rand(sim, 1, world.width - 1);
    world.target_set = true;
    world.target_x = x;
    world.target_y = y;
    ++stats.random_targets;
    const int i = get_map_x(sim, x);
    const int j = get_map_y(sim, y);
    if (failed.known(i, j)) {
      ++draws_on_failed_cells;
      continue;
    }
    draws_on_failed_cells = 0;
    ++stats.runs;
    if (attempt()) return;
    failed.mark(i, j);
  }
  world_free_waypoints(sim);
  // With no waypoints left, a stale current index would count phantom arrivals
  // every tick and hold off replanning; start the count afresh.
  world.cur_waypoint = 0;
  ++stats.gave_up;
  write_console(sim, "no path found to any target; the robot stays without waypoints\n");
}

}  // namespace

int get_map_x(const simulation& sim, double x) {
  return map_index(x, sim.world.width);
}

int get_map_y(const simulation& sim, double y) {
  return map_index(y, sim.world.height);
}

void world_set_map(simulation& sim, int i, int j) {
  sim.planner->map_is_wavefront = false;
  i = i < 0 ? 0 : (i > kLast ? kLast : i);
  j = j < 0 ? 0 : (j > kLast ? kLast : j);
  sim.world.map[i][j] = kMapBlocked;
}

int world_test_map(const map_grid& grid, int i, int j) {
  if (i < 0 || i > kLast || j < 0 || j > kLast) return kMapOutside;
  return masked(grid[i][j]);
}

int world_get_lowest_index(const map_grid& grid, int i, int j) {
  int lowest = kMapOutside;
  int chosen = 8;
  for (int k = 0; k < 8; ++k) {
    const int value = world_test_map(grid, i + offsets[k][0], j + offsets[k][1]);
    if (value < lowest) {
      lowest = value;
      chosen = k;
    }
  }
  return chosen;
}

void world_compute_map_pass(simulation& sim, bool& changed) {
  world_state& world = sim.world;
  sim.planner->map_is_wavefront = false;
  map_grid next;  // every cell is written before the grid takes it
  bool any_change = false;
  for (int i = 0; i < kMapSize; ++i) {
    for (int j = 0; j < kMapSize; ++j) {
      int lowest = kMapOutside;
      const int around[4] = {
          world_test_map(world.map, i - 1, j), world_test_map(world.map, i + 1, j),
          world_test_map(world.map, i, j - 1), world_test_map(world.map, i, j + 1)};
      for (int value : around)
        if (value < lowest) lowest = value;
      const std::int32_t stored = world.map[i][j];
      if (lowest == kMapOutside || stored == 0 || stored == kMapBlocked) {
        next[i][j] = stored;
      } else {
        next[i][j] = lowest + 1;
      }
      if (next[i][j] != stored) any_change = true;
    }
  }
  std::memcpy(world.map, next, sizeof(world.map));
  if (!any_change) changed = false;
}

void world_compute_map_grid(simulation& sim) {
  plan_with_fallback(sim, [&sim] {
    prepare_wavefront(sim);
    return trace_path(sim);
  });
}

void world_compute_map_grid_by_passes(simulation& sim) {
  plan_with_fallback(sim, [&sim] {
    build_occupancy(sim);
    spread_wavefront_by_passes(sim);
    return trace_path(sim);
  });
}

void world_invalidate_wavefront(simulation& sim) {
  sim.planner->wavefront_valid = false;
  sim.planner->map_is_wavefront = false;
  world_impacts_freed(sim);
}

void world_impacts_freed(simulation& sim) {
  planner_cache& cache = *sim.planner;
  cache.cells_head = nullptr;
  cache.cells_count = 0;
  cache.cells_width = 0.0;
  cache.cells_height = 0.0;
  cache.cells_oldest_first.clear();
  cache.cells_version = cache.wavefront_cells_version + 1;
}

void compute_map_nav(const simulation& sim, point& out, double x, double y) {
  cell_nav_vector(sim.world, get_map_x(sim, x), get_map_y(sim, y), out);
}
