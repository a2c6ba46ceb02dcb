// The impacts' coordinates in one contiguous array, oldest first, so that the
// field's search for the nearest impact reads memory in order instead of
// chasing list nodes.
//
// The array follows the impact list by itself: impacts put at the head are taken
// in at the next look, any other change fills it afresh, and world_free_impacts()
// tells it to start over (a freed node's memory may come back for a new one).
#pragma once

#include <vector>

#include "core/utility.h"

// The impacts of world.impacts, oldest first (the list's order reversed).
const std::vector<point>& impact_array_oldest_first();

// The impact list was emptied.
void impact_array_forget();
