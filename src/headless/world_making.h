// --generate and --import-map: the runner makes a world file instead of running.
#pragma once

#include <csignal>
#include <cstdio>

#include "headless/options.h"

// Makes the world the options ask for, writes it to the --save file and tells
// what it wrote on out (for a map: the scale, the frame and the robot's start);
// warnings and errors go to err, one line each. Returns the exit code: a bad
// description or an output that is one of the map's own files is a bad argument,
// a map that cannot be taken or a file that cannot be written a file error;
// either way nothing is written.
int make_world_file(const run_options& options, std::FILE* out, std::FILE* err,
                    const volatile std::sig_atomic_t* stop = nullptr);
