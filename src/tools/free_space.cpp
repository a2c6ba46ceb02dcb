#include "tools/free_space.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kExtent = 10.0;

// Cell index range [first, last] whose centres lie within reach of [lo, hi].
void cells_near(double lo, double hi, double reach, int side, int& first, int& last) {
  const double a = std::clamp((lo - reach) / kFreeSpaceCell - 0.5, -1.0, double(side));
  const double b = std::clamp((hi + reach) / kFreeSpaceCell - 0.5, -1.0, double(side));
  first = std::max(0, static_cast<int>(std::floor(a)));
  last = std::min(side - 1, static_cast<int>(std::ceil(b)));
}

// Closes every cell whose disc could touch the wall.
void close_near_wall(const world_file_wall& wall, double reach, int side,
                     std::vector<char>& closed) {
  if (!std::isfinite(wall.x) || !std::isfinite(wall.y) || !std::isfinite(wall.width) ||
      !std::isfinite(wall.height)) {
    return;
  }
  const double x0 = std::min(wall.x, wall.x + wall.width);
  const double x1 = std::max(wall.x, wall.x + wall.width);
  const double y0 = std::min(wall.y, wall.y + wall.height);
  const double y1 = std::max(wall.y, wall.y + wall.height);
  int i0 = 0, i1 = 0, j0 = 0, j1 = 0;
  cells_near(x0, x1, reach, side, i0, i1);
  cells_near(y0, y1, reach, side, j0, j1);
  for (int j = j0; j <= j1; ++j) {
    const double cy = (j + 0.5) * kFreeSpaceCell;
    const double dy = std::max({y0 - cy, 0.0, cy - y1});
    for (int i = i0; i <= i1; ++i) {
      const double cx = (i + 0.5) * kFreeSpaceCell;
      const double dx = std::max({x0 - cx, 0.0, cx - x1});
      if (dx * dx + dy * dy <= reach * reach) {
        closed[static_cast<std::size_t>(j) * side + i] = 1;
      }
    }
  }
}

}  // namespace

disc_regions::disc_regions(const std::vector<world_file_wall>& walls, double diameter)
    : side_(static_cast<int>(std::lround(kExtent / kFreeSpaceCell))) {
  const std::size_t cells = static_cast<std::size_t>(side_) * side_;
  std::vector<char> closed(cells, 0);
  // A disc centred anywhere in the cell: the reach from the centre grows by half
  // the cell's diagonal.
  const double radius = diameter / 2;
  const double half_diagonal = kFreeSpaceCell * std::sqrt(0.5);
  for (int j = 0; j < side_; ++j) {
    for (int i = 0; i < side_; ++i) {
      const double lo = std::min(i, j) * kFreeSpaceCell;
      const double hi = (std::max(i, j) + 1) * kFreeSpaceCell;
      if (lo < radius || hi > kExtent - radius) closed[static_cast<std::size_t>(j) * side_ + i] = 1;
    }
  }
  for (const world_file_wall& wall : walls) {
    close_near_wall(wall, radius + half_diagonal, side_, closed);
  }

  label_.assign(cells, -1);
  std::vector<std::size_t> stack;
  for (std::size_t start = 0; start < cells; ++start) {
    if (closed[start] || label_[start] >= 0) continue;
    const int region = count();
    sizes_.push_back(0);
    label_[start] = region;
    stack.assign(1, start);
    while (!stack.empty()) {
      const std::size_t n = stack.back();
      stack.pop_back();
      ++sizes_.back();
      const int i = static_cast<int>(n % side_);
      const int j = static_cast<int>(n / side_);
      auto visit = [&](bool inside, std::size_t m) {
        if (inside && !closed[m] && label_[m] < 0) {
          label_[m] = region;
          stack.push_back(m);
        }
      };
      visit(i > 0, n - 1);
      visit(i + 1 < side_, n + 1);
      visit(j > 0, n - side_);
      visit(j + 1 < side_, n + side_);
    }
  }
}

int disc_regions::region_at(double x, double y) const {
  if (!(x >= 0 && x < kExtent && y >= 0 && y < kExtent)) return -1;
  const int i = std::min(side_ - 1, static_cast<int>(x / kFreeSpaceCell));
  const int j = std::min(side_ - 1, static_cast<int>(y / kFreeSpaceCell));
  return label_[static_cast<std::size_t>(j) * side_ + i];
}

int disc_regions::largest() const {
  int best = -1;
  for (int r = 0; r < count(); ++r) {
    if (best < 0 || sizes_[r] > sizes_[best]) best = r;
  }
  return best;
}

double disc_regions::area(int region) const {
  return static_cast<double>(sizes_[region]) * kFreeSpaceCell * kFreeSpaceCell;
}

void disc_regions::deepest_point(int region, double& x, double& y) const {
  // Chessboard distance to the nearest cell outside the region, in two passes.
  const std::size_t cells = label_.size();
  std::vector<std::uint32_t> depth(cells, 0);
  auto at = [&](int i, int j) -> std::uint32_t {
    if (i < 0 || j < 0 || i >= side_ || j >= side_) return 0;
    return depth[static_cast<std::size_t>(j) * side_ + i];
  };
  for (int j = 0; j < side_; ++j) {
    for (int i = 0; i < side_; ++i) {
      const std::size_t n = static_cast<std::size_t>(j) * side_ + i;
      if (label_[n] != region) continue;
      depth[n] = 1 + std::min({at(i - 1, j), at(i - 1, j - 1), at(i, j - 1), at(i + 1, j - 1)});
    }
  }
  std::uint32_t best = 0;
  std::size_t best_cell = 0;
  for (int j = side_ - 1; j >= 0; --j) {
    for (int i = side_ - 1; i >= 0; --i) {
      const std::size_t n = static_cast<std::size_t>(j) * side_ + i;
      if (label_[n] != region) continue;
      depth[n] = std::min({depth[n], 1 + at(i + 1, j), 1 + at(i + 1, j + 1), 1 + at(i, j + 1),
                           1 + at(i - 1, j + 1)});
      // Scanning backwards, ">=" keeps the first cell row by row among equals.
      if (depth[n] >= best) {
        best = depth[n];
        best_cell = n;
      }
    }
  }
  x = (static_cast<double>(best_cell % side_) + 0.5) * kFreeSpaceCell;
  y = (static_cast<double>(best_cell / side_) + 0.5) * kFreeSpaceCell;
}
