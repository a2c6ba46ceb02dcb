// The occupancy-map import: the greedy merge, pixels and the band outside the map
// as walls, the scale and frame, the robot's start, the shipped example maps, and
// every kind of bad map refused with nothing made.
#include "tools/occupancy_map.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../core/file_result_check.h"
#include "tools/free_space.h"

namespace {

namespace fs = std::filesystem;

// Strictly inside some wall.
bool wall_at(const world_file_data& world, double x, double y) {
  for (const world_file_wall& w : world.walls) {
    if (w.x < x && x < w.x + w.width && w.y < y && y < w.y + w.height) return true;
  }
  return false;
}

class OccupancyMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("robosim_maps_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  // Grey, or grey and alpha when the samples are twice the pixels.
  void write_png(const std::string& name, int w, int h, const std::vector<std::uint8_t>& gray) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = gray.size() == 2u * w * h ? PNG_FORMAT_GA : PNG_FORMAT_GRAY;
    ASSERT_NE(png_image_write_to_file(&image, path(name).c_str(), 0, gray.data(), 0, nullptr), 0);
  }
  // A YAML file with the usual keys, one of them replaced or extra lines added.
  void write_yaml(const std::string& name, const std::string& image, const std::string& extra = "",
                  const std::string& occupied = "0.65", const std::string& free = "0.196",
                  const std::string& negate = "0") {
    write(name, "image: " + image + "\nresolution: 0.05\norigin: [0.0, 0.0, 0.0]\n" +
                    "negate: " + negate + "\noccupied_thresh: " + occupied +
                    "\nfree_thresh: " + free + "\n" + extra);
  }
  file_result import(const std::string& yaml, world_file_data& world) {
    return import_occupancy_map(path(yaml), world);
  }
  map_import imported(const std::string& yaml, const map_import_options& options = {}) {
    map_import result;
    EXPECT_TRUE(succeeded(import_occupancy_map(path(yaml), options, result)));
    return result;
  }
  std::string refusal(const std::string& yaml, const map_import_options& options = {}) {
    map_import result;
    const file_result imported = import_occupancy_map(path(yaml), options, result);
    EXPECT_FALSE(imported) << yaml;
    EXPECT_TRUE(result.world.walls.empty()) << yaml;
    return imported.message();
  }

  fs::path dir_;
};

// ---------------------------------------------------------------------------
// Greedy merge

TEST(MergeOccupied, CoversExactlyTheOccupiedCellsWithoutOverlap) {
  std::mt19937 rng(3);
  for (int n = 0; n < 300; ++n) {
    const int w = 1 + static_cast<int>(rng() % 40);
    const int h = 1 + static_cast<int>(rng() % 40);
    const unsigned density = rng() % 100;
    std::vector<char> occupied(static_cast<std::size_t>(w) * h);
    for (auto& c : occupied) c = rng() % 100 < density;
    std::vector<int> covered(occupied.size(), 0);
    for (const map_rect& r : merge_occupied(occupied, w, h)) {
      ASSERT_GT(r.width, 0);
      ASSERT_GT(r.height, 0);
      for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) ++covered[static_cast<std::size_t>(y) * w + x];
    }
    for (std::size_t k = 0; k < occupied.size(); ++k) {
      ASSERT_EQ(covered[k], occupied[k] ? 1 : 0) << "map " << n << " cell " << k;
    }
  }
}

TEST(MergeOccupied, GrowsRightThenDown) {
  // ##.
  // ###
  // The first rectangle is the top row's run grown down: 2 x 2; then the rest.
  const std::vector<char> occupied = {1, 1, 0, 1, 1, 1};
  const auto rects = merge_occupied(occupied, 3, 2);
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0].x, 0);
  EXPECT_EQ(rects[0].width, 2);
  EXPECT_EQ(rects[0].height, 2);
  EXPECT_EQ(rects[1].x, 2);
  EXPECT_EQ(rects[1].y, 1);
  // A full map is one rectangle.
  EXPECT_EQ(merge_occupied(std::vector<char>(12, 1), 4, 3).size(), 1u);
}

