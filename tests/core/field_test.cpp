// The potential field: repulsion from the nearest impact, attraction to the
// current waypoint, the grid's pull of fixed length, and the signed magnitude sum.
#include <cmath>
#include <string>

#include "core/portable_math.h"
#include "core/world_field.h"
#include "test_support.h"

namespace {

constexpr char kNotFound[] = "waypoint not found\n";

class FieldTest : public SimulationTest {
 protected:
  void SetUp() override {
    SimulationTest::SetUp();
    // No impacts, no waypoints and a grid whose navigation vector is zero
    // everywhere; each test adds the terms it looks at.
    world_free_impacts(sim);
    world_free_waypoints(sim);
    fill_map(sim, 0);
    console_text.clear();
  }

  void add_current_waypoint(double x, double y) {
    world_add_waypoint(sim, x, y, 0);
    world.waypoints->index = 0;
    world.cur_waypoint = 0;
  }

  struct field {
    double angle = -99;
    double magnitude = -99;
  };
  field at(double x, double y) {
    field f;
    compute_grad_point(sim, x, y, f.angle, f.magnitude);
    return f;
  }
};

const double kRepulsionAt345 = 0.11 / std::sqrt(5.0);  // scale1 / sqrt(distance)

TEST_F(FieldTest, NoTermsGiveAngleZeroAndMagnitudeZero) {
  const auto f = at(3, 4);
  EXPECT_EQ(f.angle, 0);
  EXPECT_EQ(f.magnitude, 0);
  EXPECT_TRUE(console_text.empty());
}

// ---------------------------------------------------------------------------
// Impact repulsion

TEST_F(FieldTest, ImpactRepulsionFallsOffWithTheSquareRootOfTheDistance) {
  insert_impact_unplanned(sim, 0, 0);
  point v;
  compute_impact_vector(sim, 3, 4, v);
  EXPECT_EQ(v.x, 3);
  EXPECT_EQ(v.y, 4);
  const auto f = at(3, 4);
  EXPECT_NEAR(f.magnitude, kRepulsionAt345, 1e-15);
  EXPECT_NEAR(f.magnitude, 0.0492, 1e-4);
  EXPECT_NEAR(f.angle, portable_atan2(4.0, 3.0), 1e-15);
  // The vector itself: about (0.0295, 0.0394).
  EXPECT_NEAR(f.magnitude * portable_cos(f.angle), 0.11 * 3 / portable_pow(5.0, 1.5), 1e-15);
  EXPECT_NEAR(f.magnitude * portable_sin(f.angle), 0.11 * 4 / portable_pow(5.0, 1.5), 1e-15);
}

TEST_F(FieldTest, ImpactsAtTheCutOffDistanceOrBeyondAreIgnored) {
  insert_impact_unplanned(sim, 0, 0);
  point v{1, 1};
  compute_impact_vector(sim, 9, 9, v);  // 162 is not below 100
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, 0);
  EXPECT_EQ(at(9, 9).magnitude, 0);
  compute_impact_vector(sim, 6, 8, v);  // exactly 100
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, 0);
  compute_impact_vector(sim, 6, 7.99, v);  // just inside
  EXPECT_EQ(v.x, 6);
  EXPECT_EQ(v.y, 7.99);
}

TEST_F(FieldTest, CutOffIsTheProductOfTheExtents) {
  insert_impact_unplanned(sim, 0, 0);
  world.width = 20;
  world.height = 10;  // cut-off 200 > 162
  point v;
  compute_impact_vector(sim, 9, 9, v);
  EXPECT_EQ(v.x, 9);
  EXPECT_EQ(v.y, 9);
  world.width = 10;
}

TEST_F(FieldTest, PointOnAnImpactGetsNoRepulsionEvenWithOthersNear) {
  insert_impact_unplanned(sim, 3.5, 3);
  insert_impact_unplanned(sim, 3, 3);
  insert_impact_unplanned(sim, 2.5, 3);
  point v{1, 1};
  compute_impact_vector(sim, 3, 3, v);
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, 0);
  const auto f = at(3, 3);
  EXPECT_EQ(f.magnitude, 0);
  EXPECT_EQ(f.angle, 0);
}

TEST_F(FieldTest, NearestImpactWinsAndTiesGoToTheNewest) {
  insert_impact_unplanned(sim, 2, 5);
  insert_impact_unplanned(sim, 8, 5);  // newest, at the head
  point v;
  compute_impact_vector(sim, 5, 5, v);
  EXPECT_EQ(v.x, -3);
  EXPECT_EQ(v.y, 0);
  compute_impact_vector(sim, 4.9, 5, v);  // nearer the older one
  EXPECT_DOUBLE_EQ(v.x, 2.9);

  world_free_impacts(sim);
  insert_impact_unplanned(sim, 8, 5);
  insert_impact_unplanned(sim, 2, 5);  // now the newest
  compute_impact_vector(sim, 5, 5, v);
  EXPECT_EQ(v.x, 3);
}

TEST_F(FieldTest, NegativeRepulsionGainAttractsButStillAddsToTheMagnitude) {
  insert_impact_unplanned(sim, 0, 0);
  world.scale1 = -0.11;
  const auto f = at(3, 4);
  EXPECT_NEAR(f.magnitude, kRepulsionAt345, 1e-15);
  EXPECT_NEAR(f.angle, portable_atan2(-4.0, -3.0), 1e-15);
}

// ---------------------------------------------------------------------------
// Waypoint attraction

