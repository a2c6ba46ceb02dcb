// The extension module robosim._robosim, bound one class at a time:
//   RobotState                   robot_state_binding.h
//   Simulation                   simulation_binding.h (and its world and output parts)
//   _Navigation, _VectorNavigation   navigation_binding.h: the C++ sides of
//                                robosim.env's environments
//   generate_world, import_map, MapImport   world_making_binding.h
// and the constants below. Arguments are checked before anything changes: a
// wrong type is a TypeError, a value out of range (NaN, infinities, negative
// counts, sizes outside the headless runner's limits) a ValueError
// (binding_support.h). Every argument can be given by its name, and every
// member has a docstring beside its binding; robosim/_robosim.pyi gives the
// types.
//
// numpy's C interface is set up when the module loads, if numpy is there (two
// threads setting it up at once on first use could deadlock); the module itself
// imports without numpy, only the members that return arrays need it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "core/map.h"
#include "python/binding_support.h"
#include "python/navigation.h"
#include "python/navigation_binding.h"
#include "python/robot_state_binding.h"
#include "python/simulation_binding.h"
#include "python/world_making_binding.h"
#include "shell/run_metrics.h"
#include "shell/scene.h"

namespace {

// Set up numpy's C interface now, while one thread loads the module; without
// numpy the members that return arrays say so when called.
void load_numpy() {
  try {
    py::module_::import("numpy");
    (void)py::detail::npy_api::get();
  } catch (py::error_already_set&) {
    PyErr_Clear();
  }
}

// robosim._robosim.RUN_METRICS: the table of run metrics, one dict a metric.
py::tuple run_metrics_tuple() {
  py::list rows;
  for (const run_metric& metric : run_metrics_table()) {
    py::dict row;
    row["name"] = metric.name;
    row["description"] = metric.description;
    row["unit"] = metric.unit;
    row["decimals"] = metric.decimals == kWholeNumber ? py::object(py::none())
                                                      : py::object(py::int_(metric.decimals));
    rows.append(row);
  }
  return py::tuple(rows);
}

void bind_constants(py::module_& m) {
  m.attr("OBSERVATION_SIZE") = kObservationSize;
  m.attr("MAP_SIZE") = kMapSize;
  // The pictures' limits (shell/scene.h), for the environments' image observations.
  m.attr("MAX_IMAGE_SIDE") = kMaxImageSide;
  m.attr("MAX_IMAGE_PIXELS") = kMaxImagePixels;
  m.def(
      "picture_size_allowed",
      [](long long width, long long height) { return picture_size_allowed(width, height); },
      py::arg("width"), py::arg("height"),
      "True for a picture of 1 to MAX_IMAGE_SIDE pixels a side and MAX_IMAGE_PIXELS in all, "
      "as render() and record_gif() take it.");
  m.attr("RUN_METRICS") = run_metrics_tuple();
}

}  // namespace

PYBIND11_MODULE(_robosim, m) {
  m.doc() =
      "The robot simulator's simulation (see robosim.Simulation); any number at once, on any "
      "threads.";
  m.attr("__version__") = ROBOSIM_VERSION;
  load_numpy();
  register_failure_translation();

  bind_robot_state(m);
  bind_simulation(m);
  bind_navigation(m);
  bind_world_making(m);
  bind_constants(m);
  refuse_use_without_constructor(m);
}
