#include "core/wall_index.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>

#include "core/simulation.h"

// Why a wall left out of a ray's candidates cannot change the vision result:
//
// check_intersect accepts a crossing of an axis-aligned side only when its
// coordinate along the side lies within the side's ends (an exact comparison);
// its coordinate across the side is the side's own, up to rounding that depends
// on the side alone: for a side at y = c from x = a to x = b it is at most about
// |c| (|a| + |b|) / |b - a| units of the last place. So every crossing a wall can
// report lies in its box widened by that slack (`slack_of` below, taken thousands
// of times larger), and close to the ray's line. A wall whose widened box stays
// away from the ray's first kWallIndexReach units reports only crossings farther
// than 2: that is 2 itself (some side missed) or, for a ray through two opposite
// corners, its nearest crossing beyond 2. The caller deals with those.
//
// Walls whose slack cannot be bounded this way (coordinates that are not finite
// or beyond 1e100, extents below 1e-100 but not zero, or a slack above half a
// unit) are candidates of every query.

namespace {

constexpr double kBorder = 3.0;               // the grid reaches this far beyond the world
constexpr double kMargin = 1e-6;              // slack of the ray traversal, far above rounding
constexpr double kSlackPerUnit = 1e-12;       // per unit of a wall's coordinate ratio
constexpr double kMaxSlack = 0.5;             // walls with more go to the side list
constexpr double kHugeCoordinate = 1e100;     // products of two such values stay finite
constexpr double kTinyExtent = 1e-100;        // products with such extents stay normal
constexpr double kTinyRayComponent = 1e-200;  // likewise for the ray's direction
constexpr double kMinWorldExtent = 1.0;
constexpr double kMaxWorldExtent = 1e4;
constexpr int kMaxCellsPerAxis = 1024;
constexpr double kWallsPerCellSide =
    3.0;  // cell side in mean wall spacings: fewer, fuller cells walk faster
constexpr double kMaxCellSide = 1.0;
// Up to this many walls the bound is cheaper to apply to every wall in turn than
// walking the grid's cells.
constexpr std::size_t kWallsForCellWalk = 24;

using wall_record = wall_index_record;

bool unchanged(const wall_record& r, const wall_node* w) {
  return same_bits(r.x, w->x) && same_bits(r.y, w->y) && same_bits(r.width, w->width) &&
         same_bits(r.height, w->height);
}

bool usable_extent(double e) {
  return e >= kMinWorldExtent && e <= kMaxWorldExtent;
}

// Monotone in x, so a point inside a box always lands in one of the box's cells.
int col_of(const wall_index& index, double x) {
  const double c = std::floor((x - index.x0) * index.inv_cell);
  if (!(c >= 0)) return 0;
  if (c >= index.cols) return index.cols - 1;
  return static_cast<int>(c);
}

int row_of(const wall_index& index, double y) {
  const double c = std::floor((y - index.y0) * index.inv_cell);
  if (!(c >= 0)) return 0;
  if (c >= index.rows) return index.rows - 1;
  return static_cast<int>(c);
}

std::vector<std::uint32_t>& cell_at(wall_index& index, int i, int j) {
  return index.cells[static_cast<std::size_t>(i) * index.rows + j];
}

// The bound on how far a crossing may lie off the wall's box (see the top).
// Negative when no bound is known.
double slack_of(double bx1, double by1, double bx2, double by2) {
  if (!std::isfinite(bx1) || !std::isfinite(by1) || !std::isfinite(bx2) || !std::isfinite(by2)) {
    return -1;
  }
  const double mag = std::max({std::fabs(bx1), std::fabs(bx2), std::fabs(by1), std::fabs(by2)});
  if (mag > kHugeCoordinate) return -1;
  const double ex = std::fabs(bx2 - bx1);
  const double ey = std::fabs(by2 - by1);
  if ((ex > 0 && ex < kTinyExtent) || (ey > 0 && ey < kTinyExtent)) return -1;
  const double across_horizontal =
      ex > 0 ? std::max(std::fabs(by1), std::fabs(by2)) * (std::fabs(bx1) + std::fabs(bx2)) / ex
             : 0.0;
  const double across_vertical =
      ey > 0 ? std::max(std::fabs(bx1), std::fabs(bx2)) * (std::fabs(by1) + std::fabs(by2)) / ey
             : 0.0;
  const double slack =
      kMargin + kSlackPerUnit * (across_horizontal + across_vertical + mag) + 2 * kMargin;
  return slack <= kMaxSlack ? slack : -1;
}

void take_in(wall_index& index, std::uint32_t seq) {
  wall_record& r = index.records[seq];
  const wall_node* w = r.node;
  r.x = w->x;
  r.y = w->y;
  r.width = w->width;
  r.height = w->height;
  r.in_side_list = false;
  r.i0 = 0;
  r.i1 = -1;
  r.j0 = 0;
  r.j1 = -1;
  // The box exactly as vision and the point test compute it.
  const double bx1 = w->x;
  const double by1 = w->y;
  const double bx2 = w->x + w->width;
  const double by2 = w->y + w->height;
  const double slack = slack_of(bx1, by1, bx2, by2);
  if (slack < 0) {
    r.in_side_list = true;
    index.side.push_back(seq);
    return;
  }
  r.lo_x = std::min(bx1, bx2) - slack;
  r.hi_x = std::max(bx1, bx2) + slack;
  r.lo_y = std::min(by1, by2) - slack;
  r.hi_y = std::max(by1, by2) + slack;
  // Entirely outside the grid: out of reach of every query the index decides.
  if (r.hi_x < index.x0 || r.lo_x > index.x_end || r.hi_y < index.y0 || r.lo_y > index.y_end) {
    return;
  }
  const int i0 = col_of(index, r.lo_x);
  const int i1 = col_of(index, r.hi_x);
  const int j0 = row_of(index, r.lo_y);
  const int j1 = row_of(index, r.hi_y);
  const long long listed = static_cast<long long>(i1 - i0 + 1) * (j1 - j0 + 1);
  if (listed > static_cast<long long>(index.cols) * index.rows / 8 + 64) {
    r.in_side_list = true;  // a huge wall: cheaper to test for every query
    index.side.push_back(seq);
    return;
  }
  r.i0 = i0;
  r.i1 = i1;
  r.j0 = j0;
  r.j1 = j1;
  for (int i = i0; i <= i1; ++i)
    for (int j = j0; j <= j1; ++j) cell_at(index, i, j).push_back(seq);
}

// Takes the newest wall out again; it is the last entry wherever it is listed.
void take_out_newest(wall_index& index) {
  const auto seq = static_cast<std::uint32_t>(index.records.size() - 1);
  const wall_record& r = index.records[seq];
  if (r.in_side_list) {
    index.side.pop_back();
    return;
  }
  for (int i = r.i0; i <= r.i1; ++i)
    for (int j = r.j0; j <= r.j1; ++j) cell_at(index, i, j).pop_back();
}

void remember_list_state(wall_index& index, const world_state& world) {
  index.head = world.walls;
  index.num_walls = world.num_walls;
}

// The mean distance between neighbouring walls where there are walls: the area
// of the coarse squares holding a wall's corner, shared out among the walls.
// Walls often crowd together (the rubble of a map), and the cells should suit
// the crowd rather than the empty floor around it.
double mean_spacing(const std::vector<const wall_node*>& nodes, double w, double h) {
  constexpr int kSquares = 64;
  std::vector<char> used(kSquares * kSquares, 0);
  int squares = 0;
  for (const wall_node* wall : nodes) {
    const double fx = wall->x / w * kSquares;
    const double fy = wall->y / h * kSquares;
    if (!(fx >= 0 && fx < kSquares && fy >= 0 && fy < kSquares)) continue;
    char& u = used[static_cast<int>(fx) * kSquares + static_cast<int>(fy)];
    if (!u) ++squares;
    u = 1;
  }
  const double area = std::max(1, squares) * (w / kSquares) * (h / kSquares);
  return std::sqrt(area / static_cast<double>(std::max<std::size_t>(nodes.size(), 1)));
}

void rebuild(wall_index& index, const world_state& world) {
  std::vector<const wall_node*> nodes;
  for (const wall_node* w = world.walls; w != nullptr; w = w->next) nodes.push_back(w);
  const double w = world.width;
  const double h = world.height;
  const double span = std::max(w, h) + 2 * kBorder;
  const double spacing = mean_spacing(nodes, w, h);
  index.cell = std::clamp(kWallsPerCellSide * spacing, span / kMaxCellsPerAxis, kMaxCellSide);
  index.inv_cell = 1.0 / index.cell;
  index.x0 = -kBorder;
  index.y0 = -kBorder;
  index.cols = static_cast<int>(std::ceil((w + 2 * kBorder) * index.inv_cell));
  index.rows = static_cast<int>(std::ceil((h + 2 * kBorder) * index.inv_cell));
  index.x_end = index.x0 + index.cols * index.cell;
  index.y_end = index.y0 + index.rows * index.cell;
  index.cells.resize(static_cast<std::size_t>(index.cols) * index.rows);
  for (auto& c : index.cells) c.clear();
  index.side.clear();
  index.records.assign(nodes.size(), wall_record{});
  for (std::size_t pos = 0; pos < nodes.size(); ++pos) {
    index.records[nodes.size() - 1 - pos].node = nodes[pos];
  }
  for (std::uint32_t seq = 0; seq < index.records.size(); ++seq) take_in(index, seq);
  index.world_width = w;
  index.world_height = h;
  index.built = true;
  remember_list_state(index, world);
}

// Walls put at the head since the last query, when that is all that happened.
bool take_in_new_walls(wall_index& index, const world_state& world) {
  const wall_node* old_head = index.head;
  const std::int32_t added = world.num_walls - index.num_walls;
  if (added < 0) return false;
  std::vector<const wall_node*> fresh;
  const wall_node* w = world.walls;
  while (w != nullptr && w != old_head && static_cast<std::int32_t>(fresh.size()) < added) {
    fresh.push_back(w);
    w = w->next;
  }
  if (w != old_head || static_cast<std::int32_t>(fresh.size()) != added) return false;
  // Many more walls than the cells were sized for: size them again.
  if (fresh.size() > index.records.size() + 64) return false;
  if (!index.records.empty() && !unchanged(index.records.back(), index.records.back().node)) {
    take_out_newest(index);
    take_in(index, static_cast<std::uint32_t>(index.records.size() - 1));
  }
  for (auto it = fresh.rbegin(); it != fresh.rend(); ++it) {
    wall_record r;
    r.node = *it;
    index.records.push_back(r);
    take_in(index, static_cast<std::uint32_t>(index.records.size() - 1));
  }
  remember_list_state(index, world);
  return true;
}

// Brings the index up to date with the wall list; false when it cannot serve.
bool sync(wall_index& index, const world_state& world) {
  if (!usable_extent(world.width) || !usable_extent(world.height)) return false;
  if (!index.built || index.world_width != world.width || index.world_height != world.height) {
    rebuild(index, world);
    return true;
  }
  if (world.walls == index.head && world.num_walls == index.num_walls) {
    if (!index.records.empty() && !unchanged(index.records.back(), index.head)) {
      take_out_newest(index);  // the newest wall was dragged to a new size
      take_in(index, static_cast<std::uint32_t>(index.records.size() - 1));
    }
    return true;
  }
  if (!take_in_new_walls(index, world)) rebuild(index, world);
  return true;
}

std::uint32_t next_stamp(wall_index& index) {
  if (++index.stamp == 0) {
    for (auto& r : index.records) r.stamp = 0;
    index.stamp = 1;
  }
  return index.stamp;
}

// The part of a ray that a query gathers walls for: from p + t0 u to p + t1 u,
// and that piece's bounding box widened by the traversal margin.
struct ray_piece {
  double px, py, ux, uy, t0, t1;
  double lo_x, lo_y, hi_x, hi_y;
};

// Whether the piece meets the record's widened box. A box that misses the
// piece's bounding box cannot meet the piece (the bounding box is wider by a
// margin far above the rounding of the test below), so most walls are set aside
// by four comparisons.
bool segment_meets(const wall_record& r, const ray_piece& piece) {
  if (r.hi_x < piece.lo_x || r.lo_x > piece.hi_x || r.hi_y < piece.lo_y || r.lo_y > piece.hi_y) {
    return false;
  }
  const double px = piece.px;
  const double py = piece.py;
  const double ux = piece.ux;
  const double uy = piece.uy;
  double t0 = piece.t0;
  double t1 = piece.t1;
  if (ux == 0) {
    if (px < r.lo_x || px > r.hi_x) return false;
  } else {
    double a = (r.lo_x - px) / ux;
    double b = (r.hi_x - px) / ux;
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
  }
  if (uy == 0) {
    if (py < r.lo_y || py > r.hi_y) return false;
  } else {
    double a = (r.lo_y - py) / uy;
    double b = (r.hi_y - py) / uy;
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
  }
  return t0 <= t1;
}

bool tiny_but_not_zero(double v) {
  return v != 0 && std::fabs(v) < kTinyRayComponent;
}

bool finite_ends(const line& ray) {
  return std::isfinite(ray.x1) && std::isfinite(ray.y1) && std::isfinite(ray.x2) &&
         std::isfinite(ray.y2);
}

// The walls near the first kWallIndexReach units from (px, py) along the unit
// direction (ux, uy).
const std::vector<const wall_node*>* gather_along(wall_index& index, const world_state& world,
                                                  double px, double py, double ux, double uy) {
  if (!sync(index, world)) return nullptr;
  const double t0 = -kMargin;
  const double t1 = kWallIndexReach + kMargin;
  const double ax = px + t0 * ux;
  const double ay = py + t0 * uy;
  const double bx = px + t1 * ux;
  const double by = py + t1 * uy;
  const double lo_x = std::min(ax, bx) - kMargin;
  const double hi_x = std::max(ax, bx) + kMargin;
  const double lo_y = std::min(ay, by) - kMargin;
  const double hi_y = std::max(ay, by) + kMargin;
  if (lo_x < index.x0 || hi_x > index.x_end || lo_y < index.y0 || hi_y > index.y_end) {
    return nullptr;  // the ray starts too far outside the world
  }
  const ray_piece piece{px, py, ux, uy, t0, t1, lo_x, lo_y, hi_x, hi_y};

  if (index.records.size() <= kWallsForCellWalk) {
    index.ray_result.clear();
    for (auto it = index.records.rbegin(); it != index.records.rend(); ++it) {
      const bool listed = it->i0 <= it->i1;
      if (it->in_side_list || (listed && segment_meets(*it, piece))) {
        index.ray_result.push_back(it->node);
      }
    }
    return &index.ray_result;
  }

  const std::uint32_t stamp = next_stamp(index);
  index.found.clear();
  auto visit = [&](std::uint32_t seq) {
    wall_record& r = index.records[seq];
    if (r.stamp == stamp) return;
    r.stamp = stamp;
    if (r.in_side_list || segment_meets(r, piece)) index.found.push_back(seq);
  };
  for (std::uint32_t seq : index.side) visit(seq);

  // Column by column, the rows the thickened segment passes through.
  const bool steep = std::fabs(ux) < 1e-9;
  const double slope = steep ? 0.0 : uy / ux;
  const int c0 = col_of(index, lo_x);
  const int c1 = col_of(index, hi_x);
  for (int i = c0; i <= c1; ++i) {
    int r0 = row_of(index, lo_y);
    int r1 = row_of(index, hi_y);
    if (!steep) {
      const double xa = std::clamp(index.x0 + i * index.cell - kMargin, lo_x, hi_x);
      const double xb = std::clamp(index.x0 + (i + 1) * index.cell + kMargin, lo_x, hi_x);
      const double ya = py + (xa - px) * slope;
      const double yb = py + (xb - px) * slope;
      r0 = row_of(index, std::max(std::min(ya, yb) - kMargin, lo_y));
      r1 = row_of(index, std::min(std::max(ya, yb) + kMargin, hi_y));
    }
    for (int j = r0; j <= r1; ++j)
      for (std::uint32_t seq : cell_at(index, i, j)) visit(seq);
  }

  std::sort(index.found.begin(), index.found.end(), std::greater<>());
  index.ray_result.clear();
  for (std::uint32_t seq : index.found) index.ray_result.push_back(index.records[seq].node);
  return &index.ray_result;
}

}  // namespace

