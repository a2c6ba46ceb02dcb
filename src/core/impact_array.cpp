#include "core/impact_array.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/simulation.h"

namespace {

constexpr int kGridSide = impact_array_state::kGridSide;
// Written out, not squared: 0.1 * 0.1 is not the double 0.01 the test compares with.
constexpr double kImpactMergeDistanceSquared = 0.01;

void remember_list_state(impact_array_state& array, const world_state& world) {
  array.head = world.impacts;
  array.count = world.num_impacts;
}

void fill_afresh(impact_array_state& array, const world_state& world) {
  array.oldest_first.clear();
  ++array.generation;
  for (const impact_node* impact = world.impacts; impact != nullptr; impact = impact->next) {
    array.oldest_first.push_back(point{impact->x, impact->y});
  }
  std::reverse(array.oldest_first.begin(), array.oldest_first.end());
}

// Impacts put at the head since the last look, when that is all that happened.
bool take_in_new_impacts(impact_array_state& array, const world_state& world) {
  const std::int32_t added = world.num_impacts - array.count;
  if (added <= 0) return false;
  std::vector<point> fresh;
  const impact_node* impact = world.impacts;
  while (impact != nullptr && impact != array.head &&
         static_cast<std::int32_t>(fresh.size()) < added) {
    fresh.push_back(point{impact->x, impact->y});
    impact = impact->next;
  }
  if (impact != array.head || static_cast<std::int32_t>(fresh.size()) != added) return false;
  array.oldest_first.insert(array.oldest_first.end(), fresh.rbegin(), fresh.rend());
  return true;
}

// The grid: the world's extent [0, width] x [0, height] cut into kGridSide x
// kGridSide cells, each holding the array positions of its impacts in ascending
// order. Impacts outside the extent (or not finite) are kept in a side list that
// every search reads whole. A search reads the cells in square rings around the
// query's cell and stops once every cell not read yet lies farther away than the
// best impact so far, with a margin far above rounding, so that no impact that
// could be chosen, or tie with the chosen one, is left unread.
constexpr double kLargestGriddedExtent = 1e6;
constexpr std::size_t kImpactsReadWhole = 96;

// The cell along one axis, clamped to the grid (a query may lie outside it).
int cell_of(double v, double cell_size) {
  const double cell = std::floor(v / cell_size);
  if (!(cell >= 0.0)) return 0;
  return cell >= kGridSide ? kGridSide - 1 : static_cast<int>(cell);
}

void cut_grid_afresh(impact_array_state& grid, const world_state& world) {
  for (auto& column : grid.cells)
    for (auto& cell : column) cell.clear();
  grid.outside.clear();
  grid.taken_in = 0;
  grid.grid_generation = grid.generation;
  grid.grid_width = world.width;
  grid.grid_height = world.height;
  grid.grid_usable = std::isfinite(world.width) && std::isfinite(world.height) &&
                     world.width > 0.0 && world.height > 0.0 &&
                     world.width <= kLargestGriddedExtent && world.height <= kLargestGriddedExtent;
  grid.cell_w = world.width / kGridSide;
  grid.cell_h = world.height / kGridSide;
}

void bring_grid_up_to_date(impact_array_state& grid, const world_state& world) {
  if (grid.grid_generation != grid.generation || !same_bits(grid.grid_width, world.width) ||
      !same_bits(grid.grid_height, world.height)) {
    cut_grid_afresh(grid, world);
  }
  if (!grid.grid_usable) return;
  for (; grid.taken_in < grid.oldest_first.size(); ++grid.taken_in) {
    const point& p = grid.oldest_first[grid.taken_in];
    const auto position = static_cast<std::int32_t>(grid.taken_in);
    // Written so that a coordinate that is not a number lands outside.
    if (p.x >= 0.0 && p.x <= grid.grid_width && p.y >= 0.0 && p.y <= grid.grid_height) {
      grid.cells[cell_of(p.x, grid.cell_w)][cell_of(p.y, grid.cell_h)].push_back(position);
    } else {
      grid.outside.push_back(position);
    }
  }
}

// The best impact so far: its squared distance and array position (-1: none yet).
struct nearest_so_far {
  double d2;
  std::int32_t position = -1;

