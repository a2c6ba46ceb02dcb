#include "core/impact_array.h"

#include <algorithm>
#include <cstdint>

#include "core/world.h"

namespace {

struct impact_array {
  const impact_node* head = nullptr;
  std::int32_t count = 0;
  std::vector<point> oldest_first;
};

impact_array array;

void remember_list_state() {
  array.head = world.impacts;
  array.count = world.num_impacts;
}

void fill_afresh() {
  array.oldest_first.clear();
  for (const impact_node* impact = world.impacts; impact != nullptr; impact = impact->next) {
    array.oldest_first.push_back(point{impact->x, impact->y});
  }
  std::reverse(array.oldest_first.begin(), array.oldest_first.end());
}

// Impacts put at the head since the last look, when that is all that happened.
bool take_in_new_impacts() {
  const std::int32_t added = world.num_impacts - array.count;
  if (added <= 0) return false;
  std::vector<point> fresh;
  const impact_node* impact = world.impacts;
  while (impact != nullptr && impact != array.head &&
         static_cast<std::int32_t>(fresh.size()) < added) {
    fresh.push_back(point{impact->x, impact->y});
    impact = impact->next;
  }
  if (impact != array.head || static_cast<std::int32_t>(fresh.size()) != added) return false;
  array.oldest_first.insert(array.oldest_first.end(), fresh.rbegin(), fresh.rend());
  return true;
}

}  // namespace

const std::vector<point>& impact_array_oldest_first() {
  if (world.impacts != array.head || world.num_impacts != array.count) {
    if (!take_in_new_impacts()) fill_afresh();
    remember_list_state();
  }
  return array.oldest_first;
}

void impact_array_forget() {
  array = impact_array{};
}
