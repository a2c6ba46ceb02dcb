// The fewest rectangles for the occupied cells: exact, never overlapping, never
// more than the greedy merge, and as few as an exhaustive search finds.
#include "tools/rect_partition.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using grid = std::vector<char>;

grid random_grid(std::mt19937& rng, int w, int h, unsigned density) {
  grid cells(static_cast<std::size_t>(w) * h);
  for (auto& c : cells) c = rng() % 100 < density;
  return cells;
}

// Each occupied cell in exactly one rectangle, each free cell in none.
::testing::AssertionResult exact_partition(const std::vector<map_rect>& rects, const grid& cells,
                                           int w, int h) {
  std::vector<int> covered(cells.size(), 0);
  for (const map_rect& r : rects) {
    if (r.width <= 0 || r.height <= 0 || r.x < 0 || r.y < 0 || r.x + r.width > w ||
        r.y + r.height > h) {
      return ::testing::AssertionFailure() << "a rectangle outside the grid";
    }
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) ++covered[static_cast<std::size_t>(y) * w + x];
  }
  for (std::size_t k = 0; k < cells.size(); ++k) {
    if (covered[k] != (cells[k] ? 1 : 0)) {
      return ::testing::AssertionFailure() << "cell " << k << " covered " << covered[k] << " times";
    }
  }
  return ::testing::AssertionSuccess();
}

// The fewest rectangles by exhaustive search: the first uncovered cell, row by
// row, is the top-left corner of some rectangle of any partition.
int fewest(grid& open, int w, int h, int used, int best) {
  std::size_t first = 0;
  while (first < open.size() && !open[first]) ++first;
  if (first == open.size()) return used;
  if (used + 1 >= best) return best;
  const int x = static_cast<int>(first % w);
  const int y = static_cast<int>(first / w);
  int max_width = 0;
  while (x + max_width < w && open[static_cast<std::size_t>(y) * w + x + max_width]) ++max_width;
  for (int rw = 1; rw <= max_width; ++rw) {
    for (int rh = 1; y + rh <= h; ++rh) {
      bool row_open = true;
      for (int k = 0; k < rw; ++k) row_open = row_open && open[(y + rh - 1) * w + x + k];
      if (!row_open) break;
      for (int j = 0; j < rh; ++j)
        for (int k = 0; k < rw; ++k) open[(y + j) * w + x + k] = 0;
      best = std::min(best, fewest(open, w, h, used + 1, best));
      for (int j = 0; j < rh; ++j)
        for (int k = 0; k < rw; ++k) open[(y + j) * w + x + k] = 1;
    }
  }
  return best;
}

grid picture(const std::vector<std::string>& rows) {
  grid cells;
  for (const std::string& row : rows)
    for (char c : row) cells.push_back(c == '#');
  return cells;
}

TEST(PartitionOccupied, IsExactAndNeverMoreThanTheGreedyMerge) {
  std::mt19937 rng(11);
  for (const unsigned density : {5u, 30u, 50u, 70u, 90u, 100u}) {
    for (int n = 0; n < 60; ++n) {
      const int w = 1 + static_cast<int>(rng() % 60);
      const int h = 1 + static_cast<int>(rng() % 60);
      const grid cells = random_grid(rng, w, h, density);
      const auto rects = partition_occupied(cells, w, h);
      ASSERT_TRUE(exact_partition(rects, cells, w, h)) << "density " << density << " map " << n;
      ASSERT_LE(rects.size(), merge_occupied(cells, w, h).size()) << density << " map " << n;
    }
  }
}

TEST(PartitionOccupied, GivesAsFewAsAnExhaustiveSearch) {
  std::mt19937 rng(5);
  for (int n = 0; n < 400; ++n) {
    const int w = 1 + static_cast<int>(rng() % 6);
    const int h = 1 + static_cast<int>(rng() % 6);
    const grid cells = random_grid(rng, w, h, 40 + rng() % 50);
    grid open = cells;
    const int best = fewest(open, w, h, 0, static_cast<int>(cells.size()) + 1);
    ASSERT_EQ(static_cast<int>(partition_occupied(cells, w, h).size()), best) << "map " << n;
  }
}

TEST(PartitionOccupied, ShapesOfWallsTakeTheirFewestRectangles) {
  struct shape {
    const char* name;
    std::vector<std::string> rows;
    std::size_t fewest;
  };
  const std::vector<shape> shapes = {
      // A hollow outline one cell thick, as mapping runs draw shelves.
      {"outline", {"#####", "#...#", "#...#", "#####"}, 4},
      // A wall with a T at either end: two chords join the corners pairwise.
      {"I-beam", {"###", ".#.", ".#.", "###"}, 3},
      {"notches", {"#.###", "#####", "###.#", "#####"}, 6},
      {"comb", {"#.#.#", "#####", "#####"}, 4},
      {"ring with a pillar", {"#######", "#.....#", "#..#..#", "#.....#", "#######"}, 5},
      // Two chords across the waist, joining the notches.
      {"waist", {"##.##", "#####", "##.##"}, 3},
  };
  for (const shape& s : shapes) {
    const int w = static_cast<int>(s.rows[0].size());
    const int h = static_cast<int>(s.rows.size());
    const grid cells = picture(s.rows);
    const auto rects = partition_occupied(cells, w, h);
    EXPECT_TRUE(exact_partition(rects, cells, w, h)) << s.name;
    EXPECT_EQ(rects.size(), s.fewest) << s.name;
  }
  // The greedy merge takes the I-beam's stem down into the lower bar.
  EXPECT_EQ(merge_occupied(picture({"###", ".#.", ".#.", "###"}), 3, 4).size(), 4u);
}

}  // namespace
