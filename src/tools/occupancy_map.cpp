#include "tools/occupancy_map.h"

#include <sys/stat.h>
#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "tools/free_space.h"

namespace {

constexpr double kExtent = 10.0;
constexpr std::uintmax_t kMaxYamlBytes = 1024 * 1024;
constexpr std::uintmax_t kMaxImageBytes = 256ULL * 1024 * 1024;
// Edges of cells closer than this (world units) are taken as one.
constexpr double kSliver = 1e-9;

// ---------------------------------------------------------------------------
// The YAML file

bool number_of(const YAML::Node& node, double& value) {
  if (!node.IsScalar()) return false;
  try {
    value = node.as<double>();
  } catch (const YAML::Exception&) {
    return false;
  }
  return std::isfinite(value);
}

bool load_yaml(std::string_view text, YAML::Node& root, std::string& reason) {
  try {
    root = YAML::Load(std::string(text));
  } catch (const YAML::DeepRecursion&) {
    // The parser's own message for this case names the wrong fault ("bad file").
    reason = "not a YAML file (nested too deeply)";
    return false;
  } catch (const YAML::Exception& e) {
    reason = "not a YAML file (" + e.msg + ")";
    return false;
  }
  if (!root.IsMap()) {
    reason = "expected keys such as image, resolution and origin";
    return false;
  }
  return true;
}

// Every key known, none twice, none of the required ones missing.
bool check_keys(const YAML::Node& root, std::set<std::string>& seen, std::string& reason) {
  const std::set<std::string> known = {"image",           "resolution",  "origin", "negate",
                                       "occupied_thresh", "free_thresh", "mode"};
  for (const auto& entry : root) {
    const std::string key = entry.first.IsScalar() ? entry.first.Scalar() : std::string("?");
    if (!known.contains(key)) {
      reason = "unknown key '" + key + "'";
      return false;
    }
    if (!seen.insert(key).second) {
      reason = "the key '" + key + "' is given twice";
      return false;
    }
  }
  for (const char* key :
       {"image", "resolution", "origin", "negate", "occupied_thresh", "free_thresh"}) {
    if (!seen.contains(key)) {
      reason = "the key '" + std::string(key) + "' is missing";
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// From pixels to cells

enum class pixel_class : char { free, unknown, occupied };

pixel_class classify(const map_image& image, std::size_t n, const map_settings& s) {
  if (!image.opaque(n)) return pixel_class::unknown;
  const double v = image.brightness(n);
  const double p = s.negate ? v / 255.0 : (255.0 - v) / 255.0;
  return p > s.occupied_thresh ? pixel_class::occupied
         : p < s.free_thresh   ? pixel_class::free
                               : pixel_class::unknown;
}

// One column (or row) of the world's cells within the boundary walls: part of a
// pixel, or the band outside the map.
enum class piece_kind : char { pixel, outside };
struct axis_piece {
  double begin;
  double end;
  piece_kind kind;
  int pixel;  // for kind pixel
};

// How one axis of the region lies in the world: pixel coordinate u (0 to the
// image's size) is at offset + (u - first) * scale.
struct axis_layout {
  double first;  // the region, in pixels
  double last;
  int pixels;  // of the image
  double offset;
  double scale;
  double world(double u) const { return offset + (u - first) * scale; }
};

// The pieces from kMapRim to kExtent - kMapRim along one axis: the band outside,
// the pixels the region holds (cut where the region cuts them), the band.
std::vector<axis_piece> axis_pieces(const axis_layout& axis) {
  const double inner_first = std::max(axis.first, 0.0);
  const double inner_last = std::min(axis.last, double(axis.pixels));
  std::vector<axis_piece> raw;
  raw.push_back({0.0, axis.world(inner_first), piece_kind::outside, 0});
  const int first_pixel = static_cast<int>(std::floor(inner_first));
  const int last_pixel = static_cast<int>(std::ceil(inner_last)) - 1;
  for (int c = first_pixel; c <= last_pixel; ++c) {
    raw.push_back({axis.world(std::max(double(c), inner_first)),
                   axis.world(std::min(double(c + 1), inner_last)), piece_kind::pixel, c});
  }
  raw.push_back({axis.world(inner_last), kExtent, piece_kind::outside, 0});

  // Within the boundary walls; slivers join the next piece so that the pieces
  // stay contiguous.
  std::vector<axis_piece> pieces;
  double begin = kMapRim;
  for (const axis_piece& piece : raw) {
    const double end = std::min(piece.end, kExtent - kMapRim);
    if (end - begin <= kSliver) continue;
    pieces.push_back({begin, end, piece.kind, piece.pixel});
    begin = end;
  }
  pieces.back().end = kExtent - kMapRim;
  return pieces;
}

double snapped(double pixels) {
  const double whole = std::round(pixels);
  return std::fabs(pixels - whole) < kSliver ? whole : pixels;
}

// The region in pixel coordinates (u to the right, v down from the image's top).
bool region_in_pixels(const map_settings& s, const map_image& image, const map_region& region,
                      double& u0, double& u1, double& v0, double& v1, std::string& reason) {
  u0 = snapped((region.x0 - s.origin[0]) / s.resolution);
  u1 = snapped((region.x1 - s.origin[0]) / s.resolution);
  v0 = snapped(image.height - (region.y1 - s.origin[1]) / s.resolution);
  v1 = snapped(image.height - (region.y0 - s.origin[1]) / s.resolution);
  if (!std::isfinite(u0) || !std::isfinite(u1) || !std::isfinite(v0) || !std::isfinite(v1) ||
      std::max(u1 - u0, v1 - v0) > kMaxRegionPixels) {
    reason = "the region is larger than " + std::to_string(int(kMaxRegionPixels)) +
             " pixels across or too far from the image";
    return false;
  }
  if (!(u1 > u0) || !(v1 > v0)) {
    reason = "the region is too small to hold part of a pixel";
    return false;
  }
  if (!(std::min(u1, double(image.width)) > std::max(u0, 0.0)) ||
      !(std::min(v1, double(image.height)) > std::max(v0, 0.0))) {
    reason = "the region holds no part of the image";
    return false;
  }
  return true;
}

struct cell_grid_world {
  std::vector<axis_piece> columns;
  std::vector<axis_piece> rows;
  std::vector<char> wall;  // row by row
  bool any_free = false;
};

cell_grid_world wall_cells(const std::vector<axis_piece>& columns,
                           const std::vector<axis_piece>& rows,
                           const std::vector<pixel_class>& pixels, int image_width,
                           unknown_cells unknown) {
  cell_grid_world grid{columns, rows, {}, false};
  grid.wall.assign(columns.size() * rows.size(), 1);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].kind != piece_kind::pixel) continue;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].kind != piece_kind::pixel) continue;
      const pixel_class p =
          pixels[static_cast<std::size_t>(rows[r].pixel) * image_width + columns[c].pixel];
      const bool wall = p == pixel_class::occupied ||
                        (p == pixel_class::unknown && unknown == unknown_cells::wall);
      grid.wall[r * columns.size() + c] = wall;
      if (!wall) grid.any_free = true;
    }
  }
  return grid;
}