const std::vector<const wall_node*>* wall_index_ray_candidates(simulation& sim, const line& ray,
                                                               double ux, double uy) {
  if (!finite_ends(ray) || !std::isfinite(ux) || !std::isfinite(uy)) return nullptr;
  // The segment test multiplies by these; tiny ones would lose precision there.
  if (tiny_but_not_zero(ux) || tiny_but_not_zero(uy) || (ux == 0 && uy == 0)) return nullptr;
  return gather_along(*sim.wall_grid, sim.world, ray.x1, ray.y1, ux, uy);
}

const std::vector<const wall_node*>* wall_index_point_candidates(simulation& sim, double x,
                                                                 double y) {
  wall_index& index = *sim.wall_grid;
  if (!sync(index, sim.world)) return nullptr;
  if (!(x >= index.x0 && x <= index.x_end && y >= index.y0 && y <= index.y_end)) return nullptr;
  index.point_result.clear();
  for (std::uint32_t seq : index.side) index.point_result.push_back(index.records[seq].node);
  for (std::uint32_t seq : cell_at(index, col_of(index, x), row_of(index, y))) {
    index.point_result.push_back(index.records[seq].node);
  }
  return &index.point_result;
}

void wall_index_forget(simulation& sim) {
  wall_index& index = *sim.wall_grid;
  index.built = false;
  index.head = nullptr;
  index.records.clear();
}

void wall_index_wall_changed(simulation& sim, const wall_node* wall) {
  const wall_index& index = *sim.wall_grid;
  // The newest wall is compared at every query; any other needs a fresh start.
  if (index.built && !index.records.empty() && index.records.back().node == wall) return;
  wall_index_forget(sim);
}
