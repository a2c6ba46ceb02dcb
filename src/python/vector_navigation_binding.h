// robosim._robosim._VectorNavigation, the C++ side of
// robosim.env.VectorNavigationEnv (vector_navigation.h): the batch's arrays,
// its seeds and actions read from Python, and the lock its calls hold.
#pragma once

#include <pybind11/pybind11.h>

void bind_vector_navigation(pybind11::module_& m);
