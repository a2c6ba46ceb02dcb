// The impacts' coordinates in one contiguous array, oldest first, and a grid of
// them over the world's extent, for the field's search for the nearest impact.
//
// The array follows the impact list by itself: impacts put at the head are taken
// in at the next look, any other change fills it afresh, and world_free_impacts()
// tells it to start over (a freed node's memory may come back for a new one).
#pragma once

#include <vector>

#include "core/utility.h"

// The impacts of world.impacts, oldest first (the list's order reversed).
const std::vector<point>& impact_array_oldest_first();

// The impact nearest to (x, y) among those whose squared distance
// dx * dx + dy * dy is below `limit`, ties going to the newest; nullptr if there
// is none. Exactly what a scan of the list from its head (the newest) finds when
// it takes an impact only if its squared distance is below the best so far,
// starting from `limit`. Looks only at the grid cells near (x, y) where it can.
const point* impact_array_nearest(double x, double y, double limit);

// The impact list was emptied.
void impact_array_forget();
