// What a robosim.Simulation gives out: pictures (render), films (record_gif)
// and the run's statistics (stats).
#pragma once

#include "python/binding_support.h"

void bind_simulation_output(simulation_class& c);
