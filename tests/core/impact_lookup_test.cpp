// The world finds an impact near an offered point through buckets, the planner
// follows the impacts' cells as impacts arrive, and the field reads the impacts
// from an array that follows the list; all must agree with a walk of the whole
// list whatever way the list changed.
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "core/impact_array.h"
#include "core/world_field.h"
#include "test_support.h"

namespace {

class ImpactLookupTest : public SimulationTest {};

// The acceptance rule, literally: no impact in the list closer than 0.1.
bool literal_accepts(world_state& world, double x, double y) {
  for (const impact_node* i = world.impacts; i != nullptr; i = i->next) {
    const double dx = x - i->x;
    const double dy = y - i->y;
    if (dx * dx + dy * dy < 0.01) return false;
  }
  return true;
}

// Offers around an origin: near the world, and far from it, where the
// coordinates' own rounding is larger than a bucket's margins.
TEST_F(ImpactLookupTest, OffersAreAcceptedExactlyWhenNoImpactLiesWithinTheMergeDistance) {
  for (const double origin : {0.0, 1e8, -3e5}) {
    world_free_impacts(sim);
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> pos(origin - 1, origin + 11);
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
      } else if (n % 13 == 0 && world.impacts != nullptr) {
        // 0.1 away along one axis from an impact on a bucket edge.
        x = std::round(world.impacts->x * 8) / 8;
        insert_impact_unplanned(sim, x, y);
        x += n % 2 ? 0.1 : -0.1;
      }
      const bool expected = literal_accepts(world, x, y);
      const int before = world.num_impacts;
      world_add_impact(sim, x, y);
      ASSERT_EQ(world.num_impacts == before + 1, expected)
          << "offer " << n << " at " << x << ", " << y << " about " << origin;
      expected ? ++accepted : ++refused;
      // The list also changes in other ways: emptied, or impacts put in directly.
      if (n % 1500 == 1499) world_free_impacts(sim);
      if (n % 700 == 5) insert_impact_unplanned(sim, x + 0.05, y);
    }
    EXPECT_GT(accepted, 1000) << origin;
    EXPECT_GT(refused, 1000) << origin;
  }
}

