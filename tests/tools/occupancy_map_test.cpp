// The occupancy-map import: the image readers, the greedy merge, the scaling,
// the shipped example maps, and every kind of bad map refused with nothing made.
#include "tools/occupancy_map.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

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
  void write_png(const std::string& name, int w, int h, const std::vector<std::uint8_t>& gray) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_GRAY;
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
  bool import(const std::string& yaml, world_file_data& world, std::string& error) {
    return import_occupancy_map(path(yaml), world, error);
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

TEST_F(OccupancyMapTest, PixelsBecomeWallsScaledToFillTheWorldWithTheAspectKept) {
  // 4 x 2 pixels, plain PGM: black top-left pixel, unknown grey and free white.
  write("m.pgm", "P2\n# a comment\n4 2\n255\n0 205 254 254\n254 254 254 254\n");
  write_yaml("m.yaml", "m.pgm");
  world_file_data world;
  std::string error;
  ASSERT_TRUE(import("m.yaml", world, error)) << error;
  ASSERT_EQ(world.walls.size(), 5u);  // the boundary and one pixel
  // 2.5 units a pixel; the map's 5 units of height centred: rows start at 2.5.
  const world_file_wall& pixel = world.walls[4];
  EXPECT_DOUBLE_EQ(pixel.x, 0.0);
  EXPECT_DOUBLE_EQ(pixel.y, 2.5);
  EXPECT_DOUBLE_EQ(pixel.width, 2.5);
  EXPECT_DOUBLE_EQ(pixel.height, 2.5);
  EXPECT_EQ(*world.wall_count, 5);
  // The robot on a free pixel, not on the unknown one.
  EXPECT_GE(*world.x, 5.0);
  EXPECT_DOUBLE_EQ(*world.heading, 0.0);
}

TEST_F(OccupancyMapTest, NegateAndThresholdsDecideWhatIsAWall) {
  // Brightness 0, 100, 200, 255 in one row, raw 8-bit PGM.
  write("m.pgm", std::string("P5 4 1 255\n") + '\x00' + '\x64' + '\xC8' + '\xFF');
  auto walls_for = [&](const std::string& occupied, const std::string& negate) {
    write_yaml("m.yaml", "m.pgm", "", occupied, "0.1", negate);
    world_file_data world;
    std::string error;
    EXPECT_TRUE(import("m.yaml", world, error)) << error;
    int pixels = 0;
    for (std::size_t n = 4; n < world.walls.size(); ++n) {
      pixels += static_cast<int>(std::lround(world.walls[n].width / 2.5));
    }
    return pixels;
  };
  EXPECT_EQ(walls_for("0.5", "0"), 2);   // p = 1, 0.61: the two dark pixels
  EXPECT_EQ(walls_for("0.65", "0"), 1);  // only p = 1 is above 0.65
  EXPECT_EQ(walls_for("0.5", "1"), 2);   // negated: the two bright pixels
  EXPECT_EQ(walls_for("1", "0"), 0);     // p = 1 is not above 1
}

TEST_F(OccupancyMapTest, SixteenBitPgmAndPngReadAsTheirEightBitForms) {
  write("m16.pgm", std::string("P5 2 1 65535\n") + '\x00' + '\x00' + '\xFF' + '\xFF');
  map_image image;
  std::string error;
  ASSERT_TRUE(read_map_image(path("m16.pgm"), image, error)) << error;
  EXPECT_EQ(image.gray, (std::vector<std::uint8_t>{0, 255}));
  write_png("m.png", 3, 2, {0, 128, 255, 7, 8, 9});
  ASSERT_TRUE(read_map_image(path("m.png"), image, error)) << error;
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.gray, (std::vector<std::uint8_t>{0, 128, 255, 7, 8, 9}));
}

TEST_F(OccupancyMapTest, TheShippedExampleMapsGiveTheShippedWorlds) {
  const fs::path source = ROBOSIM_SOURCE_DIR;
  for (const char* name : {"floor-plan", "cave"}) {
    world_file_data world;
    std::string error;
    ASSERT_TRUE(import_occupancy_map((source / "maps" / (std::string(name) + ".yaml")).string(),
                                     world, error))
        << error;
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
  };
  for (const std::string& yaml : cases) {
    world_file_data world;
    world.walls.push_back({1, 1, 1, 1});
    std::string error;
    EXPECT_FALSE(import(yaml, world, error)) << yaml;
    EXPECT_NE(error.find(dir_.string()), std::string::npos) << yaml << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << yaml << ": " << error;
    EXPECT_TRUE(world.walls.empty()) << yaml;
  }
  {
    world_file_data world;
    std::string error;
    EXPECT_FALSE(import("deep.yaml", world, error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
  }
  // The good map beside them all imports, and so does one of the largest size.
  write("widest.pgm", "P5 4096 1 255\n" + std::string(4096, '\xFE'));
  write_yaml("widest.yaml", "widest.pgm");
  {
    world_file_data widest;
    std::string widest_error;
    EXPECT_TRUE(import("widest.yaml", widest, widest_error)) << widest_error;
  }
  write_yaml("ok.yaml", "ok.pgm");
  world_file_data world;
  std::string error;
  EXPECT_TRUE(import("ok.yaml", world, error)) << error;
}

}  // namespace