world_file_wall world_wall(const cell_grid_world& grid, const map_rect& r) {
  const double x = grid.columns[r.x].begin;
  const double y = grid.rows[r.y].begin;
  return {x, y, grid.columns[r.x + r.width - 1].end - x, grid.rows[r.y + r.height - 1].end - y};
}

// The centre of the largest free cell: the last resort for a map whose free
// space is finer than the free-space cells.
void largest_free_cell(const cell_grid_world& grid, double& x, double& y) {
  double best = -1;
  for (std::size_t r = 0; r < grid.rows.size(); ++r) {
    for (std::size_t c = 0; c < grid.columns.size(); ++c) {
      if (grid.wall[r * grid.columns.size() + c]) continue;
      const double area =
          (grid.columns[c].end - grid.columns[c].begin) * (grid.rows[r].end - grid.rows[r].begin);
      if (area > best) {
        best = area;
        x = (grid.columns[c].begin + grid.columns[c].end) / 2;
        y = (grid.rows[r].begin + grid.rows[r].end) / 2;
      }
    }
  }
}

// In the largest region the robot's disc can travel; failing that, in the
// largest stretch of free space; failing that, in the largest free cell.
void place_robot(const cell_grid_world& grid, map_import& result) {
  world_file_data& world = result.world;
  double x = 0;
  double y = 0;
  const disc_regions robot_space(world.walls, kMapRobotDiameter);
  int region = robot_space.largest();
  if (region >= 0) {
    robot_space.deepest_point(region, x, y);
    result.robot_region_area = robot_space.area(region);
  } else {
    result.robot_fits = false;
    const disc_regions free_space(world.walls, 0.0);
    region = free_space.largest();
    if (region >= 0) {
      free_space.deepest_point(region, x, y);
    } else {
      largest_free_cell(grid, x, y);
    }
  }
  world.x = x;
  world.y = y;
  world.heading = 0.0;
}

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value == 0 ? 0.0 : value);  // no "-0"
  return text;
}

