#include "core/simulation.h"

simulation::simulation(const simulation& other) : simulation_data(other) {
  world_copy_lists(other.world, world);
}

simulation& simulation::operator=(const simulation& other) {
  if (this == &other) return *this;
  world_free_lists(world);
  simulation_data::operator=(other);
  world_copy_lists(other.world, world);
  return *this;
}

simulation::~simulation() {
  world_free_lists(world);
}