TEST_F(FieldTest, WaypointAttractionPullsTowardItAndLowersTheMagnitude) {
  add_current_waypoint(5, 5);
  point v;
  compute_waypoint_vector(sim, 6, 5, v);
  EXPECT_EQ(v.x, 1);
  EXPECT_EQ(v.y, 0);
  auto f = at(6, 5);
  EXPECT_DOUBLE_EQ(f.magnitude, -0.86);
  EXPECT_DOUBLE_EQ(f.angle, kPi);
  // It grows linearly with the distance.
  f = at(8, 5);
  EXPECT_DOUBLE_EQ(f.magnitude, -3 * 0.86);
  f = at(5, 2);
  EXPECT_DOUBLE_EQ(f.magnitude, -3 * 0.86);
  EXPECT_DOUBLE_EQ(f.angle, kPi / 2);
  EXPECT_TRUE(console_text.empty());
}

TEST_F(FieldTest, PointOnTheWaypointGetsNoAttraction) {
  add_current_waypoint(5, 5);
  const auto f = at(5, 5);
  EXPECT_EQ(f.magnitude, 0);
  EXPECT_TRUE(console_text.empty());
}

TEST_F(FieldTest, WaypointIsFoundByItsIndexAndTheLastMatchingNodeCounts) {
  world_add_waypoint(sim, 9, 9, 0);
  world_add_waypoint(sim, 1, 1, 0);
  world_add_waypoint(sim, 7, 7, 0);  // head
  world_add_waypoint(sim, 3, 3, 0);
  int index = 0;
  for (waypoint_node* w = world.waypoints; w; w = w->next) w->index = index++;
  // Indices from the head: (3,3) 0, (7,7) 1, (1,1) 2, (9,9) 3.
  world.cur_waypoint = 2;
  point v;
  compute_waypoint_vector(sim, 2, 2, v);
  EXPECT_EQ(v.x, 1);
  EXPECT_EQ(v.y, 1);
  // Two nodes with the current index: the one nearer the tail is used.
  world.waypoints->next->index = 2;  // (7,7) also claims index 2
  compute_waypoint_vector(sim, 2, 2, v);
  EXPECT_EQ(v.x, 1);
  EXPECT_EQ(v.y, 1);
  world.waypoints->next->next->index = 5;  // now only (7,7) has index 2
  compute_waypoint_vector(sim, 2, 2, v);
  EXPECT_EQ(v.x, -5);
  EXPECT_EQ(v.y, -5);
}

TEST_F(FieldTest, MissingCurrentWaypointIsReportedOncePerEvaluation) {
  world_add_waypoint(sim, 5, 5, 0);
  world_add_waypoint(sim, 6, 6, 0);
  world.waypoints->index = 0;
  world.waypoints->next->index = 1;
  world.cur_waypoint = 7;
  auto f = at(3, 4);
  EXPECT_EQ(console_text, kNotFound);
  EXPECT_EQ(f.magnitude, 0);  // no attraction, nothing else either
  f = at(3, 4);
  f = at(8, 1);
  EXPECT_EQ(console_text, std::string(kNotFound) + kNotFound + kNotFound);

  console_text.clear();
  point v{1, 1};
  compute_waypoint_vector(sim, 3, 4, v);
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, 0);
  EXPECT_EQ(console_text, kNotFound);
}

TEST_F(FieldTest, NoWaypointsAtAllIsSilent) {
  world.cur_waypoint = 3;
  point v{1, 1};
  compute_waypoint_vector(sim, 3, 4, v);
  EXPECT_EQ(v.x, 0);
  EXPECT_EQ(v.y, 0);
  at(3, 4);
  EXPECT_TRUE(console_text.empty());
}

// ---------------------------------------------------------------------------
// Grid term and the sum

TEST_F(FieldTest, GridTermHasTheLengthOfItsGainWhateverTheVectorsLength) {
  // Cell (22, 30) holds (3, 4); only its neighbour at (-1, 0) is non-zero, so the
  // navigation vector points along +x with length 10.
  ASSERT_EQ(get_map_x(sim, 3), 22);
  ASSERT_EQ(get_map_y(sim, 4), 30);
  world.map[21][30] = 10;
  auto f = at(3, 4);
  EXPECT_NEAR(f.magnitude, 0.193, 1e-15);
  EXPECT_NEAR(f.angle, 0, 1e-15);
  world.map[21][30] = 4000;
  f = at(3, 4);
  EXPECT_NEAR(f.magnitude, 0.193, 1e-15);
  // A negative gain flips the pull but still adds its length.
  world.scale3 = -0.193;
  f = at(3, 4);
  EXPECT_NEAR(f.magnitude, 0.193, 1e-15);
  EXPECT_NEAR(std::fabs(f.angle), kPi, 1e-14);
}

TEST_F(FieldTest, MagnitudeIsRepulsionMinusAttractionPlusNavigation) {
  insert_impact_unplanned(sim, 0, 0);
  add_current_waypoint(4, 4);  // (3, 4) - (4, 4) = (-1, 0)
  world.map[21][30] = 10;      // navigation along +x
  const auto f = at(3, 4);
  EXPECT_NEAR(f.magnitude, kRepulsionAt345 - 0.86 + 0.193, 1e-14);
  const double fx = 0.11 * 3 / portable_pow(5.0, 1.5) + 0.86 + 0.193;
  const double fy = 0.11 * 4 / portable_pow(5.0, 1.5);
  EXPECT_NEAR(f.angle, portable_atan2(fy, fx), 1e-14);
  EXPECT_TRUE(console_text.empty());
}

TEST_F(FieldTest, MagnitudeIsNegativeWhereTheWaypointsPullDominates) {
  insert_impact_unplanned(sim, 0, 0);
  add_current_waypoint(9, 9);
  const auto f = at(3, 4);
  EXPECT_LT(f.magnitude, 0);
  EXPECT_NEAR(f.magnitude, kRepulsionAt345 - 0.86 * std::hypot(6.0, 5.0), 1e-13);
}

}  // namespace
