#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/portable_math.h"
#include "test_support.h"

namespace {

class MapTest : public SimulationTest {};

struct cell {
  int i;
  int j;
};

cell waypoint_cell(world_state& world, const waypoint_node* w) {
  return {static_cast<int>(std::lround(w->x / world.width * kMapSize)),
          static_cast<int>(std::lround(w->y / world.height * kMapSize))};
}

const waypoint_node* waypoint_with_index(world_state& world, int index) {
  for (const waypoint_node* w = world.waypoints; w; w = w->next)
    if (w->index == index) return w;
  return nullptr;
}

TEST_F(MapTest, WavefrontExampleTracesTwentySixWaypoints) {
  place_robot(1.5, 2.9);
  world_set_target(sim, 5, 5);
  EXPECT_EQ(get_map_x(sim, 5), 37);
  EXPECT_EQ(get_map_y(sim, 5), 37);
  EXPECT_EQ(get_map_x(sim, 1.5), 11);
  EXPECT_EQ(get_map_y(sim, 2.9), 21);
  EXPECT_EQ(world_test_map(world.map, 11, 21), 42);
  ASSERT_EQ(world.num_waypoints, 26);
  EXPECT_EQ(world.cur_waypoint, 25);
  const waypoint_node* head = world.waypoints;
  EXPECT_EQ(head->index, 0);
  EXPECT_EQ(waypoint_cell(world, head).i, 37);
  EXPECT_EQ(waypoint_cell(world, head).j, 37);
  const waypoint_node* first = waypoint_with_index(world, 25);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(waypoint_cell(world, first).i, 12);
  EXPECT_EQ(waypoint_cell(world, first).j, 22);
  // 16 diagonal steps to (27, 37), then 10 steps along +x.
  for (int n = 1; n <= 26; ++n) {
    const waypoint_node* w = waypoint_with_index(world, 26 - n);
    ASSERT_NE(w, nullptr);
    const cell c = waypoint_cell(world, w);
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

namespace {

// ---------------------------------------------------------------------------
// Cell access

TEST_F(MapTest, TestMapReadsTheLowTwelveBitsAndOutsideAs255) {
  fill_map(sim, 7);
  world.map[3][3] = 7 | kMapPathMark;
  world.map[4][4] = kMapBlocked;
  world.map[5][5] = 0x1234;
  EXPECT_EQ(world_test_map(world.map, 3, 3), 7);
  EXPECT_EQ(world_test_map(world.map, 4, 4), 4095);
  EXPECT_EQ(world_test_map(world.map, 5, 5), 0x234);
  EXPECT_EQ(world_test_map(world.map, -1, 3), 255);
  EXPECT_EQ(world_test_map(world.map, 75, 3), 255);
  EXPECT_EQ(world_test_map(world.map, 3, -1), 255);
  EXPECT_EQ(world_test_map(world.map, 3, 75), 255);
  EXPECT_EQ(world_test_map(world.map, 74, 74), 7);
  EXPECT_EQ(world_test_map(world.map, -2147483647 - 1, 2147483647), 255);
}

TEST_F(MapTest, SetMapClampsEachIndexIntoTheGrid) {
  fill_map(sim, 255);
  world_set_map(sim, -5, 80);
  EXPECT_EQ(world.map[0][74], kMapBlocked);
  world_set_map(sim, 100, -1);
  EXPECT_EQ(world.map[74][0], kMapBlocked);
  world_set_map(sim, -2147483647 - 1, 2147483647);
  EXPECT_EQ(world.map[0][74], kMapBlocked);
  world_set_map(sim, 10, 20);
  EXPECT_EQ(world.map[10][20], kMapBlocked);
  EXPECT_EQ(world.map[11][20], 255);
}

TEST_F(MapTest, LowestIndexTiesGoToTheEarlierNeighbour) {
  fill_map(sim, 255);
  world.map[11][10] = 5;  // k = 0
  world.map[10][11] = 5;  // k = 2
  EXPECT_EQ(world_get_lowest_index(world.map, 10, 10), 0);
  world.map[11][10] = 255;
  world.map[11][11] = 5;  // k = 1
  EXPECT_EQ(world_get_lowest_index(world.map, 10, 10), 1);
  world.map[11][9] = 4;  // k = 7, strictly lowest
  EXPECT_EQ(world_get_lowest_index(world.map, 10, 10), 7);
}

TEST_F(MapTest, LowestIndexIgnoresBlockedOutsideAnd255AndSeesThroughThePathMark) {
  fill_map(sim, 255);
  EXPECT_EQ(world_get_lowest_index(world.map, 10, 10), 8);
  for (const auto& offset : offsets) world.map[10 + offset[0]][10 + offset[1]] = kMapBlocked;
  EXPECT_EQ(world_get_lowest_index(world.map, 10, 10), 8);
  world.map[9][10] = 254;  // k = 4
  EXPECT_EQ(world_get_lowest_index(world.map, 10, 10), 4);
  world.map[10][9] = 200 | kMapPathMark;  // k = 6, lower once masked
  EXPECT_EQ(world_get_lowest_index(world.map, 10, 10), 6);
  // At the corner five neighbours lie outside and read 255.
  fill_map(sim, 255);
  EXPECT_EQ(world_get_lowest_index(world.map, 0, 0), 8);
  world.map[0][1] = 3;
  EXPECT_EQ(world_get_lowest_index(world.map, 0, 0), 2);
}

// ---------------------------------------------------------------------------
// Wavefront passes

TEST_F(MapTest, TargetInCellZeroReachesTheFarCornerWith148After149Passes) {
  fill_map(sim, 255);
  world.map[0][0] = 0;
  int passes = 0;
  bool changed = true;
  while (changed) {
    world_compute_map_pass(sim, changed);
    ++passes;
    if (passes == 1) {
      EXPECT_EQ(world.map[1][0], 1);
      EXPECT_EQ(world.map[0][1], 1);
      EXPECT_EQ(world.map[1][1], 255);  // a cell never sees a value of its own pass
    }
    ASSERT_LE(passes, 300);
  }
  EXPECT_EQ(passes, 149);
  EXPECT_EQ(world.map[74][74], 148);
  EXPECT_EQ(world.map[74][0], 74);
  EXPECT_EQ(world.map[37][37], 74);
  EXPECT_EQ(world.map[0][0], 0);
}

TEST_F(MapTest, PlanningRunWithTheTargetInCellZero) {
  place_robot(8, 8);
  world_set_target(sim, 0.05, 0.05);
  EXPECT_EQ(world_test_map(world.map, 74, 74), 148);
  EXPECT_EQ(world_test_map(world.map, 0, 0), 0);
  EXPECT_EQ(world_test_map(world.map, 1, 1), 2);
}

TEST_F(MapTest, PassOnlyEverClearsChanged) {
  fill_map(sim, 255);
  world.map[5][5] = 0;
  bool changed = false;
  world_compute_map_pass(sim, changed);  // changes cells, but does not set the flag
  EXPECT_FALSE(changed);
  EXPECT_EQ(world.map[6][5], 1);
  changed = true;
  world_compute_map_pass(sim, changed);  // still changing: the flag stays
  EXPECT_TRUE(changed);
}

TEST_F(MapTest, PassNextToA254LeavesThe255AndReportsNoChange) {
  fill_map(sim, 255);
  world.map[5][5] = 254;
  bool changed = true;
  world_compute_map_pass(sim, changed);
  EXPECT_FALSE(changed);
  EXPECT_EQ(world.map[6][5], 255);
}

TEST_F(MapTest, PassKeepsTheTargetAndBlockedCellsAndSpreadsOnlyAlongFreeCells) {
  fill_map(sim, 255);
  world.map[6][5] = 0;
  world.map[5][5] = kMapBlocked;
  bool changed = true;
  world_compute_map_pass(sim, changed);
  EXPECT_EQ(world.map[6][5], 0);
  EXPECT_EQ(world.map[5][5], kMapBlocked);
  EXPECT_EQ(world.map[7][5], 1);
  EXPECT_EQ(world.map[6][4], 1);
  EXPECT_EQ(world.map[6][6], 1);
  EXPECT_EQ(world.map[4][5], 255);  // its only way is through the blocked cell
  EXPECT_EQ(world.map[7][6], 255);  // diagonal: not in the first pass
  world_compute_map_pass(sim, changed);
  EXPECT_EQ(world.map[5][5], kMapBlocked);
  EXPECT_EQ(world.map[7][6], 2);
  EXPECT_EQ(world.map[5][4], 2);
}

TEST_F(MapTest, TargetWithoutAFreeFourNeighbourStopsAfterOnePass) {
  fill_map(sim, 255);
  world.map[37][37] = 0;
  world.map[38][37] = world.map[36][37] = world.map[37][38] = world.map[37][36] = kMapBlocked;
  bool changed = true;
  world_compute_map_pass(sim, changed);
  EXPECT_FALSE(changed);
}

// ---------------------------------------------------------------------------
// Occupancy from impacts

TEST_F(MapTest, ImpactBlocksItsCellAndTheFourBesideIt) {
  place_robot(8, 8);
  world_add_impact(sim, cell_centre_x(sim, 20), cell_centre_y(sim, 30));
  EXPECT_EQ(world.map[20][30], kMapBlocked);
  EXPECT_EQ(world.map[21][30], kMapBlocked);
  EXPECT_EQ(world.map[19][30], kMapBlocked);
  EXPECT_EQ(world.map[20][31], kMapBlocked);
  EXPECT_EQ(world.map[20][29], kMapBlocked);
  EXPECT_NE(world_test_map(world.map, 21, 31), 4095);
  EXPECT_NE(world_test_map(world.map, 22, 30), 4095);
}

TEST_F(MapTest, ImpactAtTheGridsEdgeFallsBackOntoTheEdgeCell) {
  place_robot(8, 8);
  world_add_impact(sim, 0.05, 5);  // cell (0, 37)
  EXPECT_EQ(world.map[0][37], kMapBlocked);
  EXPECT_EQ(world.map[1][37], kMapBlocked);
  EXPECT_EQ(world.map[0][38], kMapBlocked);
  EXPECT_EQ(world.map[0][36], kMapBlocked);
  EXPECT_NE(world_test_map(world.map, 2, 37), 4095);
  EXPECT_NE(world_test_map(world.map, 1, 38), 4095);
  EXPECT_NE(world_test_map(world.map, 1, 36), 4095);
  EXPECT_NE(world_test_map(world.map, 74, 37), 4095);  // no wrap to the far side
}

TEST_F(MapTest, ImpactInTheCornerCell) {
  place_robot(8, 8);
  world_add_impact(sim, 0.01, 0.01);
  EXPECT_EQ(world.map[0][0], kMapBlocked);
  EXPECT_EQ(world.map[1][0], kMapBlocked);
  EXPECT_EQ(world.map[0][1], kMapBlocked);
  EXPECT_NE(world_test_map(world.map, 1, 1), 4095);
  EXPECT_NE(world_test_map(world.map, 74, 0), 4095);
}

TEST_F(MapTest, ImpactWithNonFiniteCoordinatesBlocksTheLastCellSafely) {
  place_robot(2, 2);
  world_add_impact(sim, std::nan(""), std::nan(""));
  ASSERT_EQ(world.num_impacts, 1);
  EXPECT_EQ(world.map[74][74], kMapBlocked);
  EXPECT_EQ(world.map[73][74], kMapBlocked);
  EXPECT_EQ(world.map[74][73], kMapBlocked);
  world_add_impact(sim, 1e308, -1e308);
  EXPECT_EQ(world.num_impacts, 2);
  EXPECT_GT(world.num_waypoints, 0);
}

TEST_F(MapTest, TargetCellIsZeroEvenWhenAnImpactBesideItBlocksIt) {
  place_robot(2, 2);
  insert_impact_unplanned(sim, cell_centre_x(sim, 38),
                          cell_centre_y(sim, 37));  // its cross covers (37, 37)
  world_set_target(sim, 5, 5);
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
  EXPECT_EQ(world_test_map(world.map, 37, 37), 0);
  EXPECT_EQ(world_test_map(world.map, 36, 37), 1);
  EXPECT_EQ(world_test_map(world.map, 38, 37), 4095);
  EXPECT_EQ(waypoint_cell(world, world.waypoints).i, 37);
}

TEST_F(MapTest, TargetInsideAnImpactsCellFallsBackToARandomTarget) {
  place_robot(2, 2);
  insert_impact_unplanned(sim, 5, 5);
  world_compute_map_grid(sim);
  EXPECT_GE(sim.planner_stats.random_targets, 1u);
  EXPECT_FALSE(world.target_x == 5 && world.target_y == 5);
  EXPECT_GT(world.num_waypoints, 0);
}

// ---------------------------------------------------------------------------
// Path trace

TEST_F(MapTest, RobotInTheTargetsCellStepsOutAndBack) {
  place_robot(5, 5);
  world_set_target(sim, 5, 5);
  ASSERT_EQ(world.num_waypoints, 2);
  EXPECT_EQ(world.cur_waypoint, 1);
  const waypoint_node* target_cell = waypoint_with_index(world, 0);
  const waypoint_node* out = waypoint_with_index(world, 1);
  ASSERT_NE(target_cell, nullptr);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(waypoint_cell(world, target_cell).i, 37);
  EXPECT_EQ(waypoint_cell(world, target_cell).j, 37);
  EXPECT_EQ(waypoint_cell(world, out).i, 38);  // the first neighbour in table order
  EXPECT_EQ(waypoint_cell(world, out).j, 37);
}

TEST_F(MapTest, RobotInTheTargetsCellSkipsABlockedFirstNeighbour) {
  place_robot(5, 5);
  insert_impact_unplanned(sim, cell_centre_x(sim, 39), cell_centre_y(sim, 37));  // blocks (38, 37)
  world_set_target(sim, 5, 5);
  ASSERT_EQ(world.num_waypoints, 2);
  const waypoint_node* out = waypoint_with_index(world, 1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(waypoint_cell(world, out).i, 37);  // (0, 1) is the next neighbour with value 1
  EXPECT_EQ(waypoint_cell(world, out).j, 38);
}

TEST_F(MapTest, WaypointsLieOnCellCornersWithTheCellsNavigationDirection) {
  place_robot(1.5, 2.9);
  world_set_target(sim, 5, 5);
  ASSERT_EQ(world.num_waypoints, 26);
  int expected_index = 0;
  for (const waypoint_node* w = world.waypoints; w; w = w->next) {
    EXPECT_EQ(w->index, expected_index++);
    const cell c = waypoint_cell(world, w);
    EXPECT_EQ(w->x, c.i * world.width / kMapSize);
    EXPECT_EQ(w->y, c.j * world.height / kMapSize);
    point nav;
    compute_map_nav(sim, nav, cell_centre_x(sim, c.i), cell_centre_y(sim, c.j));
    EXPECT_EQ(w->angle, portable_atan2(nav.y, nav.x));
  }
}

TEST_F(MapTest, RobotOnAnImpactLeavesByTheLowestDiagonalNeighbour) {
  place_robot(cell_centre_x(sim, 20), cell_centre_y(sim, 37));
  insert_impact_unplanned(sim, robot.x, robot.y);
  world_set_target(sim, cell_centre_x(sim, 37), cell_centre_y(sim, 30));
  ASSERT_GT(world.num_waypoints, 0);
  const waypoint_node* first = waypoint_with_index(world, world.cur_waypoint);
  ASSERT_NE(first, nullptr);
  // (21, 36) is nearer the target than (21, 38), (19, 36) and (19, 38).
  EXPECT_EQ(waypoint_cell(world, first).i, 21);
  EXPECT_EQ(waypoint_cell(world, first).j, 36);
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
}

TEST_F(MapTest, UnreachableTargetIsReplacedByARandomOneDrawnYThenX) {
  // Surround the target's cell so the wavefront cannot leave it.
  place_robot(2, 2);
  insert_impact_unplanned(sim, cell_centre_x(sim, 37), cell_centre_y(sim, 37));
  world.target_x = 5;
  world.target_y = 5;
  sim.rng.seed(4242);
  const double y = f_rand(sim, 1, 9);
  const double x = f_rand(sim, 1, 9);
  sim.rng.seed(4242);
  world_compute_map_grid(sim);
  ASSERT_EQ(sim.planner_stats.random_targets, 1u) << "the first random target was unreachable too";
  EXPECT_EQ(world.target_x, x);
  EXPECT_EQ(world.target_y, y);
  EXPECT_TRUE(world.target_set);
  EXPECT_GT(world.num_waypoints, 0);
}

// A serpentine corridor built from impacts: the wavefront from the target in
// cell (0, 0) runs down column 0, up column 4, down column 8 and up column 12,
// where it reaches 254 at row 54 and stops.
//
// The trace's own limit of 254 steps cannot be reached on a 75 x 75 grid: each
// step lowers the value by at least one, and at every turn of a corridor a
// diagonal step lowers it by two, so 254 steps would need a straight run of 255
// cells. These tests cover the wavefront's limit instead.
class CorridorTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    world_free_impacts(sim);
    for (int k = 0; k < 4; ++k) {
      const int column = 2 + 4 * k;
      const int first = k % 2 == 0 ? 0 : 2;
      const int last = k % 2 == 0 ? 72 : 74;
      for (int row = first; row <= last; ++row) {
        insert_impact_unplanned(sim, cell_centre_x(sim, column), cell_centre_y(sim, row));
      }
    }
    world.target_x = cell_centre_x(sim, 0);
    world.target_y = cell_centre_y(sim, 0);
    sim.planner_stats = planner_counters{};
  }

  void plan_from_cell(int i, int j) {
    place_robot(cell_centre_x(sim, i), cell_centre_y(sim, j));
    world_compute_map_grid(sim);
  }
};

TEST_F(CorridorTest, WavefrontStopsAt254) {
  plan_from_cell(12, 54);
  EXPECT_EQ(world_test_map(world.map, 12, 74), 234);
  EXPECT_EQ(world_test_map(world.map, 12, 54), 254);
  EXPECT_EQ(world_test_map(world.map, 12, 53), 255);
  EXPECT_EQ(world_test_map(world.map, 12, 0), 255);
  EXPECT_EQ(world_test_map(world.map, 16, 40), 255);
}

TEST_F(CorridorTest, RobotOnThe254CellFindsThePath) {
  plan_from_cell(12, 54);
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
  ASSERT_GT(world.num_waypoints, 200);
  EXPECT_LT(world.num_waypoints, 254);  // each turn is cut by a diagonal step
  EXPECT_EQ(world.cur_waypoint, world.num_waypoints - 1);
  EXPECT_EQ(waypoint_cell(world, world.waypoints).i, 0);
  EXPECT_EQ(waypoint_cell(world, world.waypoints).j, 0);
}

TEST_F(CorridorTest, RobotBeyondTheWavefrontStillStepsOntoA254Neighbour) {
  plan_from_cell(12, 54);
  const int from_254 = world.num_waypoints;
  plan_from_cell(12, 53);  // reads 255, but its neighbour (12, 54) holds 254
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
  ASSERT_EQ(world.num_waypoints, from_254 + 1);
  const waypoint_node* first = waypoint_with_index(world, world.cur_waypoint);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(waypoint_cell(world, first).i, 12);
  EXPECT_EQ(waypoint_cell(world, first).j, 54);
}

TEST_F(CorridorTest, RobotWithNoNeighbourBelow255FallsBackToARandomTarget) {
  plan_from_cell(12, 52);
  EXPECT_GE(sim.planner_stats.random_targets, 1u);
  EXPECT_FALSE(world.target_x == cell_centre_x(sim, 0) && world.target_y == cell_centre_y(sim, 0));
}

TEST_F(CorridorTest, OneSweepGivesTheGridAndPathOfRepeatedPasses) {
  place_robot(cell_centre_x(sim, 12), cell_centre_y(sim, 53));
  world_compute_map_grid(sim);
  std::vector<std::int32_t> fast(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
  std::vector<waypoint_node> fast_waypoints;
  for (const waypoint_node* w = world.waypoints; w; w = w->next) fast_waypoints.push_back(*w);

  world_compute_map_grid_by_passes(sim);
  std::vector<std::int32_t> slow(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
  EXPECT_EQ(fast, slow);
  ASSERT_EQ(list_length(world.waypoints), static_cast<int>(fast_waypoints.size()));
  std::size_t n = 0;
  for (const waypoint_node* w = world.waypoints; w; w = w->next, ++n) {
    EXPECT_EQ(w->x, fast_waypoints[n].x);
    EXPECT_EQ(w->y, fast_waypoints[n].y);
    EXPECT_EQ(w->angle, fast_waypoints[n].angle);
    EXPECT_EQ(w->index, fast_waypoints[n].index);
  }
}

// ---------------------------------------------------------------------------
// A robot boxed in by impacts

class BoxedInTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    // The robot in cell (2, 2); impacts in the four diagonal cells block all eight
    // neighbours. Random targets are drawn at least 1 unit inside the world,
    // in cells 7 to 67, so none of them is the robot's own cell.
    place_robot(cell_centre_x(sim, 2), cell_centre_y(sim, 2));
    world_compute_map_grid(sim);
    ASSERT_GT(world.num_waypoints, 0);
    static const int diagonal_cells[4][2] = {{1, 1}, {3, 1}, {1, 3}, {3, 3}};
    for (const auto& c : diagonal_cells)
      insert_impact_unplanned(sim, cell_centre_x(sim, c[0]), cell_centre_y(sim, c[1]));
    sim.planner_stats = planner_counters{};
    console_text.clear();
  }
};

TEST_F(BoxedInTest, PlanningGivesUpAtOnceWithoutDrawingATarget) {
  sim.rng.seed(99);
  const int next_rand = sim.rng.next();
  sim.rng.seed(99);
  const double target_x = world.target_x;
  const double target_y = world.target_y;

  world_compute_map_grid(sim);

  // No target can reach the robot's neighbours: nothing is drawn, nothing more is run.
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
  EXPECT_EQ(sim.planner_stats.runs, 1u);
  EXPECT_EQ(sim.planner_stats.gave_up, 1u);
  EXPECT_EQ(world.num_waypoints, 0);
  EXPECT_EQ(world.waypoints, nullptr);
  EXPECT_EQ(world.cur_waypoint, 0) << "no stale index into the emptied list";
  EXPECT_EQ(world.target_x, target_x);
  EXPECT_EQ(world.target_y, target_y);
  EXPECT_EQ(sim.rng.next(), next_rand);
  // One line on the console says so.
  EXPECT_EQ(std::count(console_text.begin(), console_text.end(), '\n'), 1);
  EXPECT_EQ(console_text.back(), '\n');
  EXPECT_NE(console_text.find("no path"), std::string::npos) << console_text;
}

TEST_F(BoxedInTest, EveryEntryPointIsBounded) {
  world_set_target(sim, 5, 5);
  EXPECT_EQ(sim.planner_stats.runs, 1u);
  world_add_impact(sim, 8, 8);
  EXPECT_EQ(sim.planner_stats.runs, 2u);
  EXPECT_EQ(sim.planner_stats.gave_up, 2u);
  EXPECT_EQ(world.num_waypoints, 0);
}

TEST_F(BoxedInTest, TicksGoOnWithoutWaypointsAndRecoverOnceFreed) {
  sim.manual_mode = true;
  robot.speed = 0;
  robot.turn = 0;
  for (int tick = 0; tick < 200; ++tick) {
    world_update(sim);
    advance_simulated_clock(sim, 0.01);
  }
  // Every planning run of these ticks (replanning, and the impacts the robot
  // records on the walls beside it) gave up at once.
  EXPECT_GE(sim.planner_stats.gave_up, 1u);
  EXPECT_EQ(sim.planner_stats.runs, sim.planner_stats.gave_up);
  EXPECT_EQ(sim.planner_stats.random_targets, 0u);
  EXPECT_EQ(world.num_waypoints, 0);
  EXPECT_FALSE(std::isnan(robot.x));
  // Forgetting the impacts ('N') frees the robot; the next planning run finds a path.
  world_free_impacts(sim);
  world_compute_map_grid(sim);
  EXPECT_GT(world.num_waypoints, 0);
  EXPECT_EQ(world.cur_waypoint, world.num_waypoints - 1);
}

// ---------------------------------------------------------------------------
// Random targets against the endless chain of planning runs

// The planning run as the planner's rule writes it, with no limit: the
// wavefront, the trace, and on failure a random target (y, then x) and another
// run. Gives up only after `limit` random targets, which stands for "never
// ends". The wavefront is spread by a plain breadth-first search (equal to the
// repeated passes, as CorridorTest and PlannerPropertyTest show), so that
// thousands of runs stay quick.
void literal_wavefront(simulation& sim) {
  world_state& world = sim.world;
  std::vector<std::pair<int, int>> queue;
  queue.emplace_back(get_map_x(sim, world.target_x), get_map_y(sim, world.target_y));
  for (std::size_t head = 0; head < queue.size(); ++head) {
    const auto [i, j] = queue[head];
    const int next = (world.map[i][j] & kMapValueMask) + 1;
    if (next >= kMapOutside) continue;
    for (const auto& [di, dj] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
      const int ni = i + di;
      const int nj = j + dj;
      if (ni < 0 || ni >= kMapSize || nj < 0 || nj >= kMapSize) continue;
      if (world.map[ni][nj] != kMapOutside) continue;
      world.map[ni][nj] = next;
      queue.emplace_back(ni, nj);
    }
  }
}

struct literal_chain_result {
  bool ended = false;
  int random_targets = 0;
};

literal_chain_result literal_chain(simulation& sim, int limit) {
  world_state& world = sim.world;
  robot_state& robot = sim.robot;
  literal_chain_result result;
  for (;;) {
    for (auto& column : world.map)
      for (auto& c : column) c = kMapOutside;
    for (const impact_node* impact = world.impacts; impact; impact = impact->next) {
      const int i = get_map_x(sim, impact->x);
      const int j = get_map_y(sim, impact->y);
      world_set_map(sim, i, j);
      world_set_map(sim, i + 1, j);
      world_set_map(sim, i - 1, j);
      world_set_map(sim, i, j + 1);
      world_set_map(sim, i, j - 1);
    }
    world.map[get_map_x(sim, world.target_x)][get_map_y(sim, world.target_y)] = 0;
    literal_wavefront(sim);
    int i = get_map_x(sim, robot.x);
    int j = get_map_y(sim, robot.y);
    world_free_waypoints(sim);
    bool found = false;
    for (int n = 1;; ++n) {
      const int k = world_get_lowest_index(world.map, i, j);
      if (k == 8) break;
      i += offsets[k][0];
      j += offsets[k][1];
      const int value = world.map[i][j] & kMapValueMask;
      point nav;
      compute_map_nav(sim, nav, cell_centre_x(sim, i), cell_centre_y(sim, j));
      world.map[i][j] |= kMapPathMark;
      world_add_waypoint(sim, i * world.width / kMapSize, j * world.height / kMapSize,
                         portable_atan2(nav.y, nav.x));
      if (value <= 0) {
        found = true;
        break;
      }
      if (n == 254) break;
    }
    if (found) {
      int index = 0;
      for (waypoint_node* w = world.waypoints; w; w = w->next) w->index = index++;
      world.cur_waypoint = world.num_waypoints - 1;
      result.ended = true;
      return result;
    }
    if (result.random_targets == limit) return result;
    const double y = f_rand(sim, 1, world.height - 1);
    const double x = f_rand(sim, 1, world.width - 1);
    world.target_set = true;
    world.target_x = x;
    world.target_y = y;
    ++result.random_targets;
  }
}

struct chain_outcome {
  std::vector<std::int32_t> grid;
  std::vector<std::array<double, 3>> waypoints;
  std::vector<int> indices;
  int cur_waypoint;
  double target_x;
  double target_y;
  int next_rand;

  static chain_outcome take(simulation& sim) {
    const world_state& world = sim.world;
    chain_outcome o;
    o.grid.assign(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    for (const waypoint_node* w = world.waypoints; w; w = w->next) {
      o.waypoints.push_back({w->x, w->y, w->angle});
      o.indices.push_back(w->index);
    }
    o.cur_waypoint = world.cur_waypoint;
    o.target_x = world.target_x;
    o.target_y = world.target_y;
    o.next_rand = sim.rng.next();
    return o;
  }
  bool operator==(const chain_outcome&) const = default;
};

// Blocks every cell on the square ring at Chebyshev distance `radius` around a
// cell (the impacts' crosses also block the ring inside it), leaving `door`
// cells of its right side free when asked.
void impact_ring(simulation& sim, int ci, int cj, int radius, int door = 0) {
  for (int i = ci - radius; i <= ci + radius; ++i) {
    for (int j = cj - radius; j <= cj + radius; ++j) {
      if (std::max(std::abs(i - ci), std::abs(j - cj)) != radius) continue;
      if (door > 0 && i == ci + radius && std::abs(j - cj) < door) continue;
      insert_impact_unplanned(sim, cell_centre_x(sim, i), cell_centre_y(sim, j));
    }
  }
}

class RandomTargetChainTest : public MapTest {
 protected:
  // Plans with the planner and with the literal chain from the same random
  // state and compares everything; returns whether the chain ended.
  bool compare(unsigned seed, int literal_limit = 20000) {
    const double tx = world.target_x;
    const double ty = world.target_y;
    sim.rng.seed(seed);
    const literal_chain_result literal = literal_chain(sim, literal_limit);
    const chain_outcome expected = chain_outcome::take(sim);

    world.target_x = tx;
    world.target_y = ty;
    world_invalidate_wavefront(sim);
    sim.planner_stats = planner_counters{};
    sim.rng.seed(seed);
    world_compute_map_grid(sim);
    if (literal.ended) {
      EXPECT_EQ(sim.planner_stats.gave_up, 0u) << seed;
      EXPECT_EQ(sim.planner_stats.random_targets,
                static_cast<std::uint64_t>(literal.random_targets));
      EXPECT_TRUE(chain_outcome::take(sim) == expected) << "seed " << seed;
    } else {
      EXPECT_EQ(sim.planner_stats.gave_up, 1u) << seed;
      EXPECT_EQ(world.num_waypoints, 0);
    }
    return literal.ended;
  }
};

TEST_F(RandomTargetChainTest, PocketThatOnlyRareTargetsReachAlwaysGetsItsPath) {
  // The robot in a 3 x 3 pocket: only about 21 of the 3721 cells that random
  // targets land in have a way to it, so the chain needs about 180 of them.
  place_robot(cell_centre_x(sim, 30), cell_centre_y(sim, 30));
  impact_ring(sim, 30, 30, 3);
  int long_chains = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    world.target_x = 8;
    world.target_y = 8;
    ASSERT_TRUE(compare(seed)) << "the endless chain ended for every seed tried so far";
    if (sim.planner_stats.random_targets > 100) ++long_chains;
  }
  EXPECT_GT(long_chains, 5) << "chains past a hundred random targets were tried";
}

TEST_F(RandomTargetChainTest, NarrowDoorwaysAndScatteredImpacts) {
  std::mt19937 rng(7);
  for (unsigned seed = 1; seed <= 30; ++seed) {
    world_free_impacts(sim);
    const int ci = 10 + static_cast<int>(rng() % 50);
    const int cj = 10 + static_cast<int>(rng() % 50);
    place_robot(cell_centre_x(sim, ci), cell_centre_y(sim, cj));
    impact_ring(sim, ci, cj, 3 + static_cast<int>(rng() % 4), 1);  // a one-cell doorway
    for (int n = static_cast<int>(rng() % 40); n > 0; --n) {
      insert_impact_unplanned(sim, std::uniform_real_distribution<double>(0, 10)(rng),
                              std::uniform_real_distribution<double>(0, 10)(rng));
    }
    world.target_x = std::uniform_real_distribution<double>(0, 10)(rng);
    world.target_y = std::uniform_real_distribution<double>(0, 10)(rng);
    compare(seed);
  }
}

TEST_F(RandomTargetChainTest, TrueBoxesGiveUpAtOnce) {
  // Random targets land in cells 7 to 67 only. A robot near the edge, shut in
  // with every cell that could reach it outside that range, can never get a
  // path: the chain never ends, and the planner gives up without drawing.
  const int boxes[][3] = {{2, 2, 1}, {3, 40, 3}, {71, 71, 2}, {40, 72, 2}, {4, 5, 3}};
  for (const auto& box : boxes) {
    SCOPED_TRACE(box[0] * 100 + box[1]);
    world_free_impacts(sim);
    place_robot(cell_centre_x(sim, box[0]), cell_centre_y(sim, box[1]));
    if (box[2] == 1) {
      for (const auto& d : {std::pair{-1, -1}, {1, -1}, {-1, 1}, {1, 1}})
        insert_impact_unplanned(sim, cell_centre_x(sim, box[0] + d.first),
                                cell_centre_y(sim, box[1] + d.second));
    } else {
      impact_ring(sim, box[0], box[1], box[2]);
    }
    world.target_x = 5;
    world.target_y = 5;
    EXPECT_FALSE(compare(11, 2000));
    EXPECT_EQ(sim.planner_stats.random_targets, 0u);
    EXPECT_EQ(sim.planner_stats.runs, 1u);
  }
  // The same shut-in robot in the middle of the world is no true box: a target
  // on one of its blocked neighbours reads 0 there, and some draw lands on one.
  world_free_impacts(sim);
  place_robot(cell_centre_x(sim, 40), cell_centre_y(sim, 40));
  for (const auto& d : {std::pair{-1, -1}, {1, -1}, {-1, 1}, {1, 1}})
    insert_impact_unplanned(sim, cell_centre_x(sim, 40 + d.first),
                            cell_centre_y(sim, 40 + d.second));
  EXPECT_TRUE(compare(3));
  EXPECT_GT(sim.planner_stats.random_targets, 100u);
}

// ---------------------------------------------------------------------------
// Navigation vector

TEST_F(MapTest, NavigationVectorOnTheTargetsRowPointsAtTheTarget) {
  place_robot(8, 8);
  world_set_target(sim, 5, 5);  // cell (37, 37)
  for (int a = 1; a <= 30; a += 7) {
    point out;
    compute_map_nav(sim, out, cell_centre_x(sim, 37 - a), cell_centre_y(sim, 37));
    EXPECT_NEAR(out.x, 2 + 2 * std::sqrt(2.0), 1e-12) << a;
    EXPECT_NEAR(out.y, 0, 1e-12) << a;
  }
}

TEST_F(MapTest, NavigationVectorPointsAwayFromABlockedNeighbour) {
  place_robot(8, 8);
  world_set_target(sim, 5, 5);
  world_add_impact(sim, cell_centre_x(sim, 40), cell_centre_y(sim, 20));  // blocks (39, 20)
  ASSERT_EQ(world.map[39][20], kMapBlocked);
  point out;
  compute_map_nav(sim, out, cell_centre_x(sim, 38), cell_centre_y(sim, 20));
  EXPECT_LT(out.x, -3000);
  EXPECT_LT(std::fabs(out.y), 0.05 * std::fabs(out.x));
}

TEST_F(MapTest, NavigationVectorAtTheTargetCancels) {
  place_robot(8, 8);
  world_set_target(sim, 5, 5);
  point out{1, 1};
  compute_map_nav(sim, out, 5, 5);
  EXPECT_NEAR(out.x, 0, 1e-9);
  EXPECT_NEAR(out.y, 0, 1e-9);
}

TEST_F(MapTest, NavigationVectorAtTheGridsEdgePointsInward) {
  place_robot(8, 8);
  world_set_target(sim, 5, 5);
  point out;
  compute_map_nav(sim, out, cell_centre_x(sim, 0), cell_centre_y(sim, 37));
  EXPECT_GT(out.x, 200);  // the outside reads 255, far above the distances inside
}

TEST_F(MapTest, NavigationVectorOfANegativeOrNonFinitePointIsReadAtCell74) {
  place_robot(8, 8);
  world_set_target(sim, 5, 5);
  point far_side;
  compute_map_nav(sim, far_side, cell_centre_x(sim, 74), cell_centre_y(sim, 37));
  point near_side;
  compute_map_nav(sim, near_side, cell_centre_x(sim, 0), cell_centre_y(sim, 37));
  ASSERT_NE(far_side.x, near_side.x);
  point out;
  compute_map_nav(sim, out, -0.2, cell_centre_y(sim, 37));  // index -1
  EXPECT_EQ(out.x, far_side.x);
  EXPECT_EQ(out.y, far_side.y);
  compute_map_nav(sim, out, std::nan(""), cell_centre_y(sim, 37));
  EXPECT_EQ(out.x, far_side.x);
  compute_map_nav(sim, out, -0.01, cell_centre_y(sim, 37));  // index 0: truncation toward zero
  EXPECT_EQ(out.x, near_side.x);
}

TEST_F(MapTest, NavigationVectorSumsBlockedCellsAsMaskedValues) {
  fill_map(sim, 0);
  world.map[11][10] = kMapBlocked;  // k = 0 reads 4095
  point out;
  compute_map_nav(sim, out, cell_centre_x(sim, 10), cell_centre_y(sim, 10));
  EXPECT_DOUBLE_EQ(out.x, -4095);
  EXPECT_NEAR(out.y, 0, 1e-12);
  world.map[11][10] = 3 | kMapPathMark;  // the mark is left out
  compute_map_nav(sim, out, cell_centre_x(sim, 10), cell_centre_y(sim, 10));
  EXPECT_DOUBLE_EQ(out.x, -3);
}

}  // namespace

namespace {

// The navigation vector as the planner's rule writes it: the sum over the eight
// neighbours, then negated.
point literal_nav_vector(world_state& world, int i, int j) {
  double sum_x = 0.0;
  double sum_y = 0.0;
  double theta = 0.0;
  for (int k = 0; k < 8; ++k) {
    const double v = world_test_map(world.map, i + offsets[k][0], j + offsets[k][1]);
    sum_x += v * portable_cos(theta);
    sum_y += v * portable_sin(theta);
    theta += 0.7853981633974483;
  }
  return {-sum_x, -sum_y};
}

TEST_F(MapTest, NavigationVectorIsTheNegatedSumDownToTheSignOfZero) {
  // Where the sum cancels exactly it is +0, so the vector is -0 and a
  // waypoint's angle there is atan2(-0, -0) = -pi, not 0.
  fill_map(sim, 0);
  point out;
  compute_map_nav(sim, out, cell_centre_x(sim, 10), cell_centre_y(sim, 10));
  EXPECT_TRUE(std::signbit(out.x));
  EXPECT_TRUE(std::signbit(out.y));
  EXPECT_EQ(portable_atan2(out.y, out.x), -std::acos(-1.0));

  // Every cell of planned grids, bit for bit.
  for (const double target : {5.0, 0.05, 9.9}) {
    place_robot(8, 2);
    world_add_impact(sim, cell_centre_x(sim, 30), cell_centre_y(sim, 30));
    world_set_target(sim, target, target);
    for (int i = 0; i < kMapSize; ++i) {
      for (int j = 0; j < kMapSize; ++j) {
        compute_map_nav(sim, out, cell_centre_x(sim, i), cell_centre_y(sim, j));
        const point expected = literal_nav_vector(world, i, j);
        ASSERT_TRUE(same_bits(out.x, expected.x) && same_bits(out.y, expected.y))
            << i << "," << j << ": " << out.x << " " << out.y;
      }
    }
    for (const waypoint_node* w = world.waypoints; w; w = w->next) {
      const cell c = waypoint_cell(world, w);
      const point expected = literal_nav_vector(world, c.i, c.j);
      ASSERT_TRUE(same_bits(w->angle, portable_atan2(expected.y, expected.x)));
    }
  }
}

}  // namespace