  void offer(double x, double y, const point& p, std::int32_t at) {
    const double dx = x - p.x;
    const double dy = y - p.y;
    const double candidate = dx * dx + dy * dy;
    // The literal scan runs newest first and takes only a smaller distance, so
    // among equal distances the newest (the highest position) wins.
    if (candidate < d2 || (candidate == d2 && position >= 0 && at > position)) {
      d2 = candidate;
      position = at;
    }
  }
};

const point* literal_nearest(const impact_array_state& array, double x, double y, double limit) {
  const std::vector<point>& impacts = array.oldest_first;
  const point* nearest = nullptr;
  double best = limit;
  for (auto impact = impacts.rbegin(); impact != impacts.rend(); ++impact) {
    const double dx = x - impact->x;
    const double dy = y - impact->y;
    const double d2 = dx * dx + dy * dy;
    if (d2 < best) {
      best = d2;
      nearest = &*impact;
    }
  }
  return nearest;
}

void offer_cell(const impact_array_state& grid, nearest_so_far& best, double x, double y,
                int column, int row) {
  for (const std::int32_t at : grid.cells[column][row]) {
    best.offer(x, y, grid.oldest_first[static_cast<std::size_t>(at)], at);
  }
}

// Reads the cells whose ring distance from (qc, qr) is exactly k.
void offer_ring(const impact_array_state& grid, nearest_so_far& best, double x, double y, int qc,
                int qr, int k) {
  const int c0 = qc - k;
  const int c1 = qc + k;
  const int r0 = std::max(qr - k, 0);
  const int r1 = std::min(qr + k, kGridSide - 1);
  for (int row = r0; row <= r1; ++row) {
    const bool edge_row = row == qr - k || row == qr + k;
    if (edge_row) {
      for (int column = std::max(c0, 0); column <= std::min(c1, kGridSide - 1); ++column)
        offer_cell(grid, best, x, y, column, row);
    } else {
      if (c0 >= 0) offer_cell(grid, best, x, y, c0, row);
      if (c1 <= kGridSide - 1 && k > 0) offer_cell(grid, best, x, y, c1, row);
    }
  }
}

const point* grid_nearest(const impact_array_state& grid, double x, double y, double limit) {
  nearest_so_far best{limit};
  for (const std::int32_t at : grid.outside) {
    best.offer(x, y, grid.oldest_first[static_cast<std::size_t>(at)], at);
  }
  const int qc = cell_of(x, grid.cell_w);
  const int qr = cell_of(y, grid.cell_h);
  // Far above the rounding of the cell edges, the cell an impact was put in and
  // the squared distances; a query far out only reads more rings.
  const double margin =
      1e-7 * (1.0 + grid.grid_width + grid.grid_height + std::fabs(x) + std::fabs(y));
  for (int k = 0;; ++k) {
    offer_ring(grid, best, x, y, qc, qr, k);
    const bool left = qc - k > 0;
    const bool right = qc + k < kGridSide - 1;
    const bool below = qr - k > 0;
    const bool above = qr + k < kGridSide - 1;
    if (!left && !right && !below && !above) break;  // every cell read
    // How near a cell outside the rings read so far can come to (x, y).
    double reach = std::numeric_limits<double>::infinity();
    if (left) reach = std::min(reach, x - (qc - k) * grid.cell_w);
    if (right) reach = std::min(reach, (qc + k + 1) * grid.cell_w - x);
    if (below) reach = std::min(reach, y - (qr - k) * grid.cell_h);
    if (above) reach = std::min(reach, (qr + k + 1) * grid.cell_h - y);
    reach -= margin;
    if (reach > 0.0 && reach * reach > best.d2) break;
  }
  if (best.position < 0) return nullptr;
  return &grid.oldest_first[static_cast<std::size_t>(best.position)];
}

}  // namespace

const std::vector<point>& impact_array_oldest_first(const simulation& sim) {
  impact_array_state& array = *sim.impact_lookup;
  const world_state& world = sim.world;
  if (world.impacts != array.head || world.num_impacts != array.count) {
    if (!take_in_new_impacts(array, world)) fill_afresh(array, world);
    remember_list_state(array, world);
  }
  return array.oldest_first;
}

const point* impact_array_nearest(const simulation& sim, double x, double y, double limit) {
  const std::vector<point>& impacts = impact_array_oldest_first(sim);
  impact_array_state& array = *sim.impact_lookup;
  // Up to a few dozen impacts, reading them all costs less than the rings.
  if (impacts.size() <= kImpactsReadWhole || !std::isfinite(x) || !std::isfinite(y) ||
      !std::isfinite(limit)) {
    return literal_nearest(array, x, y, limit);
  }
  bring_grid_up_to_date(array, sim.world);
  if (!array.grid_usable) return literal_nearest(array, x, y, limit);
  return grid_nearest(array, x, y, limit);
}

