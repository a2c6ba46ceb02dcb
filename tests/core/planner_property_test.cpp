// The planning run spreads its wavefront in one sweep and reuses it between runs;
// these tests hold it to the literal form (repeated full passes, nothing reused)
// on many random worlds.
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "test_support.h"

namespace {

// How many random worlds to try; the sanitizer build asks for fewer.
int world_count() {
  const char* text = std::getenv("ROBOSIM_PROPERTY_WORLDS");
  const int count = text ? std::atoi(text) : 0;
  return count > 0 ? count : 2000;
}

struct plan_snapshot {
  std::vector<std::int32_t> grid;
  std::vector<waypoint_node> waypoints;
  int num_waypoints = 0;
  int cur_waypoint = 0;
  double target_x = 0;
  double target_y = 0;
};

plan_snapshot snapshot(world_state& world) {
  plan_snapshot s;
  s.grid.assign(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
  for (const waypoint_node* w = world.waypoints; w; w = w->next) s.waypoints.push_back(*w);
  s.num_waypoints = world.num_waypoints;
  s.cur_waypoint = world.cur_waypoint;
  s.target_x = world.target_x;
  s.target_y = world.target_y;
  return s;
}

void expect_same_plan(const plan_snapshot& fast, const plan_snapshot& slow, int world_number) {
  SCOPED_TRACE(world_number);
  ASSERT_EQ(fast.grid, slow.grid);
  ASSERT_EQ(fast.num_waypoints, slow.num_waypoints);
  ASSERT_EQ(fast.cur_waypoint, slow.cur_waypoint);
  ASSERT_EQ(fast.target_x, slow.target_x);
  ASSERT_EQ(fast.target_y, slow.target_y);
  ASSERT_EQ(fast.waypoints.size(), slow.waypoints.size());
  for (std::size_t n = 0; n < fast.waypoints.size(); ++n) {
    ASSERT_EQ(fast.waypoints[n].x, slow.waypoints[n].x);
    ASSERT_EQ(fast.waypoints[n].y, slow.waypoints[n].y);
    ASSERT_EQ(fast.waypoints[n].angle, slow.waypoints[n].angle);
    ASSERT_EQ(fast.waypoints[n].index, slow.waypoints[n].index);
  }
}

class PlannerPropertyTest : public SimulationTest {
 protected:
  // Plans the current world both ways from the same random state.
  void compare_both_ways(unsigned seed, int world_number) {
    const double tx = world.target_x;
    const double ty = world.target_y;
    sim.rng.seed(seed);
    world_compute_map_grid_by_passes(sim);
    const plan_snapshot slow = snapshot(world);

    world.target_x = tx;
    world.target_y = ty;
    sim.rng.seed(seed);
    world_compute_map_grid(sim);
    expect_same_plan(snapshot(world), slow, world_number);
  }

  void scatter_impacts(std::mt19937& rng, int count) {
    world_free_impacts(sim);
    std::uniform_real_distribution<double> coordinate(-0.5, 10.5);
    for (int n = 0; n < count; ++n) {
      world.impacts = new impact_node{coordinate(rng), coordinate(rng), world.impacts};
      ++world.num_impacts;
    }
  }

  // Impacts on the eight cells around the robot's: every neighbour is blocked.
  void box_in_robot() {
    const double step = world.width / kMapSize;
    for (int di = -1; di <= 1; ++di) {
      for (int dj = -1; dj <= 1; ++dj) {
        if (di == 0 && dj == 0) continue;
        world.impacts = new impact_node{robot.x + di * step, robot.y + dj * step, world.impacts};
        ++world.num_impacts;
      }
    }
  }
};

TEST_F(PlannerPropertyTest, SweepMatchesRepeatedPassesOnRandomWorlds) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> position(0.0, 10.0);
  std::uniform_int_distribution<int> impact_count(0, 200);
  std::uniform_int_distribution<int> scenario(0, 19);
  for (int n = 0; n < world_count(); ++n) {
    scatter_impacts(rng, impact_count(rng));
    robot.x = position(rng);
    robot.y = position(rng);
    world.target_x = position(rng);
    world.target_y = position(rng);
    switch (scenario(rng)) {
      case 0:  // target on an impact: its cell cannot be left
        if (world.impacts) {
          world.target_x = world.impacts->x;
          world.target_y = world.impacts->y;
        }
        break;
      case 1:  // robot on the target's cell
        robot.x = world.target_x;
        robot.y = world.target_y;
        break;
      case 2:  // robot standing on an impact
        if (world.impacts) {
          robot.x = world.impacts->x;
          robot.y = world.impacts->y;
        }
        break;
      case 3:  // target and robot far apart in opposite corners
        world.target_x = 0.01;
        world.target_y = 0.01;
        robot.x = 9.99;
        robot.y = 9.99;
        break;
      default:
        break;
    }
    compare_both_ways(static_cast<unsigned>(n), n);
    if (HasFatalFailure()) return;
  }
}

TEST_F(PlannerPropertyTest, SweepMatchesRepeatedPassesWhenRobotIsBoxedIn) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> position(1.0, 9.0);
  for (int n = 0; n < 5; ++n) {
    world_free_impacts(sim);
    robot.x = position(rng);
    robot.y = position(rng);
    box_in_robot();
    compare_both_ways(static_cast<unsigned>(n), n);
    if (HasFatalFailure()) return;
  }
}

