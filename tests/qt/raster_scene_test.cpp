// The whole scene (lattice, walls, target, waypoints, robot with its vision) drawn
// through the plain rasteriser and through the window's QImage context must give
// the same pixels at every size, down to 1 x 1; and a copy of the window's image
// keeps its frame while the context draws on.
#include <gtest/gtest.h>

#include <QImage>
#include <set>
#include <string>
#include <utility>

#include "../core/test_support.h"
#include "core/world_file.h"
#include "draw/raster_context.h"
#include "draw/world_draw.h"
#include "qtdraw/qimage_context.h"

namespace {

class RasterSceneTest : public SimulationTest {
 protected:
  // The maze after a few hundred ticks: impacts, a planned path, touched sensors,
  // seen walls; everything that can be drawn switched on.
  void SetUp() override {
    SimulationTest::SetUp();
    ASSERT_TRUE(
        succeeded(world_read_file(sim, std::string(ROBOSIM_SOURCE_DIR) + "/worlds/maze.dat")));
    for (int tick = 0; tick < 400; ++tick) {
      advance_simulated_clock(sim, 0.01);
      world_update(sim);
    }
    world.show_grad = 1;
    world.show_walls = 1;
    robot.show_vision = 1;
    robot.sensor_hit[1] = true;  // one red sensor disc whatever the run did
    ASSERT_GT(world.num_waypoints, 0);
  }

  // Every pixel of both pictures equal; returns the number of distinct colours.
  static std::size_t expect_same_pixels(const raster_context& plain, const qimage_context& qt) {
    EXPECT_EQ(plain.width(), qt.width());
    EXPECT_EQ(plain.height(), qt.height());
    std::set<std::uint32_t> colours;
    if (plain.width() != qt.width() || plain.height() != qt.height()) return 0;
    for (int y = 0; y < plain.height(); ++y)
      for (int x = 0; x < plain.width(); ++x) {
        const QRgb shown = qt.image().pixel(x, y);
        if (plain.pixel(x, y) != shown) {
          ADD_FAILURE() << "pixel " << x << "," << y << " of " << plain.width() << " x "
                        << plain.height() << ": " << std::hex << plain.pixel(x, y) << " against "
                        << shown;
          return colours.size();
        }
        colours.insert(shown);
      }
    return colours.size();
  }
};

TEST_F(RasterSceneTest, BothContextsDrawTheSamePixelsAtEverySize) {
  const std::pair<int, int> sizes[] = {{1, 1},     {1, 2},     {2, 1},     {3, 3},
                                       {7, 5},     {74, 75},   {75, 74},   {151, 97},
                                       {640, 480}, {641, 479}, {1279, 961}};
  for (const auto& [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    sim.display_x = w;
    sim.display_y = h;
    raster_context plain(w, h);
    qimage_context qt(w, h);
    world_draw(sim, plain);
    world_draw(sim, qt);
    const std::size_t colours = expect_same_pixels(plain, qt);
    // A real scene at a readable size: background, lattice shades, walls, discs.
    if (w >= 640) {
      EXPECT_GT(colours, 20u);
    }
  }
}

TEST_F(RasterSceneTest, WithTheLatticeHiddenToo) {
  world.show_grad = 0;
  sim.display_x = 640;
  sim.display_y = 480;
  raster_context plain(640, 480);
  qimage_context qt(640, 480);
  world_draw(sim, plain);
  world_draw(sim, qt);
  EXPECT_GE(expect_same_pixels(plain, qt), 5u);  // white, wall, green, red, black, ...
}

TEST_F(RasterSceneTest, ACopyOfTheImageKeepsItsFrame) {
  sim.display_x = 200;
  sim.display_y = 150;
  qimage_context qt(200, 150);
  world_draw(sim, qt);
  const QImage frame = qt.image();  // shares the pixels until the next shape
  const QImage before = frame.copy();

  world.show_grad = 0;
  world_draw(sim, qt);
  EXPECT_EQ(frame, before);
  EXPECT_NE(qt.image(), before);  // the context drew the new frame into its own image
  raster_context plain(200, 150);
  world_draw(sim, plain);
  expect_same_pixels(plain, qt);
}

}  // namespace
