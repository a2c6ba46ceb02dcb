// robosim.Simulation over a session: its construction, its life (close, with),
// copies and pickling, running ticks and driving (here), what it holds of the
// world (simulation_world_binding.h), and its pictures, films and statistics
// (simulation_output_binding.h).
//
// Every Simulation owns its simulation, so any number can be open at once, on
// any threads. Each call holds the simulation's mutex (waiting for it with
// Python's lock let go), so one simulation used from two threads is used by one
// at a time; the long calls (step, record_gif, render) let go of Python's lock
// while they run, so simulations on different threads run at the same time.
#pragma once

#include <pybind11/pybind11.h>

void bind_simulation(pybind11::module_& m);
