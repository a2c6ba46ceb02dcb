// Occupied cells of a grid as rectangles that make up exactly those cells, none
// overlapping another.
#pragma once

#include <vector>

struct map_rect {
  int x;
  int y;
  int width;
  int height;
};

// The greedy merge: row by row, each rectangle grown as far right as it goes,
// then down while its whole row is free to take.
std::vector<map_rect> merge_occupied(const std::vector<char>& occupied, int width, int height);

// The fewest such rectangles (a minimum partition), never more than the greedy
// merge gives. Each connected piece of occupied cells is a rectilinear polygon,
// perhaps with holes; its fewest rectangles are R - C - H + 1 for R reflex
// corners, H holes and C chords: the most cuts joining two reflex corners along
// a grid line through the piece that neither cross nor touch each other, found
// as a largest independent set of the bipartite crossing graph of horizontal and
// vertical chords (a maximum matching, by Konig's theorem). Each reflex corner no
// chosen chord ends at is then cut from, along its horizontal edge's line, until
// the cut meets the boundary or another cut. Rectangles come in the order of
// their top-left cells, row by row.
std::vector<map_rect> partition_occupied(const std::vector<char>& occupied, int width, int height);
