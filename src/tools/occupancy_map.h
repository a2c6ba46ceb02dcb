// Occupancy maps as worlds. An occupancy map is the usual robotics map format: a
// YAML file naming an image and how to read it,
//   image: lab.pgm          # PGM (P2 or P5) or PNG, relative to the YAML file
//   resolution: 0.05        # metres per pixel, above 0
//   origin: [-10.0, -10.0, 0.0]
//   negate: 0               # 0 or 1
//   occupied_thresh: 0.65   # 0 to 1
//   free_thresh: 0.196      # 0 to free_thresh <= occupied_thresh
//   mode: trinary           # optional: trinary or scale
// A pixel of brightness v (0 to 255) is occupied with probability
// p = (255 - v) / 255, or v / 255 when negate is 1; it is a wall where p is above
// occupied_thresh, free where p is below free_thresh, unknown in between.
//
// The world: the occupied pixels merged greedily into rectangles (each grown as
// far right as it goes, then down while its whole row is occupied), scaled by one
// factor so that the longer side of the image spans the 10 x 10 world and centred
// along the shorter one (the aspect is kept; image rows run down the world like
// the picture), plus the four boundary walls. The robot stands on the free pixel
// farthest from any wall or edge of the map, heading along +x. Resolution and
// origin are checked but do not change the scaling.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/world_file.h"

// Images larger than this on either side are refused.
constexpr int kMaxMapSide = 4096;

struct map_image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> gray;  // row by row from the top, 0 black to 255 white
};

// Reads a PGM or PNG image (told apart by their first bytes).
bool read_map_image(const std::string& path, map_image& image, std::string& error);

struct map_rect {
  int x;
  int y;
  int width;
  int height;
};

// The cells marked occupied (row by row) as few rectangles as the greedy merge
// gives, in the order it finds them.
std::vector<map_rect> merge_occupied(const std::vector<char>& occupied, int width, int height);

// Reads the YAML file and its image and makes the world; false, with a message
// naming the file and the fault, for anything it cannot take.
bool import_occupancy_map(const std::string& yaml_path, world_file_data& world, std::string& error);
