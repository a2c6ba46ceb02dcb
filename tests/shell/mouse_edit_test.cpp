// Wall dragging and target placing with the mouse, at a 640 x 480 client area.
#include "shell/mouse_edit.h"

#include <cmath>

#include "../core/test_support.h"

namespace {

// The fixture's simulation_reset() lets go of both buttons.
class MouseEditTest : public SimulationTest {};

TEST_F(MouseEditTest, ClickLeavesAZeroSizedWallAtThePointer) {
  mouse_down(app, 320, 240);
  mouse_up(app, 320, 240);
  ASSERT_EQ(world.num_walls, 5);
  EXPECT_DOUBLE_EQ(world.walls->x, 5.0);
  EXPECT_DOUBLE_EQ(world.walls->y, 5.0);
  EXPECT_EQ(world.walls->width, 0.0);
  EXPECT_EQ(world.walls->height, 0.0);
  // A double click is two presses: two walls.
  mouse_down(app, 64, 48);
  mouse_up(app, 64, 48);
  EXPECT_EQ(world.num_walls, 6);
}

TEST_F(MouseEditTest, DragOpensTheWallRightAndDownOnly) {
  mouse_down(app, 320, 240);
  mouse_move(app, 384, 288);
  EXPECT_DOUBLE_EQ(world.walls->width, 1.0);
  EXPECT_DOUBLE_EQ(world.walls->height, 1.0);
  // Left of or above the corner: ignored, the last extent stays.
  mouse_move(app, 300, 300);
  mouse_move(app, 400, 200);
  EXPECT_DOUBLE_EQ(world.walls->width, 1.0);
  EXPECT_DOUBLE_EQ(world.walls->height, 1.0);
  // Back to the right of and below it: the drag resumes, down to zero on it.
  mouse_move(app, 448, 336);
  EXPECT_DOUBLE_EQ(world.walls->width, 2.0);
  EXPECT_DOUBLE_EQ(world.walls->height, 2.0);
  mouse_move(app, 320, 240);
  EXPECT_EQ(world.walls->width, 0.0);
  mouse_up(app, 320, 240);
  EXPECT_FALSE(app.mouse.mouse_is_down);
  EXPECT_EQ(world.num_walls, 5);
}

TEST_F(MouseEditTest, MovesAfterTheReleaseNoLongerResizeTheWall) {
  mouse_down(app, 320, 240);
  mouse_move(app, 384, 288);
  // Released outside the window: the captured mouse still reports it.
  mouse_up(app, -50, 900);
  mouse_move(app, 448, 336);
  EXPECT_DOUBLE_EQ(world.walls->width, 1.0);
  EXPECT_DOUBLE_EQ(world.walls->height, 1.0);
}

TEST_F(MouseEditTest, PointerOffTheClientAreaIsHeldAtItsEdge) {
  mouse_down(app, 320, 240);
  mouse_move(app, 5000, 70000);
  EXPECT_DOUBLE_EQ(world.walls->x + world.walls->width, 639.0 / 640.0 * 10.0);
  EXPECT_DOUBLE_EQ(world.walls->y + world.walls->height, 479.0 / 480.0 * 10.0);
  mouse_up(app, 5000, 70000);
  right_button_down(app, -20, -30);
  EXPECT_EQ(world.target_x, 0.0);
  EXPECT_EQ(world.target_y, 0.0);
  right_button_up(app);
}

TEST_F(MouseEditTest, RightButtonMovesTheTargetAtOnceAndWhileHeld) {
  const auto runs = sim.planner_stats.runs;
  right_button_down(app, 160, 120);
  EXPECT_TRUE(app.mouse.right_mouse_down);
  EXPECT_DOUBLE_EQ(world.target_x, 2.5);
  EXPECT_DOUBLE_EQ(world.target_y, 2.5);
  EXPECT_GT(sim.planner_stats.runs, runs);  // every target move plans again
  mouse_move(app, 480, 360);
  EXPECT_DOUBLE_EQ(world.target_x, 7.5);
  EXPECT_DOUBLE_EQ(world.target_y, 7.5);
  right_button_up(app);
  mouse_move(app, 320, 240);
  EXPECT_DOUBLE_EQ(world.target_x, 7.5);
}

TEST_F(MouseEditTest, MoveTheWallDragIgnoresDoesNotMoveTheTargetEither) {
  mouse_down(app, 320, 240);
  right_button_down(app, 400, 300);
  mouse_move(app, 100, 100);  // above and left of the wall's corner
  EXPECT_DOUBLE_EQ(world.target_x, 6.25);
  EXPECT_DOUBLE_EQ(world.target_y, 6.25);
  mouse_move(app, 480, 360);
  EXPECT_DOUBLE_EQ(world.target_x, 7.5);
  EXPECT_DOUBLE_EQ(world.walls->width, 2.5);
}

TEST_F(MouseEditTest, NoWallToDragIgnoresTheMove) {
  mouse_down(app, 320, 240);
  world_free_walls(sim);
  mouse_move(app, 400, 300);
  EXPECT_EQ(world.walls, nullptr);
}

TEST_F(MouseEditTest, ZeroSizedClientAreaGivesFiniteCoordinates) {
  sim.display_x = 0;
  sim.display_y = 0;
  mouse_down(app, 10, 10);
  ASSERT_NE(world.walls, nullptr);
  EXPECT_TRUE(std::isfinite(world.walls->x));
  EXPECT_TRUE(std::isfinite(world.walls->y));
  mouse_move(app, 20, 20);
  EXPECT_TRUE(std::isfinite(world.walls->width));
  EXPECT_TRUE(std::isfinite(world.walls->height));
  right_button_down(app, 5, 5);
  EXPECT_TRUE(std::isfinite(world.target_x));
  EXPECT_TRUE(std::isfinite(world.target_y));
}

}  // namespace
