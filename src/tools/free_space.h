// Where a disc can travel among a world's walls: the robot's free space. The
// 10 x 10 world is cut into square cells kFreeSpaceCell across; a cell is open
// when a disc of the given diameter, centred anywhere in the cell, overlaps no
// wall and lies inside the world. Open cells that share a side form a region, in
// which the disc can go from any cell to any other, so the regions never join two
// places the disc cannot travel between; they may split one where a passage is
// within a cell's width of the disc's own.
#pragma once

#include <cstddef>
#include <vector>

#include "core/world_file.h"

constexpr double kFreeSpaceCell = 0.01;

class disc_regions {
 public:
  disc_regions(const std::vector<world_file_wall>& walls, double diameter);

  int count() const { return static_cast<int>(sizes_.size()); }
  // The region holding the point, or -1 where the disc does not fit (or the
  // point is outside the world).
  int region_at(double x, double y) const;
  // The region of the most cells (the first found, row by row, among equals);
  // -1 when the disc fits nowhere.
  int largest() const;
  // In square world units.
  double area(int region) const;
  // The centre of the region's cell farthest from the region's edge (counting
  // cells, a diagonal step as one), the first row by row among equals.
  void deepest_point(int region, double& x, double& y) const;

 private:
  int side_;
  std::vector<int> label_;  // row by row; -1 for closed cells
  std::vector<std::size_t> sizes_;
};