// ---------------------------------------------------------------------------
// Maps

TEST_F(OccupancyMapTest, PixelsAndTheBandOutsideTheImageBecomeWalls) {
  // 4 x 2 pixels, plain PGM: black top-left pixel, unknown grey and free white;
  // 2.5 units a pixel, the rows centred from y = 2.5 to 7.5.
  write("m.pgm", "P2\n# a comment\n4 2\n255\n0 205 254 254\n254 254 254 254\n");
  write_yaml("m.yaml", "m.pgm");
  struct point {
    double x;
    double y;
    bool wall_when_free;  // with --unknown free
    bool wall_when_wall;  // with --unknown wall
  };
  const std::vector<point> points = {
      {1.25, 3.75, true, true},    // the black pixel
      {3.75, 3.75, false, true},   // the unknown one
      {6.25, 6.25, false, false},  // free
      {5.0, 1.0, true, true},      // the band above the image ...
      {9.0, 9.0, true, true},      // ... and below it
      {0.02, 5.0, true, true},     // a boundary wall
  };
  for (const unknown_cells unknown : {unknown_cells::free, unknown_cells::wall}) {
    const map_import result = imported("m.yaml", {std::nullopt, unknown});
    const world_file_data& world = result.world;
    for (const point& p : points) {
      const bool expected = unknown == unknown_cells::free ? p.wall_when_free : p.wall_when_wall;
      EXPECT_EQ(wall_at(world, p.x, p.y), expected) << p.x << ", " << p.y;
    }
    EXPECT_EQ(*world.wall_count, static_cast<std::int32_t>(world.walls.size()));
    // The robot stands on the map's free floor.
    EXPECT_FALSE(wall_at(world, *world.x, *world.y));
    EXPECT_GT(*world.y, 2.5);
    EXPECT_LT(*world.y, 7.5);
    EXPECT_DOUBLE_EQ(*world.heading, 0.0);
    EXPECT_EQ(result.occupied_pixels, unknown == unknown_cells::free ? 1u : 2u);
  }
}

TEST_F(OccupancyMapTest, NegateAndThresholdsDecideWhatIsAWall) {
  // Brightness 0, 100, 200, 255 in one row, raw 8-bit PGM: pixel k is centred on
  // x = 1.25 + 2.5 k, y = 5.
  write("m.pgm", std::string("P5 4 1 255\n") + '\x00' + '\x64' + '\xC8' + '\xFF');
  auto walls_for = [&](const std::string& occupied, const std::string& negate) {
    write_yaml("m.yaml", "m.pgm", "", occupied, "0.1", negate);
    world_file_data world;
    EXPECT_TRUE(succeeded(import("m.yaml", world)));
    std::string pixels;
    for (int k = 0; k < 4; ++k) pixels += wall_at(world, 1.25 + 2.5 * k, 5.0) ? '#' : '.';
    return pixels;
  };
  EXPECT_EQ(walls_for("0.5", "0"), "##..");   // p = 1, 0.61: the two dark pixels
  EXPECT_EQ(walls_for("0.65", "0"), "#...");  // only p = 1 is above 0.65
  EXPECT_EQ(walls_for("0.5", "1"), "..##");   // negated: the two bright pixels
  EXPECT_EQ(walls_for("1", "0"), "....");     // p = 1 is not above 1
}

TEST_F(OccupancyMapTest, PixelsNotFullyOpaqueAreUnknown) {
  // Black pixels at alpha 255, 254 and 0 and a white one in a grey-and-alpha PNG.
  write_png("m.png", 4, 1, {0, 255, 0, 254, 0, 0, 255, 255});
  write_yaml("m.yaml", "m.png");
  auto pixels = [&](unknown_cells unknown) {
    const map_import result = imported("m.yaml", {std::nullopt, unknown});
    std::string text;
    for (int k = 0; k < 4; ++k) text += wall_at(result.world, 1.25 + 2.5 * k, 5.0) ? '#' : '.';
    return text;
  };
  EXPECT_EQ(pixels(unknown_cells::free), "#...");
  EXPECT_EQ(pixels(unknown_cells::wall), "###.");
}

