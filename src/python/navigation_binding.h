// The C++ sides of robosim.env's environments: robosim._robosim._Navigation
// (one NavigationEnv's episodes, here) and robosim._robosim._VectorNavigation (a
// VectorNavigationEnv's, vector_navigation_binding.h). The Python classes check
// their own arguments and options, keep the seeds and the spaces, and call these
// for everything that runs per step, so that a step runs no Python code but the
// caller's.
#pragma once

#include <pybind11/pybind11.h>

void bind_navigation(pybind11::module_& m);
