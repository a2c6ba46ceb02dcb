// The field lattice's arrows of the frames drawn before, cell by cell. A cell
// whose arrow has the same centre, angle and length, bit for bit, in a world and
// a view of the same size, takes its end points from here instead of computing
// their sines and cosines again: the field changes only where the robot's
// knowledge or its plan changes, so from frame to frame most cells stay as they
// were. A front end that draws frame after frame (the web page) owns one and
// hands it to its pictures; the pixels are the same with or without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "draw/graphics.h"

class lattice_memo {
 public:
  // The end points of cell `cell`'s arrow, as arrow_geometry gives them.
  arrow_points arrow(const scene_view& view, std::size_t cell, double x, double y, double angle,
                     double length);
  // How many arrows were taken from the memo so far.
  std::uint64_t reused() const { return reused_; }

 private:
  // Everything arrow_geometry's result depends on, as bits.
  struct key {
    std::uint64_t x, y, angle, length, world_width, world_height;
    std::int32_t screen_width, screen_height;
    friend bool operator==(const key&, const key&) = default;
  };
  struct entry {
    bool known = false;
    key of{};
    arrow_points points;
  };
  std::vector<entry> entries_;
  std::uint64_t reused_ = 0;
};