TEST_F(OccupancyMapTest, SixteenBitPgmAndPngReadAsStored) {
  write("m16.pgm", std::string("P5 3 1 65535\n") + std::string("\x00\x00\x80\x80\xFF\xFF", 6));
  write_png("m.png", 3, 2, {0, 128, 255, 7, 8, 9});
  for (const auto& [name, expected] : std::vector<std::pair<std::string, std::vector<double>>>{
           {"m16.pgm", {0, 128, 255}}, {"m.png", {0, 128, 255, 7, 8, 9}}}) {
    std::string bytes;
    ASSERT_TRUE(succeeded(read_map_file(path(name), 1 << 20, bytes)));
    map_image image;
    std::string reason;
    ASSERT_TRUE(decode_map_image(bytes, image, reason)) << reason;
    std::vector<double> brightness;
    for (std::size_t n = 0; n < image.level.size(); ++n) brightness.push_back(image.brightness(n));
    EXPECT_EQ(brightness, expected) << name;
  }
}

TEST_F(OccupancyMapTest, TheScaleAndFrameAreKeptAndTold) {
  // 400 x 200 pixels of 5 cm with the map frame's origin in the middle; one
  // black pixel whose lower-left corner is at X = 2.5 m, Y = 1.25 m.
  std::string pgm = "P5 400 200 255\n" + std::string(400 * 200, '\xFE');
  const long column = std::lround((2.5 + 10) / 0.05);
  const long row = 200 - 1 - std::lround((1.25 + 5) / 0.05);
  pgm[pgm.size() - 400 * 200 + row * 400 + column] = '\0';
  write("m.pgm", pgm);
  write("m.yaml",
        "image: m.pgm\nresolution: 0.05\norigin: [-10.0, -5.0, 0.0]\nnegate: 0\n"
        "occupied_thresh: 0.65\nfree_thresh: 0.196\n");
  struct view {
    std::optional<map_region> region;
    double metres_per_unit;
    double origin_x;
    double origin_y;
  };
  const std::vector<view> views = {
      {std::nullopt, 2.0, 5.0, 5.0},         // 20 m across the 10 units, centred
      {map_region{0, 0, 5, 5}, 0.5, 0, 10},  // a region 5 m across
      {map_region{2, -1, 4, 3}, 0.4, 2.5 - 2 / 0.4, 3 / 0.4},
  };
  for (const view& v : views) {
    const map_import result = imported("m.yaml", {v.region, unknown_cells::free});
    EXPECT_DOUBLE_EQ(result.metres_per_unit, v.metres_per_unit);
    EXPECT_NEAR(result.origin_x, v.origin_x, 1e-12);
    EXPECT_NEAR(result.origin_y, v.origin_y, 1e-12);
    EXPECT_TRUE(result.warnings.empty());
    // The black pixel is where the transform puts it, and nothing around it.
    const double m = result.metres_per_unit;
    const double x = result.origin_x + 2.525 / m;
    const double y = result.origin_y - 1.275 / m;
    EXPECT_TRUE(wall_at(result.world, x, y)) << x << ", " << y;
    EXPECT_FALSE(wall_at(result.world, x + 0.05 / m, y)) << x << ", " << y;
    EXPECT_FALSE(wall_at(result.world, x, y - 0.05 / m)) << x << ", " << y;
  }
  // The lines the runner prints give the same numbers.
  const std::vector<std::string> lines = describe_map_import(imported("m.yaml"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "region: x -10 to 10 m, y -5 to 5 m of the map's frame");
  EXPECT_EQ(lines[2], "scale: 1 world unit is 2 m; the robot, 0.5 units across, stands for 1 m");
  EXPECT_EQ(lines[3].substr(0, 34), "transform: x = 5 + X / 2, y = 5 - ");
}

TEST_F(OccupancyMapTest, ARegionBeyondTheImageIsWallThereAndOneOutsideIsRefused) {
  write("m.pgm", "P5 10 10 255\n" + std::string(100, '\xFE'));  // 0.5 x 0.5 m, all free
  write_yaml("m.yaml", "m.pgm");
  // Twice the image across: its left half is the image, its right half wall.
  const map_import result = imported("m.yaml", {map_region{0, 0, 1, 0.5}, unknown_cells::free});
  EXPECT_FALSE(wall_at(result.world, 2.5, 5.0));
  EXPECT_TRUE(wall_at(result.world, 7.5, 5.0));
  EXPECT_TRUE(wall_at(result.world, 2.5, 1.0));  // the band below the region's height
  for (const map_region& outside : {map_region{1, 0, 2, 1}, map_region{-3, -3, -1, -1}}) {
    EXPECT_NE(refusal("m.yaml", {outside, unknown_cells::free}).find("holds no part of the image"),
              std::string::npos);
  }
  EXPECT_NE(refusal("m.yaml", {map_region{0, 0, 1e6, 1}, unknown_cells::free})
                .find("larger than 65536 pixels"),
            std::string::npos);
}

TEST_F(OccupancyMapTest, AYawIsWarnedOfAndNotApplied) {
  write("m.pgm", "P2 2 2 255 0 254 254 254\n");
  write("m.yaml",
        "image: m.pgm\nresolution: 0.05\norigin: [0.0, 0.0, 0.5]\nnegate: 0\n"
        "occupied_thresh: 0.65\nfree_thresh: 0.196\n");
  const map_import result = imported("m.yaml");
  ASSERT_EQ(result.warnings.size(), 1u);
  EXPECT_EQ(result.warnings[0],
            "the origin's yaw of 0.5 radians is ignored: the map is imported without rotation");
  EXPECT_TRUE(wall_at(result.world, 2.5, 2.5));  // the black pixel still at the top left
}

TEST_F(OccupancyMapTest, TheRobotStartsInTheLargestRegionItCanTravelInNotInAPocket) {
  // 100 x 100 pixels of 0.1 units: a closed room 12 pixels wide (the farthest
  // pixel from any wall) and a long open hall 9 pixels wide, walls 1 pixel thick.
  std::vector<std::uint8_t> pixels(100 * 100, 0);
  auto clear = [&](int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) pixels[y * 100 + x] = 254;
  };
  clear(5, 5, 17, 17);   // the room
  clear(5, 30, 95, 39);  // the hall
  write_png("m.png", 100, 100, pixels);
  write_yaml("m.yaml", "m.png");
  const map_import result = imported("m.yaml");
  const double x = *result.world.x;
  const double y = *result.world.y;
  EXPECT_GT(x, 0.5);
  EXPECT_LT(x, 9.5);
  EXPECT_GT(y, 3.0);
  EXPECT_LT(y, 3.9);
  EXPECT_TRUE(result.robot_fits);
  const disc_regions regions(result.world.walls, kMapRobotDiameter);
  EXPECT_EQ(regions.region_at(x, y), regions.largest());
  EXPECT_EQ(regions.count(), 2);
  EXPECT_NEAR(result.robot_region_area, regions.area(regions.largest()), 1e-12);

  // Where the disc fits nowhere, it is said, and the robot still stands on free floor.
  clear(0, 0, 100, 100);
  for (int k = 3; k < 100; k += 4) {
    for (int j = 0; j < 100; ++j) pixels[j * 100 + k] = 0;
  }
  write_png("narrow.png", 100, 100, pixels);
  write_yaml("narrow.yaml", "narrow.png");
  const map_import narrow = imported("narrow.yaml");
  EXPECT_FALSE(narrow.robot_fits);
  ASSERT_EQ(narrow.warnings.size(), 1u);
  EXPECT_NE(narrow.warnings[0].find("no place in the map has room for the robot"),
            std::string::npos);
  EXPECT_FALSE(wall_at(narrow.world, *narrow.world.x, *narrow.world.y));
}