void impact_array_forget(simulation& sim) {
  impact_array_state& array = *sim.impact_lookup;
  array.head = nullptr;
  array.count = 0;
  array.oldest_first.clear();
  ++array.generation;
}

// ---------------------------------------------------------------------------
// The merge test's buckets

bool impact_buckets::any_within_merge_distance(const world_state& world, double x, double y) {
  refresh(world);
  // A ray meets the same spot tick after tick: the impact that answered last
  // time usually answers again, without a look at the buckets. Which impact
  // answers does not matter, only whether any does.
  if (last_close_ != nullptr && close(last_close_, x, y)) return true;
  if (!bucketed(x, y)) return any_in_list(world, x, y);
  for (const impact_node* impact : outside_) {
    if (close(impact, x, y)) return remember(impact);
  }
  // Only the buckets that come within the merge distance (and a margin far
  // above rounding) along each axis: two at most, as a bucket is wider than
  // that distance. An impact farther along one axis is farther in all.
  const double reach_x = kImpactMergeDistance + 1e-9 + 1e-15 * std::fabs(x);
  const double reach_y = kImpactMergeDistance + 1e-9 + 1e-15 * std::fabs(y);
  const std::int64_t i0 = bucket_of(x - reach_x);
  const std::int64_t i1 = bucket_of(x + reach_x);
  const std::int64_t j0 = bucket_of(y - reach_y);
  const std::int64_t j1 = bucket_of(y + reach_y);
  for (std::int64_t i = i0; i <= i1; ++i) {
    for (std::int64_t j = j0; j <= j1; ++j) {
      const auto found = buckets_.find(key(i, j));
      if (found == buckets_.end()) continue;
      for (const impact_node* impact : found->second) {
        if (close(impact, x, y)) return remember(impact);
      }
    }
  }
  return false;
}

void impact_buckets::forget() {
  buckets_.clear();
  outside_.clear();
  last_close_ = nullptr;
  head_ = nullptr;
  count_ = 0;
}

bool impact_buckets::close(const impact_node* impact, double x, double y) {
  const double dx = x - impact->x;
  const double dy = y - impact->y;
  return dx * dx + dy * dy < kImpactMergeDistanceSquared;
}

bool impact_buckets::any_in_list(const world_state& world, double x, double y) {
  for (const impact_node* impact = world.impacts; impact != nullptr; impact = impact->next) {
    if (close(impact, x, y)) return remember(impact);
  }
  return false;
}

bool impact_buckets::remember(const impact_node* impact) {
  last_close_ = impact;
  return true;
}

bool impact_buckets::bucketed(double x, double y) {
  return std::fabs(x) <= kBucketedRange && std::fabs(y) <= kBucketedRange;
}

std::int64_t impact_buckets::bucket_of(double v) {
  return static_cast<std::int64_t>(std::floor(v / kBucketSide));
}

std::uint64_t impact_buckets::key(std::int64_t i, std::int64_t j) {
  return (static_cast<std::uint64_t>(i) << 32) ^ static_cast<std::uint64_t>(j & 0xFFFFFFFF);
}

void impact_buckets::add(const impact_node* impact) {
  if (bucketed(impact->x, impact->y)) {
    buckets_[key(bucket_of(impact->x), bucket_of(impact->y))].push_back(impact);
  } else {
    outside_.push_back(impact);
  }
}

// The buckets follow impacts put at the head of the list; anything else fills
// them afresh.
void impact_buckets::refresh(const world_state& world) {
  if (world.impacts == head_ && world.num_impacts == count_) return;
  const std::int32_t added = world.num_impacts - count_;
  std::vector<const impact_node*> fresh;
  const impact_node* impact = world.impacts;
  while (added > 0 && impact != nullptr && impact != head_ &&
         static_cast<std::int32_t>(fresh.size()) < added) {
    fresh.push_back(impact);
    impact = impact->next;
  }
  if (added > 0 && impact == head_ && static_cast<std::int32_t>(fresh.size()) == added) {
    for (const impact_node* n : fresh) add(n);
  } else {
    forget();
    for (const impact_node* n = world.impacts; n != nullptr; n = n->next) add(n);
  }
  head_ = world.impacts;
  count_ = world.num_impacts;
}
