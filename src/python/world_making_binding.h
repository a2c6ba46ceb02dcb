// Making world files from Python (python/world_making.h): robosim.generate_world,
// robosim.import_map and the robosim.MapImport it returns.
#pragma once

#include <pybind11/pybind11.h>

void bind_world_making(pybind11::module_& m);