// The bytes of a file of the map; a failure names the YAML file, then what the
// file is ("image m.pgm: "), then the reason.
file_result read_file_for(const std::string& yaml_path, const std::string& what,
                          const std::string& path, std::uintmax_t limit, std::string& bytes) {
  file_result read = read_map_file(path, limit, bytes);
  if (read) return read;
  return with_prefix(yaml_path + ": " + what, read.error());
}

}  // namespace

bool parse_map_settings(std::string_view text, map_settings& s, std::string& reason) {
  YAML::Node root;
  if (!load_yaml(text, root, reason)) return false;
  std::set<std::string> seen;
  if (!check_keys(root, seen, reason)) return false;
  auto bad = [&](const std::string& what) {
    reason = what;
    return false;
  };
  if (!root["image"].IsScalar() || root["image"].Scalar().empty()) {
    return bad("image must name the map's image file");
  }
  s.image = root["image"].Scalar();
  if (s.image.find('\0') != std::string::npos) return bad("image must not hold a zero byte");
  if (!number_of(root["resolution"], s.resolution) || !(s.resolution > 0)) {
    return bad("resolution must be a number above 0");
  }
  const YAML::Node origin = root["origin"];
  if (!origin.IsSequence() || origin.size() != 3 || !number_of(origin[0], s.origin[0]) ||
      !number_of(origin[1], s.origin[1]) || !number_of(origin[2], s.origin[2])) {
    return bad("origin must be three numbers [x, y, yaw]");
  }
  if (!number_of(root["occupied_thresh"], s.occupied_thresh) || s.occupied_thresh < 0 ||
      s.occupied_thresh > 1) {
    return bad("occupied_thresh must be a number from 0 to 1");
  }
  if (!number_of(root["free_thresh"], s.free_thresh) || s.free_thresh < 0 || s.free_thresh > 1) {
    return bad("free_thresh must be a number from 0 to 1");
  }
  if (s.free_thresh > s.occupied_thresh) return bad("free_thresh is above occupied_thresh");
  const std::string negate = root["negate"].IsScalar() ? root["negate"].Scalar() : "";
  if (negate == "0" || negate == "false") {
    s.negate = false;
  } else if (negate == "1" || negate == "true") {
    s.negate = true;
  } else {
    return bad("negate must be 0 or 1");
  }
  if (seen.contains("mode")) {
    const std::string mode = root["mode"].IsScalar() ? root["mode"].Scalar() : "";
    if (mode != "trinary" && mode != "scale") return bad("mode must be trinary or scale");
  }
  return true;
}

