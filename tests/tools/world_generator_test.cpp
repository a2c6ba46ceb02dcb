// The generator: reproducible worlds of the promised shape, a start the robot can
// move from, and clear refusals; the free-space regions it is checked with.
#include "tools/world_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../core/file_result_check.h"
#include "tools/free_space.h"

namespace {

bool inside(const world_file_wall& w, double x, double y) {
  return w.x <= x && x <= w.x + w.width && w.y <= y && y <= w.y + w.height;
}

bool same_world(const world_file_data& a, const world_file_data& b) {
  if (a.x != b.x || a.y != b.y || a.heading != b.heading || a.walls.size() != b.walls.size()) {
    return false;
  }
  for (std::size_t n = 0; n < a.walls.size(); ++n) {
    const auto& p = a.walls[n];
    const auto& q = b.walls[n];
    if (p.x != q.x || p.y != q.y || p.width != q.width || p.height != q.height) return false;
  }
  return true;
}

world_file_data made(const std::string& description) {
  world_file_data world;
  std::string error;
  EXPECT_TRUE(generate_world(description, world, error)) << description << ": " << error;
  return world;
}

TEST(Splitmix64, GivesTheReferenceSequence) {
  // The first outputs of splitmix64 seeded with 1234567, as published with it.
  splitmix64 random(1234567);
  EXPECT_EQ(random.next(), 6457827717110365317ULL);
  EXPECT_EQ(random.next(), 3203168211198807973ULL);
  EXPECT_EQ(random.next(), 9817491932198370423ULL);
  for (int n = 0; n < 1000; ++n) {
    const double u = random.unit();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    ASSERT_LT(random.below(7), 7u);
  }
}

TEST(WorldGenerator, TheSameTextGivesTheSameWorldAndAnotherSeedAnother) {
  for (const std::string kind : {"maze:12x9:", "pillars:500:"}) {
    EXPECT_TRUE(same_world(made(kind + "3"), made(kind + "3"))) << kind;
    EXPECT_FALSE(same_world(made(kind + "3"), made(kind + "4"))) << kind;
  }
}

TEST(WorldGenerator, AMazeIsPerfect) {
  // Inner walls are runs of cell edges (each run is t longer than its edges). A
  // perfect maze of C x R cells opens exactly C R - 1 of the inner edges.
  for (const auto& [c, r] : {std::pair{1, 1}, {2, 1}, {1, 6}, {8, 8}, {30, 17}, {300, 300}}) {
    const std::string description = "maze:" + std::to_string(c) + "x" + std::to_string(r) + ":9";
    const world_file_data w = made(description);
    ASSERT_GE(w.walls.size(), 4u) << description;
    const double cw = 9.9 / c;
    const double ch = 9.9 / r;
    const double t = std::min(0.05, 0.2 * std::min(cw, ch));
    double edges = 0;
    for (std::size_t n = 4; n < w.walls.size(); ++n) {
      const auto& wall = w.walls[n];
      edges += wall.width > wall.height ? (wall.width - t) / cw : (wall.height - t) / ch;
    }
    const double inner_edges = (c - 1.0) * r + (r - 1.0) * c;
    EXPECT_NEAR(edges, inner_edges - (c * r - 1.0), 1e-6) << description;
    EXPECT_EQ(*w.wall_count, static_cast<int>(w.walls.size()));
    // The robot in the first cell's centre, clear of every wall.
    for (const auto& wall : w.walls) EXPECT_FALSE(inside(wall, *w.x, *w.y)) << description;
  }
}

TEST(WorldGenerator, PillarsLieInTheirFieldsAndLeaveTheRobotFree) {
  for (int count : {1, 16, 2000, 99996}) {
    const world_file_data w = made("pillars:" + std::to_string(count) + ":5");
    ASSERT_EQ(w.walls.size(), static_cast<std::size_t>(count) + 4);
    const double tile = 9.9 / 4;
    for (std::size_t n = 4; n < w.walls.size(); ++n) {
      const auto& p = w.walls[n];
      const double cx = p.x + p.width / 2 - 0.05;
      const double cy = p.y + p.height / 2 - 0.05;
      const double fx = std::fmod(cx, tile) - tile / 2;  // from the field's centre
      const double fy = std::fmod(cy, tile) - tile / 2;
      ASSERT_LE(std::fabs(fx) + p.width / 2, 0.6 + 1e-9) << count;
      ASSERT_LE(std::fabs(fy) + p.height / 2, 0.6 + 1e-9) << count;
      ASSERT_GT(p.width, 0);
      ASSERT_LE(p.width, 0.3);
      ASSERT_FALSE(inside(p, *w.x, *w.y));
    }
    EXPECT_NEAR(*w.x, 5.0, 1e-12);
    EXPECT_GE(*w.heading, 0.0);
    EXPECT_LT(*w.heading, 6.283185307179586);
  }
}

// The generator cannot box the robot in: wherever its disc fits at all, it
// starts in the largest region the disc can travel in (the pillars leave the
// lanes between their fields clear; a perfect maze joins every cell, and where
// its corridors are narrower than the robot no region exists).
TEST(WorldGenerator, TheRobotStartsInTheLargestRegionItCanTravelIn) {
  std::vector<std::string> descriptions;
  for (int seed = 1; seed <= 6; ++seed) {
    for (const int count : {1, 40, 400, 3000, 20000}) {
      descriptions.push_back("pillars:" + std::to_string(count) + ":" + std::to_string(seed));
    }
    for (const char* size : {"1x1", "2x7", "8x8", "15x15", "17x12"}) {
      descriptions.push_back("maze:" + std::string(size) + ":" + std::to_string(seed));
    }
  }
  for (const std::string& description : descriptions) {
    const world_file_data w = made(description);
    const disc_regions regions(w.walls, 0.5);
    ASSERT_GE(regions.largest(), 0) << description;
    EXPECT_EQ(regions.region_at(*w.x, *w.y), regions.largest())
        << description << " at " << *w.x << ", " << *w.y;
  }
  // Corridors of 0.33 leave the disc no room at all.
  EXPECT_EQ(disc_regions(made("maze:30x30:1").walls, 0.5).largest(), -1);
}

// A wall across the world with a gap: one region when the gap is wider than the
// disc, two when it is narrower; none where the disc fits nowhere.
TEST(DiscRegions, AGapJoinsTheTwoSidesOnlyWhenTheDiscFitsThrough) {
  struct gap_case {
    double gap;
    double diameter;
    int regions;
  };
  for (const gap_case& c : {gap_case{0.6, 0.5, 1}, gap_case{0.45, 0.5, 2}, gap_case{0.2, 0.1, 1},
                            gap_case{0.05, 0.1, 2}, gap_case{0.6, 9.95, 0}}) {
    const std::vector<world_file_wall> walls = {{0, 4.9, 5 - c.gap / 2, 0.2},
                                                {5 + c.gap / 2, 4.9, 5 - c.gap / 2, 0.2}};
    const disc_regions regions(walls, c.diameter);
    EXPECT_EQ(regions.count(), c.regions) << c.gap << " " << c.diameter;
    if (c.regions == 0) continue;
    EXPECT_GE(regions.region_at(5, 2), 0);
    EXPECT_EQ(regions.region_at(5, 2) == regions.region_at(5, 8), c.regions == 1) << c.gap;
    EXPECT_EQ(regions.region_at(5, 5), c.regions == 1 ? regions.region_at(5, 2) : -1) << c.gap;
  }
}

TEST(WorldGenerator, RefusesTextItDoesNotKnowOrLimitsItDoesNotKeep) {
  for (const char* description :
       {"", "maze", "maze:8x8", "maze:8x8:", "maze:0x5:1", "maze:5x0:1", "maze:301x2:1",
        "maze:8*8:1", "maze:8x8:1:2", "maze: 8x8:1", "pillars:0:1", "pillars:99997:1",
        "pillars:abc:1", "pillars:10:-1", "pillars:10:18446744073709551616", "pillars:-3:1",
        "rooms:5:1", "PILLARS:5:1"}) {
    world_file_data world;
    world.walls.push_back({1, 1, 1, 1});
    std::string error;
    EXPECT_FALSE(generate_world(description, world, error)) << description;
    EXPECT_FALSE(error.empty()) << description;
    EXPECT_TRUE(world.walls.empty()) << description;
  }
}

}  // namespace

