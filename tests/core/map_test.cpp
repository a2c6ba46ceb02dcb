#include <cmath>
#include <vector>

#include "test_support.h"

namespace {

class MapTest : public SimulationTest {};

struct cell {
  int i;
  int j;
};

cell waypoint_cell(const waypoint_node* w) {
  return {static_cast<int>(std::lround(w->x / world.width * kMapSize)),
          static_cast<int>(std::lround(w->y / world.height * kMapSize))};
}

const waypoint_node* waypoint_with_index(int index) {
  for (const waypoint_node* w = world.waypoints; w; w = w->next)
    if (w->index == index) return w;
  return nullptr;
}

TEST_F(MapTest, WavefrontExampleTracesTwentySixWaypoints) {
  place_robot(1.5, 2.9);
  world_set_target(5, 5);
  EXPECT_EQ(get_map_x(5), 37);
  EXPECT_EQ(get_map_y(5), 37);
  EXPECT_EQ(get_map_x(1.5), 11);
  EXPECT_EQ(get_map_y(2.9), 21);
  EXPECT_EQ(world_test_map(world.map, 11, 21), 42);
  ASSERT_EQ(world.num_waypoints, 26);
  EXPECT_EQ(world.cur_waypoint, 25);
  const waypoint_node* head = world.waypoints;
  EXPECT_EQ(head->index, 0);
  EXPECT_EQ(waypoint_cell(head).i, 37);
  EXPECT_EQ(waypoint_cell(head).j, 37);
  const waypoint_node* first = waypoint_with_index(25);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(waypoint_cell(first).i, 12);
  EXPECT_EQ(waypoint_cell(first).j, 22);
  // 16 diagonal steps to (27, 37), then 10 steps along +x.
  for (int n = 1; n <= 26; ++n) {
    const waypoint_node* w = waypoint_with_index(26 - n);
    ASSERT_NE(w, nullptr);
    const cell c = waypoint_cell(w);
    if (n <= 16) {
      EXPECT_EQ(c.i, 11 + n);
      EXPECT_EQ(c.j, 21 + n);
    } else {
      EXPECT_EQ(c.i, 27 + (n - 16));
      EXPECT_EQ(c.j, 37);
    }
    EXPECT_NE(world.map[c.i][c.j] & kMapPathMark, 0);
  }
}

}  // namespace
