// The world finds an impact near an offered point through buckets, the planner
// follows the impacts' cells as impacts arrive, and the field reads the impacts
// from an array that follows the list; all must agree with a walk of the whole
// list whatever way the list changed.
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/world_field.h"
#include "test_support.h"

namespace {

class ImpactLookupTest : public SimulationTest {};

// The acceptance rule, literally: no impact in the list closer than 0.1.
bool literal_accepts(double x, double y) {
  for (const impact_node* i = world.impacts; i != nullptr; i = i->next) {
    const double dx = x - i->x;
    const double dy = y - i->y;
    if (dx * dx + dy * dy < 0.01) return false;
  }
  return true;
}

TEST_F(ImpactLookupTest, OffersAreAcceptedExactlyWhenNoImpactLiesWithinTheMergeDistance) {
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> pos(-1, 11);
  std::uniform_real_distribution<double> near(-0.11, 0.11);
  const double odd[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), 3e9, -1e300};
  int accepted = 0;
  int refused = 0;
  for (int n = 0; n < 6000; ++n) {
    double x = pos(rng);
    double y = pos(rng);
    if (n % 3 == 0 && world.impacts != nullptr) {
      // Close to an existing impact, often right at the merge distance, across
      // bucket edges (multiples of 0.125).
      x = world.impacts->x + near(rng);
      y = world.impacts->y + (n % 2 ? 0.1 : near(rng));
    } else if (n % 97 == 0) {
      x = odd[n % 4];
    } else if (n % 11 == 0) {
      x = std::round(x * 8) / 8;  // on a bucket edge
    }
    const bool expected = literal_accepts(x, y);
    const int before = world.num_impacts;
    world_add_impact(x, y);
    ASSERT_EQ(world.num_impacts == before + 1, expected)
        << "offer " << n << " at " << x << ", " << y;
    expected ? ++accepted : ++refused;
    // The list also changes in other ways: emptied, or impacts put in directly.
    if (n % 1500 == 1499) world_free_impacts();
    if (n % 700 == 5) insert_impact_unplanned(x + 0.05, y);
  }
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(refused, 1000);
}

