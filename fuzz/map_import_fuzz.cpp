// Fuzz target: an occupancy map through the import, then a few ticks and frames of
// the world it made. An input is the YAML text, a zero byte, then the image's
// bytes (PGM or PNG). Every input must end in a refusal with a message or in a
// world whose walls are exactly the map's wall pixels and the band outside it,
// with the robot on free floor, which the simulation runs without fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/world_file.h"
#include "fuzz_support.h"
#include "tools/occupancy_map.h"

namespace {

constexpr int kTicksPerInput = 4;
// Images up to this many pixels are checked pixel by pixel.
constexpr int kCheckedPixels = 64 * 64;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "map_import_fuzz: %s\n", what);
  std::abort();
}

bool strictly_in_wall(const world_file_data& world, double x, double y) {
  for (const world_file_wall& w : world.walls) {
    if (w.x < x && x < w.x + w.width && w.y < y && y < w.y + w.height) return true;
  }
  return false;
}

void check_world(const map_import& result) {
  const world_file_data& world = result.world;
  if (world.walls.size() > kWorldFileMaxWalls) broken("too many walls");
  if (world.walls.size() > result.greedy_walls) broken("more walls than the greedy merge");
  for (const world_file_wall& w : world.walls) {
    if (!std::isfinite(w.x) || !std::isfinite(w.y) || !(w.width > 0) || !(w.height > 0) ||
        w.x < 0 || w.y < 0 || w.x + w.width > 10 + 1e-9 || w.y + w.height > 10 + 1e-9) {
      broken("a wall outside the world or of no size");
    }
  }
  if (!world.x || !world.y || !(*world.x > 0 && *world.x < 10 && *world.y > 0 && *world.y < 10)) {
    broken("the robot outside the world");
  }
  if (strictly_in_wall(world, *world.x, *world.y)) broken("the robot inside a wall");
  if (!std::isfinite(result.metres_per_unit) || !(result.metres_per_unit > 0) ||
      !std::isfinite(result.origin_x) || !std::isfinite(result.origin_y)) {
    broken("a transform that is not finite");
  }
}

// Each pixel's centre is inside a wall exactly when the pixel is a wall.
void check_pixels(const map_settings& settings, const map_image& image, const map_import& result,
                  unknown_cells unknown) {
  // Far from the frame's origin the world's coordinates of a pixel lose the
  // digits this check needs.
  if (image.width * image.height > kCheckedPixels || std::fabs(settings.origin[0]) > 1e6 ||
      std::fabs(settings.origin[1]) > 1e6 || settings.resolution < 1e-6 ||
      settings.resolution > 1e6) {
    return;
  }
  const double m = result.metres_per_unit;
  for (int r = 0; r < image.height; ++r) {
    for (int c = 0; c < image.width; ++c) {
      const double x = result.origin_x + (settings.origin[0] + (c + 0.5) * settings.resolution) / m;
      const double y = result.origin_y -
                       (settings.origin[1] + (image.height - r - 0.5) * settings.resolution) / m;
      if (x < kMapRim + 1e-6 || x > 10 - kMapRim - 1e-6 || y < kMapRim + 1e-6 ||
          y > 10 - kMapRim - 1e-6) {
        continue;
      }
      const std::size_t n = static_cast<std::size_t>(r) * image.width + c;
      bool wall = unknown == unknown_cells::wall;
      if (image.opaque(n)) {
        const double v = image.brightness(n);
        const double p = settings.negate ? v / 255.0 : (255.0 - v) / 255.0;
        if (p > settings.occupied_thresh) wall = true;
        if (p < settings.free_thresh) wall = false;
      }
      if (strictly_in_wall(result.world, x, y) != wall) broken("a pixel's wall is wrong");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view yaml = input.substr(0, split);
  const std::string_view bytes =
      split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);

  map_settings settings;
  std::string reason;
  if (!parse_map_settings(yaml, settings, reason)) {
    if (reason.empty()) broken("a YAML refusal without a message");
    return 0;
  }
  map_image image;
  if (!decode_map_image(bytes, image, reason)) {
    if (reason.empty()) broken("an image refusal without a message");
    if (!image.level.empty()) broken("a refused image left pixels");
    return 0;
  }
  if (image.level.size() != static_cast<std::size_t>(image.width) * image.height ||
      image.white == 0) {
    broken("the image's pixels do not match its size");
  }
  for (const std::uint32_t level : image.level) {
    if (level != map_image::kTransparent && level > image.white) broken("a level above white");
  }

  // The whole map with unknown cells free or wall, or a region around the middle
  // and beyond one edge, as the input's length says (each import places the
  // robot on a million free-space cells, the slowest part of an input).
  const double w = image.width * settings.resolution;
  const double h = image.height * settings.resolution;
  const double x0 = settings.origin[0];
  const double y0 = settings.origin[1];
  const map_import_options variants[] = {
      {std::nullopt, unknown_cells::free},
      {std::nullopt, unknown_cells::wall},
      {map_region{x0 + w / 3, y0 + h / 4, x0 + w * 1.5, y0 + h / 2}, unknown_cells::free},
  };
  const map_import_options& options = variants[size % 3];
  map_import made;
  if (!build_map_world(settings, image, options, made, reason)) {
    if (reason.empty()) broken("a refusal without a message");
    if (!made.world.walls.empty()) broken("a refusal with walls");
    return 0;
  }
  check_world(made);
  if (!options.region) check_pixels(settings, image, made, options.unknown);

  fuzz::quiet_platform window;
  const std::unique_ptr<simulator> app = fuzz::started_simulator(window);
  world_apply_data(app->sim, made.world);
  app->sim.robot.show_vision = true;
  for (int i = 0; i < kTicksPerInput; ++i) fuzz::tick(*app, window);
  system_shutdown(*app);
  return 0;
}