bool build_map_world(const map_settings& s, const map_image& image,
                     const map_import_options& options, map_import& result, std::string& reason) {
  result = map_import{};
  result.image_width = image.width;
  result.image_height = image.height;
  result.resolution = s.resolution;
  result.yaw = s.origin[2];
  double u0 = 0, u1 = image.width, v0 = 0, v1 = image.height;
  if (options.region) {
    if (!region_in_pixels(s, image, *options.region, u0, u1, v0, v1, reason)) return false;
    result.region = *options.region;
  } else {
    result.region = {s.origin[0], s.origin[1], s.origin[0] + image.width * s.resolution,
                     s.origin[1] + image.height * s.resolution};
  }
  const double scale = kExtent / std::max(u1 - u0, v1 - v0);  // world units per pixel
  const axis_layout across{u0, u1, image.width, (kExtent - (u1 - u0) * scale) / 2, scale};
  const axis_layout down{v0, v1, image.height, (kExtent - (v1 - v0) * scale) / 2, scale};
  result.metres_per_unit = s.resolution / scale;
  result.origin_x = across.offset - result.region.x0 / result.metres_per_unit;
  result.origin_y = down.offset + result.region.y1 / result.metres_per_unit;
  if (!std::isfinite(result.origin_x) || !std::isfinite(result.origin_y) ||
      !(result.metres_per_unit > 0)) {
    reason = "the map lies too far from its frame's origin for its resolution";
    result = map_import{};
    return false;
  }

  std::vector<pixel_class> pixels(image.level.size());
  for (std::size_t n = 0; n < pixels.size(); ++n) pixels[n] = classify(image, n, s);
  const cell_grid_world grid =
      wall_cells(axis_pieces(across), axis_pieces(down), pixels, image.width, options.unknown);
  if (!grid.any_free) {
    reason = options.region ? "the region has no free pixel to put the robot on"
                            : "the map has no free pixel to put the robot on";
    return false;
  }
  const int columns = static_cast<int>(grid.columns.size());
  const int rows = static_cast<int>(grid.rows.size());
  const std::vector<map_rect> rects = partition_occupied(grid.wall, columns, rows);
  if (rects.size() + 4 > kWorldFileMaxWalls) {
    reason = "the map gives " + std::to_string(rects.size() + 4) +
             " walls, more than a world file holds (" + std::to_string(kWorldFileMaxWalls) + ")";
    return false;
  }
  result.greedy_walls = merge_occupied(grid.wall, columns, rows).size() + 4;
  // The default world's boundary walls, in the order its list holds them.
  result.world.walls = {{kExtent - kMapRim, 0, kMapRim, kExtent},
                        {0, 0, kMapRim, kExtent},
                        {0, kExtent - kMapRim, kExtent, kMapRim},
                        {0, 0, kExtent, kMapRim}};
  for (const map_rect& r : rects) result.world.walls.push_back(world_wall(grid, r));
  result.world.wall_count = static_cast<std::int32_t>(result.world.walls.size());

  for (int r = static_cast<int>(std::floor(std::max(v0, 0.0)));
       r < std::ceil(std::min(v1, double(image.height))); ++r) {
    for (int c = static_cast<int>(std::floor(std::max(u0, 0.0)));
         c < std::ceil(std::min(u1, double(image.width))); ++c) {
      const pixel_class p = pixels[static_cast<std::size_t>(r) * image.width + c];
      if (p == pixel_class::occupied ||
          (p == pixel_class::unknown && options.unknown == unknown_cells::wall)) {
        ++result.occupied_pixels;
      }
    }
  }

  place_robot(grid, result);
  if (result.yaw != 0) {
    result.warnings.push_back("the origin's yaw of " + number(result.yaw) +
                              " radians is ignored: the map is imported without rotation");
  }
  if (!result.robot_fits) {
    result.warnings.push_back("no place in the map has room for the robot (" +
                              number(kMapRobotDiameter) + " units, " +
                              number(kMapRobotDiameter * result.metres_per_unit) +
                              " m across); it starts in the largest stretch of free space");
  }
  return true;
}

file_result import_occupancy_map(const std::string& yaml_path, const map_import_options& options,
                                 map_import& result) {
  result = map_import{};
  std::string text;
  if (file_result read = read_file_for(yaml_path, "", yaml_path, kMaxYamlBytes, text); !read) {
    return read;
  }
  map_settings settings;
  std::string reason;
  if (!parse_map_settings(text, settings, reason)) {
    return content_error(yaml_path, yaml_path + ": " + reason);
  }
  std::filesystem::path image_path = settings.image;
  if (image_path.is_relative()) {
    image_path = std::filesystem::path(yaml_path).parent_path() / image_path;
  }
  const std::string image_name = image_path.string();
  const std::string image_what = "image " + image_name + ": ";
  std::string bytes;
  if (file_result read = read_file_for(yaml_path, image_what, image_name, kMaxImageBytes, bytes);
      !read) {
    return read;
  }
  map_image image;
  if (!decode_map_image(bytes, image, reason)) {
    return content_error(image_name, yaml_path + ": " + image_what + reason);
  }
  bytes = std::string();  // the image's file is not needed any more
  if (!build_map_world(settings, image, options, result, reason)) {
    result = map_import{};
    return content_error(yaml_path, yaml_path + ": " + reason);
  }
  result.image_path = image_name;
  return {};
}

