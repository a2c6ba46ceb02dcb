// Occupancy maps as worlds. An occupancy map is the usual robotics map format: a
// YAML file naming an image and how to read it,
//   image: lab.pgm          # PGM or PNG (see map_image.h), relative to the YAML file
//   resolution: 0.05        # metres per pixel, above 0
//   origin: [-10.0, -10.0, 0.0]  # the map frame's position of the lower-left
//                                # pixel's corner, and a yaw (not applied)
//   negate: 0               # 0 or 1
//   occupied_thresh: 0.65   # 0 to 1
//   free_thresh: 0.196      # 0 to free_thresh <= occupied_thresh
//   mode: trinary           # optional: trinary or scale
// A pixel of brightness v (0 to 255) is occupied with probability
// p = (255 - v) / 255, or v / 255 when negate is 1; it is a wall where p is above
// occupied_thresh, free where p is below free_thresh, unknown in between or
// where the pixel is not fully opaque. Unknown pixels are floor or wall as asked.
//
// The map's frame has x to the right and y up, in metres. A region of it (the
// whole image unless asked otherwise) is scaled by one factor so that its longer
// side spans the 10 x 10 world and centred along the shorter one; image rows run
// down the world as in the picture. A point (X, Y) of the map is then at
//   x = origin_x + X / metres_per_unit,  y = origin_y - Y / metres_per_unit
// in the world. Everything in the world outside the region's part of the image
// is wall (the band beyond the image's shorter side, and any part of the region
// beyond the image). The walls are the default world's four boundary walls,
// kMapRim thick, and within them the fewest rectangles that make up exactly the
// wall pixels and the band (rect_partition.h). The
// robot stands, heading along +x, at the point deepest inside the largest region
// that a disc of its diameter can travel in (free_space.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/world_file.h"
#include "tools/map_image.h"
#include "tools/rect_partition.h"

// The robot's diameter in world units, for which the start is chosen.
constexpr double kMapRobotDiameter = 0.5;
// The thickness of the boundary walls, those of the default world.
constexpr double kMapRim = 0.05;
// A region may reach this many pixels beyond the image's larger side on each
// axis; the image must cover part of it.
constexpr double kMaxRegionPixels = 16.0 * kMaxMapSide;

// What a map's YAML file says.
struct map_settings {
  std::string image;
  double resolution = 0;
  double origin[3] = {0, 0, 0};  // x, y, yaw
  double occupied_thresh = 0;
  double free_thresh = 0;
  bool negate = false;
};

enum class unknown_cells { free, wall };

// A rectangle of the map's frame, in metres: x0 < x1, y0 < y1.
struct map_region {
  double x0 = 0;
  double y0 = 0;
  double x1 = 0;
  double y1 = 0;
};

struct map_import_options {
  std::optional<map_region> region;  // none: the whole image
  unknown_cells unknown = unknown_cells::free;
};

struct map_import {
  world_file_data world;
  std::string image_path;  // the image the YAML file names, as opened
  int image_width = 0;
  int image_height = 0;
  double resolution = 0;  // metres per pixel
  double yaw = 0;         // of the origin, ignored
  map_region region;      // the part imported
  double metres_per_unit = 0;
  double origin_x = 0;  // where the map frame's (0, 0) is in the world
  double origin_y = 0;
  std::size_t occupied_pixels = 0;  // pixels of the region that became wall, whole or in part
  std::size_t greedy_walls = 0;     // the walls with the greedy merge instead
  bool robot_fits = true;           // false: no room for the robot's disc anywhere
  double robot_region_area = 0;     // square world units of the region it starts in
  std::vector<std::string> warnings;
};

// Reads the YAML text; false with the reason (no file name) for anything it
// cannot take, including a key given twice.
bool parse_map_settings(std::string_view text, map_settings& settings, std::string& reason);

// Makes the world from the settings and the image. false with the reason (no
// file name) for a region outside the image, a map without a free cell, or more
// walls than a world file holds.
bool build_map_world(const map_settings& settings, const map_image& image,
                     const map_import_options& options, map_import& result, std::string& reason);

// Reads the YAML file and its image and makes the world. A failure's message
// starts with the YAML file's name and names the image when the fault is its
// ("m.yaml: image m.pgm: ..."); its kind is the file system's, with the file
// that could not be read and the errno where there is one (see read_map_file),
// or the content's for a map that cannot be taken.
file_result import_occupancy_map(const std::string& yaml_path, const map_import_options& options,
                                 map_import& result);
// The same with the default options, keeping only the world.
file_result import_occupancy_map(const std::string& yaml_path, world_file_data& world);

// Names the input (the YAML file or its image) that the output path is, when it
// is one of them: the same file, whatever links lead to it. Empty otherwise.
std::string output_overwrites_input(const std::string& output, const std::string& yaml_path,
                                    const map_import& result);

// The lines telling what an import made: the walls, the image, the region, the
// scale with the robot's size in metres, the transform and the robot's start.
std::vector<std::string> describe_map_import(const map_import& result);

// "X0,Y0,X1,Y1" in metres; false with the reason otherwise.
bool parse_map_region(std::string_view text, map_region& region, std::string& reason);
// Finite values with x0 < x1 and y0 < y1; false with the reason otherwise.
bool check_map_region(const map_region& region, std::string& reason);
