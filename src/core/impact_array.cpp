#include "core/impact_array.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/world.h"

namespace {

struct impact_array {
  const impact_node* head = nullptr;
  std::int32_t count = 0;
  std::vector<point> oldest_first;
};

impact_array array;
std::uint64_t array_generation = 1;  // changes whenever the array is filled afresh

void remember_list_state() {
  array.head = world.impacts;
  array.count = world.num_impacts;
}

void fill_afresh() {
  array.oldest_first.clear();
  ++array_generation;
  for (const impact_node* impact = world.impacts; impact != nullptr; impact = impact->next) {
    array.oldest_first.push_back(point{impact->x, impact->y});
  }
  std::reverse(array.oldest_first.begin(), array.oldest_first.end());
}

// Impacts put at the head since the last look, when that is all that happened.
bool take_in_new_impacts() {
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
constexpr int kGridSide = 32;
constexpr double kLargestGriddedExtent = 1e6;
constexpr std::size_t kImpactsReadWhole = 96;

struct impact_grid {
  bool usable = false;
  double width = 0.0;  // the extent the cells were cut for
  double height = 0.0;
  double cell_w = 0.0;
  double cell_h = 0.0;
  std::vector<std::int32_t> cells[kGridSide][kGridSide];
  std::vector<std::int32_t> outside;
  std::size_t taken_in = 0;  // array positions below this are in the grid
  std::uint64_t generation = 0;
};

impact_grid grid;

// The cell along one axis, clamped to the grid (a query may lie outside it).
int cell_of(double v, double cell_size) {
  const double cell = std::floor(v / cell_size);
  if (!(cell >= 0.0)) return 0;
  return cell >= kGridSide ? kGridSide - 1 : static_cast<int>(cell);
}

void cut_grid_afresh() {
  for (auto& column : grid.cells)
    for (auto& cell : column) cell.clear();
  grid.outside.clear();
  grid.taken_in = 0;
  grid.generation = array_generation;
  grid.width = world.width;
  grid.height = world.height;
  grid.usable = std::isfinite(world.width) && std::isfinite(world.height) && world.width > 0.0 &&
                world.height > 0.0 && world.width <= kLargestGriddedExtent &&
                world.height <= kLargestGriddedExtent;
  grid.cell_w = world.width / kGridSide;
  grid.cell_h = world.height / kGridSide;
}

void bring_grid_up_to_date() {
  if (grid.generation != array_generation || !same_bits(grid.width, world.width) ||
      !same_bits(grid.height, world.height)) {
    cut_grid_afresh();
  }
  if (!grid.usable) return;
  for (; grid.taken_in < array.oldest_first.size(); ++grid.taken_in) {
    const point& p = array.oldest_first[grid.taken_in];
    const auto position = static_cast<std::int32_t>(grid.taken_in);
    // Written so that a coordinate that is not a number lands outside.
    if (p.x >= 0.0 && p.x <= grid.width && p.y >= 0.0 && p.y <= grid.height) {
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

const point* literal_nearest(double x, double y, double limit) {
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

void offer_cell(nearest_so_far& best, double x, double y, int column, int row) {
  for (const std::int32_t at : grid.cells[column][row]) {
    best.offer(x, y, array.oldest_first[static_cast<std::size_t>(at)], at);
  }
}

// Reads the cells whose ring distance from (qc, qr) is exactly k.
void offer_ring(nearest_so_far& best, double x, double y, int qc, int qr, int k) {
  const int c0 = qc - k;
  const int c1 = qc + k;
  const int r0 = std::max(qr - k, 0);
  const int r1 = std::min(qr + k, kGridSide - 1);
  for (int row = r0; row <= r1; ++row) {
    const bool edge_row = row == qr - k || row == qr + k;
    if (edge_row) {
      for (int column = std::max(c0, 0); column <= std::min(c1, kGridSide - 1); ++column)
        offer_cell(best, x, y, column, row);
    } else {
      if (c0 >= 0) offer_cell(best, x, y, c0, row);
      if (c1 <= kGridSide - 1 && k > 0) offer_cell(best, x, y, c1, row);
    }
  }
}

const point* grid_nearest(double x, double y, double limit) {
  nearest_so_far best{limit};
  for (const std::int32_t at : grid.outside) {
    best.offer(x, y, array.oldest_first[static_cast<std::size_t>(at)], at);
  }
  const int qc = cell_of(x, grid.cell_w);
  const int qr = cell_of(y, grid.cell_h);
  // Far above the rounding of the cell edges, the cell an impact was put in and
  // the squared distances; a query far out only reads more rings.
  const double margin = 1e-7 * (1.0 + grid.width + grid.height + std::fabs(x) + std::fabs(y));
  for (int k = 0;; ++k) {
    offer_ring(best, x, y, qc, qr, k);
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
  return &array.oldest_first[static_cast<std::size_t>(best.position)];
}

}  // namespace

const std::vector<point>& impact_array_oldest_first() {
  if (world.impacts != array.head || world.num_impacts != array.count) {
    if (!take_in_new_impacts()) fill_afresh();
    remember_list_state();
  }
  return array.oldest_first;
}

const point* impact_array_nearest(double x, double y, double limit) {
  const std::vector<point>& impacts = impact_array_oldest_first();
  // Up to a few dozen impacts, reading them all costs less than the rings.
  if (impacts.size() <= kImpactsReadWhole || !std::isfinite(x) || !std::isfinite(y) ||
      !std::isfinite(limit)) {
    return literal_nearest(x, y, limit);
  }
  bring_grid_up_to_date();
  if (!grid.usable) return literal_nearest(x, y, limit);
  return grid_nearest(x, y, limit);
}

void impact_array_forget() {
  array = impact_array{};
  ++array_generation;
}