file_result import_occupancy_map(const std::string& yaml_path, world_file_data& world) {
  map_import result;
  file_result imported = import_occupancy_map(yaml_path, map_import_options{}, result);
  world = std::move(result.world);
  return imported;
}

std::string output_overwrites_input(const std::string& output, const std::string& yaml_path,
                                    const map_import& result) {
  struct stat out {};
  if (::stat(output.c_str(), &out) != 0) return {};
  auto same = [&out](const std::string& path) {
    struct stat in {};
    return ::stat(path.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
  };
  if (same(yaml_path)) return "the map's YAML file";
  if (!result.image_path.empty() && same(result.image_path)) return "the map's image";
  return {};
}

std::vector<std::string> describe_map_import(const map_import& r) {
  const double m = r.metres_per_unit;
  const map_region& g = r.region;
  auto metres = [&](double x, double y) {
    return "(" + number((x - r.origin_x) * m) + ", " + number((r.origin_y - y) * m) + ") m";
  };
  std::vector<std::string> lines;
  lines.push_back("image: " + r.image_path + ", " + std::to_string(r.image_width) + " x " +
                  std::to_string(r.image_height) + " pixels of " + number(r.resolution) + " m");
  lines.push_back("region: x " + number(g.x0) + " to " + number(g.x1) + " m, y " + number(g.y0) +
                  " to " + number(g.y1) + " m of the map's frame");
  lines.push_back("scale: 1 world unit is " + number(m) + " m; the robot, " +
                  number(kMapRobotDiameter) + " units across, stands for " +
                  number(kMapRobotDiameter * m) + " m");
  lines.push_back("transform: x = " + number(r.origin_x) + " + X / " + number(m) +
                  ", y = " + number(r.origin_y) + " - Y / " + number(m) +
                  " for a point (X, Y) of the map in metres (the map's y axis points up, the "
                  "world's down)");
  lines.push_back("walls: " + std::to_string(r.world.walls.size()) +
                  ", the fewest rectangles that make up exactly the " +
                  std::to_string(r.occupied_pixels) +
                  " wall pixels and the band outside the map, and the 4 boundary walls (a greedy "
                  "merge makes " +
                  std::to_string(r.greedy_walls) + ")");
  const double x = r.world.x.value_or(0);
  const double y = r.world.y.value_or(0);
  lines.push_back("robot: starts at (" + number(x) + ", " + number(y) + "), " + metres(x, y) +
                  (r.robot_fits ? ", in the largest region it can travel in (" +
                                      number(r.robot_region_area) + " square units)"
                                : ", where it has no room to move"));
  return lines;
}

bool parse_map_region(std::string_view text, map_region& region, std::string& reason) {
  reason = "expected X0,Y0,X1,Y1 in metres, such as -2.5,-2.5,2.5,2.5";
  double values[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    const std::size_t comma = std::min(text.find(','), text.size());
    if ((k < 3) != (comma < text.size())) return false;
    std::string_view part = text.substr(0, comma);
    text.remove_prefix(std::min(comma + 1, text.size()));
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    if (!part.empty() && part.front() == '+') part.remove_prefix(1);
    const char* end = part.data() + part.size();
    const auto [stop, ec] = std::from_chars(part.data(), end, values[k]);
    if (part.empty() || ec != std::errc{} || stop != end || !std::isfinite(values[k])) return false;
  }
  region = {values[0], values[1], values[2], values[3]};
  return check_map_region(region, reason);
}

bool check_map_region(const map_region& region, std::string& reason) {
  if (!std::isfinite(region.x0) || !std::isfinite(region.y0) || !std::isfinite(region.x1) ||
      !std::isfinite(region.y1)) {
    reason = "the region's corners must be finite numbers";
    return false;
  }
  if (!(region.x0 < region.x1) || !(region.y0 < region.y1)) {
    reason = "X0 must be below X1 and Y0 below Y1";
    return false;
  }
  reason.clear();
  return true;
}
