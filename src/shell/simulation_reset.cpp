#include "shell/simulation_reset.h"

#include "shell/simulator.h"

void simulation_reset(simulator& app) {
  // The image first: it belongs to the world that is going.
  app.memdc.reset();
  app = simulator();
}