TEST_F(ImpactLookupTest, PlanningFollowsImpactsHoweverTheListChanges) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> pos(0, 10);
  for (int n = 0; n < 400; ++n) {
    switch (n % 7) {
      case 0:
      case 1:
      case 2:
        world_add_impact(sim, pos(rng), pos(rng));
        break;
      case 3:
        insert_impact_unplanned(sim, pos(rng), pos(rng));
        break;
      case 4:
        if (n % 5 == 0) world_free_impacts(sim);
        break;
      default:
        robot.x = pos(rng);
        robot.y = pos(rng);
    }
    const double tx = world.target_x;
    const double ty = world.target_y;
    sim.rng.seed(static_cast<unsigned>(n));
    world_compute_map_grid(sim);
    std::vector<std::int32_t> fast(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    const double fast_tx = world.target_x;
    world.target_x = tx;
    world.target_y = ty;
    sim.rng.seed(static_cast<unsigned>(n));
    world_compute_map_grid_by_passes(sim);
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
    world_free_impacts(sim);
    insert_impact_unplanned(sim, 5.0, 3.0 + attempt * 0.01);
    world_compute_map_grid(sim);
    const impact_node* before = world.impacts;
    world_free_impacts(sim);
    insert_impact_unplanned(sim, 2.0, 8.0);
    reused = world.impacts == before;
    world_compute_map_grid(sim);
    std::vector<std::int32_t> fast(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    world_compute_map_grid_by_passes(sim);
    std::vector<std::int32_t> slow(&world.map[0][0], &world.map[0][0] + kMapSize * kMapSize);
    ASSERT_EQ(fast, slow);
  }
  EXPECT_TRUE(reused) << "the allocator never reused the node; the case was not tried";
}

// The nearest impact below any limit, literally: from the newest, the first with
// a smaller squared distance than the best so far.
const impact_node* literal_nearest_below(world_state& world, double x, double y, double limit) {
  double best = limit;
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
  return nearest;
}

// The field's vector to the nearest impact, literally: the limit starts at
// width * height.
point literal_impact_vector(world_state& world, double x, double y) {
  const impact_node* nearest = literal_nearest_below(world, x, y, world.height * world.width);
  return nearest == nullptr ? point{0, 0} : point{x - nearest->x, y - nearest->y};
}

// Queries at random points, on impacts, at points with several impacts at exactly
// the same distance (the newest must win), at exactly the cut-off distance, and
// at values that are not finite.
void expect_literal_nearest(simulation& sim, std::mt19937_64& rng, int step) {
  world_state& world = sim.world;
  std::uniform_real_distribution<double> pos(-2, 12);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<point> queries = {{pos(rng), pos(rng)}, {5, 5}, {0, 0}, {nan, 3}, {inf, inf}};
  if (world.impacts != nullptr) queries.push_back({world.impacts->x, world.impacts->y});
  for (const point& q : queries) {
    point fast;
    compute_impact_vector(sim, q.x, q.y, fast);
    const point slow =
        world.num_impacts == 0 ? point{0, 0} : literal_impact_vector(world, q.x, q.y);
    ASSERT_TRUE(same_bits(fast.x, slow.x) && same_bits(fast.y, slow.y))
        << "step " << step << " at " << q.x << ", " << q.y << ": " << fast.x << ", " << fast.y
        << " instead of " << slow.x << ", " << slow.y;
  }
}

TEST_F(ImpactLookupTest, NearestImpactOfTheFieldIsTheLiteralListScanHoweverTheListChanges) {
  world_free_impacts(sim);
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
      world_add_impact(sim, pos(rng), pos(rng));
    } else if (kind == 3) {
      insert_impact_unplanned(sim, pos(rng), pos(rng));
    } else if (kind == 4) {
      const point& p = equidistant[(n / 9) % 6];
      insert_impact_unplanned(sim, p.x, p.y);
    } else if (kind == 5 && n % 4 == 1) {
      insert_impact_unplanned(sim, odd[(n / 4) % 5], pos(rng));
    } else if (kind == 6 && world.impacts != nullptr) {
      insert_impact_unplanned(sim, world.impacts->x, world.impacts->y);  // a copy of the newest
    } else if (kind == 7 && n % 5 == 0) {
      // Several impacts at once between two looks.
      for (int k = 0; k < 3; ++k) insert_impact_unplanned(sim, pos(rng), pos(rng));
    } else if (kind == 8 && n % 400 == 8) {
      world_free_impacts(sim);
    }
    expect_literal_nearest(sim, rng, n);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(world.num_impacts, 100);
}

