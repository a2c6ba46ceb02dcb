// Quick looks at the impacts: their coordinates in one contiguous array, oldest
// first, with a grid of them over the world's extent, for the field's search for
// the nearest impact; and buckets a little wider than the merge distance, for the
// test whether an offered impact lies close to one already recorded.
//
// Both follow the impact list by themselves: impacts put at the head are taken
// in at the next look, any other change fills them afresh, and
// world_free_impacts() tells them to start over (a freed node's memory may come
// back for a new one). They are a simulation's caches: a copy starts without them.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/utility.h"
#include "core/world.h"

// Impacts closer than this to an offered one make the offer merge with them.
constexpr double kImpactMergeDistance = 0.1;

// The array and its grid. Only impact_array.cpp reads the fields.
struct impact_array_state {
  static constexpr int kGridSide = 32;

  const impact_node* head = nullptr;  // the list as it was at the last look
  std::int32_t count = 0;
  std::vector<point> oldest_first;
  std::uint64_t generation = 1;  // changes whenever the array is filled afresh

  // The grid: the world's extent cut into kGridSide x kGridSide cells, each with
  // the array positions of its impacts in ascending order; impacts outside the
  // extent (or not finite) in a side list.
  bool grid_usable = false;
  double grid_width = 0.0;  // the extent the cells were cut for
  double grid_height = 0.0;
  double cell_w = 0.0;
  double cell_h = 0.0;
  std::vector<std::int32_t> cells[kGridSide][kGridSide];
  std::vector<std::int32_t> outside;
  std::size_t taken_in = 0;  // array positions below this are in the grid
  std::uint64_t grid_generation = 0;
};

// The impacts of the world's list, oldest first (the list's order reversed).
const std::vector<point>& impact_array_oldest_first(const simulation& sim);

// The impact nearest to (x, y) among those whose squared distance
// dx * dx + dy * dy is below `limit`, ties going to the newest; nullptr if there
// is none. Exactly what a scan of the list from its head (the newest) finds when
// it takes an impact only if its squared distance is below the best so far,
// starting from `limit`. Looks only at the grid cells near (x, y) where it can.
const point* impact_array_nearest(const simulation& sim, double x, double y, double limit);

// The impact list was emptied.
void impact_array_forget(simulation& sim);

// The impacts by square buckets a little wider than the merge distance, so that
// the test "is an impact closer than 0.1" looks at the buckets around a point
// instead of the whole list. It is only a yes or no, so the order in which
// impacts are looked at does not matter. Impacts with coordinates beyond
// kBucketedRange (or not finite) are kept apart and always looked at.
class impact_buckets {
 public:
  bool any_within_merge_distance(const world_state& world, double x, double y);
  void forget();

 private:
  static constexpr double kBucketSide = 0.125;  // above the merge distance
  static constexpr double kBucketedRange = 1e9;

  static bool close(const impact_node* impact, double x, double y);
  static bool bucketed(double x, double y);
  static std::int64_t bucket_of(double v);
  static std::uint64_t key(std::int64_t i, std::int64_t j);
  bool any_in_list(const world_state& world, double x, double y);
  bool remember(const impact_node* impact);
  void add(const impact_node* impact);
  void refresh(const world_state& world);

  std::unordered_map<std::uint64_t, std::vector<const impact_node*>> buckets_;
  std::vector<const impact_node*> outside_;
  const impact_node* head_ = nullptr;
  std::int32_t count_ = 0;
  const impact_node* last_close_ = nullptr;  // in the list while head_ and count_ hold
};