namespace {

// The generator's own random numbers make these files on every run and machine;
// a change here changes every sweep made from a description.
TEST(WorldGenerator, DescriptionsGiveTheSameFilesEverywhere) {
  const std::pair<const char*, const char*> expected[] = {
      {"maze:3x2:7",
       "1.700000\n2.525000\n0.000000\n6\n3.325000 4.975000 3.350000 0.050000\n"
       "3.325000 0.025000 0.050000 5.000000\n0.000000 0.000000 10.000000 0.050000\n"
       "0.000000 9.950000 10.000000 0.050000\n0.000000 0.000000 0.050000 10.000000\n"
       "9.950000 0.000000 0.050000 10.000000\n"},
      {"pillars:3:1",
       "5.000000\n5.000000\n5.512544\n7\n6.037338 1.374105 0.300000 0.300000\n"
       "4.036402 1.087423 0.300000 0.300000\n1.197405 1.358704 0.300000 0.300000\n"
       "0.000000 0.000000 10.000000 0.050000\n0.000000 9.950000 10.000000 0.050000\n"
       "0.000000 0.000000 0.050000 10.000000\n9.950000 0.000000 0.050000 10.000000\n"}};
  for (const auto& [description, text] : expected) {
    world_file_data world;
    std::string error;
    ASSERT_TRUE(generate_world(description, world, error)) << description << ": " << error;
    std::string made;
    ASSERT_TRUE(succeeded(world_data_to_text(world, made)));
    EXPECT_EQ(made, text) << description;
  }
}

}  // namespace