TEST_F(ImpactLookupTest, PlanningFollowsImpactsHoweverTheListChanges) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> pos(0, 10);
  for (int n = 0; n < 400; ++n) {
    switch (n % 7) {
      case 0:
      case 1:
      case 2:
        world_add_impact(pos(rng), pos(rng));
        break;
      case 3:
        insert_impact_unplanned(pos(rng), pos(rng));
        break;
      case 4:
        if (n % 5 == 0) world_free_impacts();
        break;
      default:
        robot.x = pos(rng);
        robot.y = pos(rng);
    }
    const double tx = world.target_x;
    const double ty = world.target_y;
    std::srand(static_cast<unsigned>(n));
    world_compute_map_grid();
    std::vector<std::int32_t> fast(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    const double fast_tx = world.target_x;
    world.target_x = tx;
    world.target_y = ty;
    std::srand(static_cast<unsigned>(n));
    world_compute_map_grid_by_passes();
    std::vector<std::int32_t> slow(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    ASSERT_EQ(fast, slow) << "step " << n;
    ASSERT_EQ(fast_tx, world.target_x) << "step " << n;
  }
}

TEST_F(ImpactLookupTest, AnImpactInTheMemoryOfAFreedOneIsNotTakenForIt) {
  // Emptying the list and putting as many impacts in again may reuse the freed
  // node's memory: same head, same count, another cell. Try until it does.
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds freed memory back, so it is never reused at once";
#endif
  robot.x = 1.5;
  robot.y = 2.9;
  bool reused = false;
  for (int attempt = 0; attempt < 50 && !reused; ++attempt) {
    world_free_impacts();
    insert_impact_unplanned(5.0, 3.0 + attempt * 0.01);
    world_compute_map_grid();
    const impact_node* before = world.impacts;
    world_free_impacts();
    insert_impact_unplanned(2.0, 8.0);
    reused = world.impacts == before;
    world_compute_map_grid();
    std::vector<std::int32_t> fast(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    world_compute_map_grid_by_passes();
    std::vector<std::int32_t> slow(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    ASSERT_EQ(fast, slow);
  }
  EXPECT_TRUE(reused) << "the allocator never reused the node; the case was not tried";
}

// The nearest impact, literally: the list from its head (the newest), a distance
// counting only when below the best so far, which starts at width * height.
point literal_impact_vector(double x, double y) {
  double best = world.height * world.width;
  const impact_node* nearest = nullptr;
  for (const impact_node* i = world.impacts; i != nullptr; i = i->next) {
    const double dx = x - i->x;
    const double dy = y - i->y;
    const double d2 = dx * dx + dy * dy;
    if (d2 < best) {
      best = d2;
      nearest = i;
    }
  }
  return nearest == nullptr ? point{0, 0} : point{x - nearest->x, y - nearest->y};
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Queries at random points, on impacts, at points with several impacts at exactly
// the same distance (the newest must win), at exactly the cut-off distance, and
// at values that are not finite.
void expect_literal_nearest(std::mt19937_64& rng, int step) {
  std::uniform_real_distribution<double> pos(-2, 12);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<point> queries = {{pos(rng), pos(rng)}, {5, 5}, {0, 0}, {nan, 3}, {inf, inf}};
  if (world.impacts != nullptr) queries.push_back({world.impacts->x, world.impacts->y});
  for (const point& q : queries) {
    point fast;
    compute_impact_vector(q.x, q.y, fast);
    const point slow = world.num_impacts == 0 ? point{0, 0} : literal_impact_vector(q.x, q.y);
    ASSERT_TRUE(same_bits(fast.x, slow.x) && same_bits(fast.y, slow.y))
        << "step " << step << " at " << q.x << ", " << q.y << ": " << fast.x << ", " << fast.y
        << " instead of " << slow.x << ", " << slow.y;
  }
}

TEST_F(ImpactLookupTest, NearestImpactOfTheFieldIsTheLiteralListScanHoweverTheListChanges) {
  world_free_impacts();
  std::mt19937_64 rng(15);
  std::uniform_real_distribution<double> pos(-1, 11);
  const double odd[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), 1e300, -3e9};
  // Around (5, 5) at distance 3/8 in four directions, and around (0, 0) at the
  // cut-off distance 10 exactly: equal squared distances, bit for bit.
  const point equidistant[] = {{5.375, 5}, {4.625, 5}, {5, 5.375}, {5, 4.625}, {6, 8}, {8, 6}};
  for (int n = 0; n < 3000; ++n) {
    const int kind = n % 9;
    if (kind <= 2) {
      world_add_impact(pos(rng), pos(rng));
    } else if (kind == 3) {
      insert_impact_unplanned(pos(rng), pos(rng));
    } else if (kind == 4) {
      const point& p = equidistant[(n / 9) % 6];
      insert_impact_unplanned(p.x, p.y);
    } else if (kind == 5 && n % 4 == 1) {
      insert_impact_unplanned(odd[(n / 4) % 5], pos(rng));
    } else if (kind == 6 && world.impacts != nullptr) {
      insert_impact_unplanned(world.impacts->x, world.impacts->y);  // a copy of the newest
    } else if (kind == 7 && n % 5 == 0) {
      // Several impacts at once between two looks.
      for (int k = 0; k < 3; ++k) insert_impact_unplanned(pos(rng), pos(rng));
    } else if (kind == 8 && n % 400 == 8) {
      world_free_impacts();
    }
    expect_literal_nearest(rng, n);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(world.num_impacts, 100);
}

TEST_F(ImpactLookupTest, NearestImpactAfterTheListIsEmptiedAndRefilledInTheSameMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds freed memory back, so it is never reused at once";
#endif
  bool reused = false;
  for (int attempt = 0; attempt < 50 && !reused; ++attempt) {
    world_free_impacts();
    insert_impact_unplanned(5.0, 3.0 + attempt * 0.01);
    point v;
    compute_impact_vector(5, 5, v);
    const impact_node* before = world.impacts;
    world_free_impacts();
    insert_impact_unplanned(2.0, 8.0);
    reused = world.impacts == before;
    compute_impact_vector(5, 5, v);
    ASSERT_EQ(v.x, 3.0);
    ASSERT_EQ(v.y, -3.0);
  }
  EXPECT_TRUE(reused) << "the allocator never reused the node; the case was not tried";
}

}  // namespace
