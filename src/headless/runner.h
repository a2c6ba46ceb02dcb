// The headless runner: the window's start-up and tick on a simulated clock, with
// key scripts, world files, a trace, a picture and a summary.
#pragma once

#include <csignal>
#include <cstdio>

#include "headless/options.h"
#include "headless/summary.h"
#include "shell/simulated_run.h"
#include "shell/trace.h"

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;
constexpr int kExitBadArguments = 2;
// A run ended by a signal exits with 128 + the signal's number (130 for Ctrl-C).
constexpr int kExitSignalBase = 128;
constexpr int kExitShortfall = 3;  // --require-targets or --max-stuck-seconds not met
constexpr int kExitNotFinite = 4;  // the simulation's state overflowed (see first_non_finite_value)

// Runs the simulation the options describe; the summary goes to out, messages
// (one line each) to err. Returns the exit code. stop, when given, is polled
// between ticks; once it is non-zero (the number of the signal that asked to
// stop) the run ends without writing any file and returns 128 + that number.
int run_headless(const run_options& options, std::FILE* out, std::FILE* err,
                 const volatile std::sig_atomic_t* stop = nullptr);
