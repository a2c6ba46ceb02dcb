// One reset for the whole simulator: every piece of state of every layer back to
// its program-start value, so that a simulator used for several runs (tests,
// benchmarks, fuzz inputs, batch runs) starts each as a fresh program does.
#pragma once

struct simulator;

// Afterwards the world is empty (no lists, no drawing objects, zero size), the
// robot record zeroed, the automatic mode's timers idle, the planner without a
// stored wavefront and with zero counters, the driver's flags and both mouse
// buttons as at start-up, no off-screen image, the console on standard error, the
// real clock in use and the random generator as before any seeding: the state of
// a simulator just made. The caller then sets up what its run needs (a console
// sink, the simulated clock, system_startup or world_setup).
void simulation_reset(simulator& app);