// Reusing the stored wavefront while the robot moves must leave exactly what a
// fresh run leaves, path marks included.
TEST_F(PlannerPropertyTest, ReusedWavefrontMatchesFreshRunAsRobotMoves) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> position(0.0, 10.0);
  scatter_impacts(rng, 60);
  world.target_x = 5.2;
  world.target_y = 4.7;
  world_invalidate_wavefront(sim);
  world_compute_map_grid(sim);
  for (int n = 0; n < 300; ++n) {
    robot.x = position(rng);
    robot.y = position(rng);
    compare_both_ways(static_cast<unsigned>(n), n);
    if (HasFatalFailure()) return;
  }
}

// Runs that follow one another while only the robot moves take back the last
// path's marks instead of copying the stored wavefront; after any number of them
// the grid is still exactly that of the literal form.
TEST_F(PlannerPropertyTest, ChainsOfReusingRunsLeaveNoMarksOfEarlierPaths) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> position(0.0, 10.0);
  for (int chain = 0; chain < 300; ++chain) {
    scatter_impacts(rng, chain % 40);
    world.target_x = position(rng);
    world.target_y = position(rng);
    world_invalidate_wavefront(sim);
    world_compute_map_grid(sim);
    for (int run = 0; run < 1 + chain % 9; ++run) {
      robot.x = position(rng);
      robot.y = position(rng);
      world_compute_map_grid(sim);
    }
    robot.x = position(rng);
    robot.y = position(rng);
    const double tx = world.target_x;
    const double ty = world.target_y;
    sim.rng.seed(static_cast<unsigned>(chain));
    world_compute_map_grid(sim);
    const plan_snapshot fast = snapshot(world);
    world.target_x = tx;
    world.target_y = ty;
    sim.rng.seed(static_cast<unsigned>(chain));
    world_compute_map_grid_by_passes(sim);
    expect_same_plan(fast, snapshot(world), chain);
    if (HasFatalFailure()) return;
  }
}

TEST_F(PlannerPropertyTest, WavefrontIsRecomputedWhenImpactsOrTargetChange) {
  robot.x = 1.0;
  robot.y = 1.0;
  world_set_target(sim, 8, 8);
  const plan_snapshot before = snapshot(world);
  world_add_impact(sim, 4.5, 4.5);
  compare_both_ways(1, 1);
  world_free_impacts(sim);
  world_compute_map_grid(sim);
  expect_same_plan(snapshot(world), before, 2);
  world_set_target(sim, 2, 8);
  compare_both_ways(3, 3);
}

}  // namespace