TEST_F(OccupancyMapTest, AnOutputThatIsOneOfTheInputsIsNamed) {
  write("m.pgm", "P2 2 2 255 0 254 254 254\n");
  write_yaml("m.yaml", "m.pgm");
  const map_import result = imported("m.yaml");
  fs::create_symlink("m.pgm", dir_ / "link.pgm");
  fs::create_hard_link(dir_ / "m.yaml", dir_ / "hard.yaml");
  fs::create_directories(dir_ / "sub");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"m.pgm", "the map's image"},
      {"link.pgm", "the map's image"},
      {"sub/../m.pgm", "the map's image"},
      {"m.yaml", "the map's YAML file"},
      {"hard.yaml", "the map's YAML file"},
      {"other.dat", ""},
      {"sub", ""},
  };
  for (const auto& [output, expected] : cases) {
    EXPECT_EQ(output_overwrites_input(path(output), path("m.yaml"), result), expected) << output;
  }
}

TEST_F(OccupancyMapTest, TheShippedExampleMapsGiveTheShippedWorlds) {
  const fs::path source = ROBOSIM_SOURCE_DIR;
  for (const char* name : {"floor-plan", "cave", "warehouse"}) {
    world_file_data world;
    ASSERT_TRUE(succeeded(
        import_occupancy_map((source / "maps" / (std::string(name) + ".yaml")).string(), world)));
    world_file_data shipped;
    std::ifstream in(source / "worlds" / (std::string(name) + ".dat"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    world_file_error parse_error;
    ASSERT_TRUE(world_parse_text(text, shipped, parse_error)) << parse_error.message;
    // The file lists the walls newest first, the import oldest first.
    ASSERT_EQ(shipped.walls.size(), world.walls.size()) << name;
    for (std::size_t n = 0; n < world.walls.size(); ++n) {
      const auto& a = world.walls[n];
      const auto& b = shipped.walls[shipped.walls.size() - 1 - n];
      ASSERT_NEAR(a.x, b.x, 5e-7) << name << " wall " << n;
      ASSERT_NEAR(a.y, b.y, 5e-7) << name << " wall " << n;
      ASSERT_NEAR(a.width, b.width, 5e-7) << name << " wall " << n;
      ASSERT_NEAR(a.height, b.height, 5e-7) << name << " wall " << n;
    }
    EXPECT_GT(world.walls.size(), 20u) << name;
  }
}

TEST_F(OccupancyMapTest, TheShippedMapsWallsAreExactlyTheirBlackPixels) {
  // The example maps hold only black (wall), 205 (unknown) and 254 (free).
  const fs::path source = ROBOSIM_SOURCE_DIR;
  for (const char* name : {"floor-plan", "cave", "warehouse"}) {
    const fs::path yaml = source / "maps" / (std::string(name) + ".yaml");
    map_import result;
    ASSERT_TRUE(succeeded(import_occupancy_map(yaml.string(), {}, result)));
    std::string bytes;
    ASSERT_TRUE(succeeded(read_map_file(result.image_path, 1 << 24, bytes)));
    map_image image;
    std::string reason;
    ASSERT_TRUE(decode_map_image(bytes, image, reason)) << reason;
    const double m = result.metres_per_unit;
    const double resolution = result.resolution;
    std::size_t wrong = 0;
    for (int r = 0; r < image.height; ++r) {
      for (int c = 0; c < image.width; ++c) {
        // The pixel's centre in the map's frame, then in the world.
        const double x = result.origin_x + (result.region.x0 + (c + 0.5) * resolution) / m;
        const double y = result.origin_y - (result.region.y1 - (r + 0.5) * resolution) / m;
        if (x < kMapRim || x > 10 - kMapRim || y < kMapRim || y > 10 - kMapRim) continue;
        const bool black = image.level[static_cast<std::size_t>(r) * image.width + c] == 0;
        wrong += wall_at(result.world, x, y) != black;
      }
    }
    EXPECT_EQ(wrong, 0u) << name;
    EXPECT_LE(result.world.walls.size(), result.greedy_walls) << name;
  }
}

TEST_F(OccupancyMapTest, FilesThatCannotBeReadAreToldApartByWhatTheSystemSays) {
  write("ok.pgm", "P2 2 2 255 0 254 254 254\n");
  write_yaml("ok.yaml", "ok.pgm");
  fs::create_directories(dir_ / "folder.pgm");
  fs::create_directories(dir_ / "folder.yaml");
  ASSERT_EQ(::mkfifo(path("fifo.pgm").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(path("fifo.yaml").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir_ / "zero.pgm");
  fs::create_symlink("/dev/null", dir_ / "null.yaml");
  for (const char* image : {"folder.pgm", "fifo.pgm", "zero.pgm", "missing.pgm"}) {
    write_yaml(std::string("uses-") + image + ".yaml", image);
  }
  struct refusal_case {
    std::string yaml;
    std::string message;  // after the YAML file's name
    int error_number;
  };
  const std::vector<refusal_case> cases = {
      {"folder.yaml", ": Is a directory", EISDIR},
      {"fifo.yaml", ": not a regular file but a named pipe (FIFO)", 0},
      {"null.yaml", ": not a regular file but a character device", 0},
      {"missing.yaml", ": No such file or directory", ENOENT},
      {"uses-folder.pgm.yaml", ": image " + path("folder.pgm") + ": Is a directory", EISDIR},
      {"uses-fifo.pgm.yaml",
       ": image " + path("fifo.pgm") + ": not a regular file but a named pipe (FIFO)", 0},
      {"uses-zero.pgm.yaml",
       ": image " + path("zero.pgm") + ": not a regular file but a character device", 0},
      {"uses-missing.pgm.yaml", ": image " + path("missing.pgm") + ": No such file or directory",
       ENOENT},
  };
  for (const refusal_case& c : cases) {
    map_import result;
    const file_result imported = import_occupancy_map(path(c.yaml), {}, result);
    EXPECT_EQ(failure_of(imported), path(c.yaml) + c.message);
    EXPECT_EQ(imported.error().kind, file_error_kind::file_system) << c.yaml;
    EXPECT_EQ(imported.error().error_number, c.error_number) << c.yaml;
  }
}

TEST_F(OccupancyMapTest, BadMapsAreRefusedWithAMessageAndNothingMade) {
  write("ok.pgm", "P2 2 2 255 0 254 254 254\n");
  write("empty.pgm", "P5 0 0 255\n");
  write("huge.pgm", "P5 4097 10 255\n" + std::string(4097 * 10, '\xFE'));
  write("short.pgm", "P5 4 4 255\nab");
  write("over.pgm", "P2 2 1 100 50 101\n");
  write("badmax.pgm", "P2 1 1 0 0\n");
  write("words.pgm", "P2 two 2 255\n");
  write("all-black.pgm", "P2 2 1 255 0 0\n");
  write("text.png", "not an image at all");
  std::vector<std::uint8_t> pixels(64, 254);
  write_png("whole.png", 8, 8, pixels);
  {
    std::ifstream in(path("whole.png"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    write("cut.png", bytes.substr(0, bytes.size() / 2));
  }
  write("scalar.yaml", "just a line\n");
  write("broken.yaml", "image: [ok.pgm\nresolution: 0.05\n");
  write("deep.yaml", "image: " + std::string(100000, '[') + "\n");
  // Aliases that would expand to 10^9 entries, and a file above 1 MiB.
  std::string bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  for (char level = 'b'; level <= 'i'; ++level) {
    bomb += std::string(1, level) + ": &" + level + " [";
    for (int k = 0; k < 10; ++k) bomb += std::string(k ? ", *" : "*") + char(level - 1);
    bomb += "]\n";
  }
  write("bomb.yaml", bomb + "image: *i\n");
  write("huge.yaml", "image: ok.pgm\n#" + std::string(1 << 20, 'x') + "\n");
  write_yaml("unknown-key.yaml", "ok.pgm", "colour: blue\n");
  write_yaml("no-image-file.yaml", "missing.pgm");
  write_yaml("occupied-high.yaml", "ok.pgm", "", "1.5");
  write_yaml("free-negative.yaml", "ok.pgm", "", "0.65", "-0.1");
  write_yaml("free-above.yaml", "ok.pgm", "", "0.3", "0.6");
  write_yaml("negate-two.yaml", "ok.pgm", "", "0.65", "0.196", "2");
  write_yaml("threshold-word.yaml", "ok.pgm", "", "high");
  write_yaml("raw-mode.yaml", "ok.pgm", "mode: raw\n");
  write("no-image-key.yaml",
        "resolution: 0.05\norigin: [0, 0, 0]\nnegate: 0\noccupied_thresh: 0.65\n"
        "free_thresh: 0.196\n");
  write("bad-resolution.yaml",
        "image: ok.pgm\nresolution: 0\norigin: [0, 0, 0]\nnegate: 0\noccupied_thresh: 0.65\n"
        "free_thresh: 0.196\n");
  write("bad-origin.yaml",
        "image: ok.pgm\nresolution: 0.05\norigin: [0, 0]\nnegate: 0\noccupied_thresh: 0.65\n"
        "free_thresh: 0.196\n");
  for (const char* image : {"empty.pgm", "huge.pgm", "short.pgm", "over.pgm", "badmax.pgm",
                            "words.pgm", "text.png", "cut.png", "all-black.pgm"}) {
    write_yaml(std::string(image) + ".yaml", image);
  }
  const std::vector<std::string> cases = {
      "missing.yaml",        "scalar.yaml",         "broken.yaml",        "unknown-key.yaml",
      "no-image-file.yaml",  "occupied-high.yaml",  "free-negative.yaml", "free-above.yaml",
      "negate-two.yaml",     "threshold-word.yaml", "raw-mode.yaml",      "no-image-key.yaml",
      "bad-resolution.yaml", "bad-origin.yaml",     "empty.pgm.yaml",     "huge.pgm.yaml",
      "short.pgm.yaml",      "over.pgm.yaml",       "badmax.pgm.yaml",    "words.pgm.yaml",
      "text.png.yaml",       "cut.png.yaml",        "all-black.pgm.yaml", "deep.yaml",
      "bomb.yaml",           "huge.yaml",
  };
  for (const std::string& yaml : cases) {
    world_file_data world;
    world.walls.push_back({1, 1, 1, 1});
    const file_result imported = import(yaml, world);
    const std::string error = failure_of(imported);
    // The content's fault, but for a file that is missing or too large to read.
    const bool file_fault =
        yaml == "missing.yaml" || yaml == "no-image-file.yaml" || yaml == "huge.yaml";
    EXPECT_EQ(imported.error().kind,
              file_fault ? file_error_kind::file_system : file_error_kind::content)
        << yaml << ": " << error;
    EXPECT_EQ(imported.error().error_number, yaml.starts_with("huge") || !file_fault ? 0 : ENOENT)
        << yaml;
    EXPECT_NE(error.find(dir_.string()), std::string::npos) << yaml << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << yaml << ": " << error;
    EXPECT_TRUE(world.walls.empty()) << yaml;
  }
  {
    world_file_data world;
    const std::string error = failure_of(import("deep.yaml", world));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
  }
  // A key given twice is named: the second value would never have been checked.
  write_yaml("twice.yaml", "ok.pgm", "resolution: -1\n");
  EXPECT_EQ(refusal("twice.yaml"), path("twice.yaml") + ": the key 'resolution' is given twice");
  // The good map beside them all imports, and so does one of the largest size.
  write("widest.pgm", "P5 4096 1 255\n" + std::string(4096, '\xFE'));
  write_yaml("widest.yaml", "widest.pgm");
  {
    world_file_data widest;
    EXPECT_TRUE(succeeded(import("widest.yaml", widest)));
  }
  write_yaml("ok.yaml", "ok.pgm");
  world_file_data world;
  EXPECT_TRUE(succeeded(import("ok.yaml", world)));
}

}  // namespace
