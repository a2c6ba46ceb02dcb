// One reset for the whole simulation: every piece of per-run state of every layer
// back to its program-start value, so that several runs in one process (tests,
// benchmarks, fuzz inputs, batch runs) each start as a fresh program does.
#pragma once

// Afterwards the world is empty (no lists, no drawing objects, zero size), the
// robot record zeroed, the automatic mode's timers idle, the planner without a
// stored wavefront and with zero counters, every driver global and both mouse
// buttons as at start-up, no off-screen image, the console on standard error, the
// real clock in use and the random generator as before any seeding. The caller
// then sets up what its run needs (a console sink, the simulated clock,
// system_startup or world_setup).
//
// A new piece of per-run state belongs to its unit's reset function, which this
// calls; docs/architecture.md lists them.
void simulation_reset();