// Many impacts over worlds of many extents, so that the search reads rings of
// grid cells: impacts clustered in one cell, on the cells' edges, on the world's
// edges, outside it and not finite, copies of one another (equal distances);
// queries inside and far outside, on impacts and on cell edges, with limits from
// 0 to the world's own. The extent changes under impacts already in place.
TEST_F(ImpactLookupTest, NearestImpactAmongManyIsTheLiteralScanOverEveryExtentAndLimit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const point extents[] = {{10, 10},  {3.7, 25}, {0.001, 0.001}, {1e5, 1e5}, {2e6, 2e6},
                           {nan, 10}, {0, 10},   {-10, 10},      {10, inf}};
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> unit(0, 1);
  int queries = 0;
  for (int round = 0; round < 4; ++round) {
    world_free_impacts(sim);
    for (const point& extent : extents) {
      world.width = extent.x;
      world.height = extent.y;
      const double w = std::isfinite(extent.x) && extent.x > 0 ? extent.x : 10;
      const double h = std::isfinite(extent.y) && extent.y > 0 ? extent.y : 10;
      const auto at = [&](double fx, double fy) { return point{fx * w, fy * h}; };
      for (int n = 0; n < 150; ++n) {
        point p = at(unit(rng) * 1.2 - 0.1, unit(rng) * 1.2 - 0.1);
        const int kind = n % 10;
        if (kind == 0) {  // a cluster in one cell
          p = at(0.5 + unit(rng) * 0.01, 0.5 + unit(rng) * 0.01);
        } else if (kind == 1) {  // on a cell edge
          p = at((n % 33) / 32.0, unit(rng));
        } else if (kind == 2) {  // on the world's edge
          p = at(n % 2, unit(rng));
        } else if (kind == 3 && world.impacts != nullptr) {  // a copy of the newest
          p = {world.impacts->x, world.impacts->y};
        } else if (kind == 4) {
          p = {n % 20 == 4 ? nan : 1e300, unit(rng)};
        } else if (kind == 5) {  // four at one distance around a cell corner: newest wins
          const point c = at(0.25, 0.75);
          const double d = w / 64;
          for (const point& e : {point{d, 0}, point{-d, 0}, point{0, d}, point{0, -d}})
            insert_impact_unplanned(sim, c.x + e.x, c.y + e.y);
        }
        insert_impact_unplanned(sim, p.x, p.y);
      }
      for (int q = 0; q < 300; ++q) {
        point query = at(unit(rng) * 1.4 - 0.2, unit(rng) * 1.4 - 0.2);
        if (q % 7 == 0) query = at((q % 33) / 32.0, (q % 31) / 32.0);
        if (q % 11 == 0) query = {world.impacts->x, world.impacts->y};
        if (q % 13 == 0) query = at(1e4, -3e3);
        if (q % 23 == 0) query = at(0.25, 0.75);
        double limit = world.width * world.height;
        if (q % 5 == 1) limit = unit(rng) * unit(rng) * w * w * 0.01;
        if (q % 17 == 2) limit = 0;
        const point* fast = impact_array_nearest(sim, query.x, query.y, limit);
        const impact_node* slow = literal_nearest_below(world, query.x, query.y, limit);
        ASSERT_EQ(fast == nullptr, slow == nullptr)
            << "extent " << extent.x << " x " << extent.y << ", query " << query.x << ", "
            << query.y << ", limit " << limit;
        if (fast != nullptr) {
          ASSERT_TRUE(same_bits(fast->x, slow->x) && same_bits(fast->y, slow->y))
              << "extent " << extent.x << " x " << extent.y << ", query " << query.x << ", "
              << query.y << ": " << fast->x << ", " << fast->y << " instead of " << slow->x << ", "
              << slow->y;
        }
        ++queries;
      }
    }
  }
  EXPECT_GT(world.num_impacts, 1000);
  EXPECT_EQ(queries, 4 * 9 * 300);
}

// In a 32 x 32 world the cells are 1 x 1. From (10.5, 10.5) the first cell read
// holds an older impact 0.5 away; a newer one exactly as far lies just across the
// cell's edge, in a cell not read yet. The search must read on and take it.
TEST_F(ImpactLookupTest, ATieJustBeyondTheCellsReadSoFarGoesToTheNewerImpact) {
  world_free_impacts(sim);
  world.width = 32;
  world.height = 32;
  for (int n = 0; n < 120; ++n) insert_impact_unplanned(sim, 30 + n * 0.01, 30);  // far off
  insert_impact_unplanned(sim, 10.5, 10.0);  // older, in the query's own cell
  insert_impact_unplanned(sim, 11.0, 10.5);  // newer, on the edge of the next cell
  const point* nearest = impact_array_nearest(sim, 10.5, 10.5, world.width * world.height);
  ASSERT_NE(nearest, nullptr);
  EXPECT_EQ(nearest->x, 11.0);
  EXPECT_EQ(nearest->y, 10.5);
}

TEST_F(ImpactLookupTest, NearestImpactAfterTheListIsEmptiedAndRefilledInTheSameMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds freed memory back, so it is never reused at once";
#endif
  bool reused = false;
  for (int attempt = 0; attempt < 50 && !reused; ++attempt) {
    world_free_impacts(sim);
    insert_impact_unplanned(sim, 5.0, 3.0 + attempt * 0.01);
    point v;
    compute_impact_vector(sim, 5, 5, v);
    const impact_node* before = world.impacts;
    world_free_impacts(sim);
    insert_impact_unplanned(sim, 2.0, 8.0);
    reused = world.impacts == before;
    compute_impact_vector(sim, 5, 5, v);
    ASSERT_EQ(v.x, 3.0);
    ASSERT_EQ(v.y, -3.0);
  }
  EXPECT_TRUE(reused) << "the allocator never reused the node; the case was not tried";
}

}  // namespace
