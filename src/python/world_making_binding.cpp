#include "python/world_making_binding.h"

#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "python/binding_support.h"
#include "python/world_making.h"

namespace {

void bind_generate_world(py::module_& m) {
  m.def(
      "generate_world",
      [](const py::object& description, const py::object& path) {
        if (!py::isinstance<py::str>(description)) {
          type_error("description must be a str such as 'maze:8x8:1', not " +
                     type_name(description));
        }
        return write_generated_world(description.cast<std::string>(), file_path(path, "path"));
      },
      py::arg("description"), py::arg("path"),
      "Writes the world \"maze:COLUMNSxROWS:SEED\" or \"pillars:COUNT:SEED\" describes to path, "
      "as the headless runner's --generate ... --save does; returns the walls written.");
}

void bind_map_import_class(py::module_& m) {
  py::class_<imported_map>(m, "MapImport",
                           "What robosim.import_map wrote and how the map lies in the world: "
                           "a map point (X, Y) in metres is at x = origin[0] + X / "
                           "metres_per_unit, y = origin[1] - Y / metres_per_unit.")
      .def_readonly("walls", &imported_map::walls, "The number of walls written.")
      .def_readonly("metres_per_unit", &imported_map::metres_per_unit)
      .def_property_readonly(
          "origin", [](const imported_map& r) { return py::make_tuple(r.origin_x, r.origin_y); },
          "Where the map frame's (0, 0) lies in the world, in world units.")
      .def_property_readonly(
          "flip_y", [](const imported_map&) { return true; },
          "Always True: the map's y axis points up, the world's down.")
      .def_property_readonly(
          "region",
          [](const imported_map& r) {
            return py::make_tuple(r.region.x0, r.region.y0, r.region.x1, r.region.y1);
          },
          "The part of the map imported, (x0, y0, x1, y1) in metres of its frame.")
      .def_property_readonly(
          "robot", [](const imported_map& r) { return py::make_tuple(r.robot_x, r.robot_y); },
          "The robot's start in world units.")
      .def_property_readonly("warnings",
                             [](const imported_map& r) { return py::tuple(py::cast(r.warnings)); })
      .def(
          "to_world",
          [](const imported_map& r, const py::handle& x, const py::handle& y) {
            return py::make_tuple(r.origin_x + real_number(x, "x") / r.metres_per_unit,
                                  r.origin_y - real_number(y, "y") / r.metres_per_unit);
          },
          py::arg("x"), py::arg("y"), "A map point in metres as world units.")
      .def(
          "to_map",
          [](const imported_map& r, const py::handle& x, const py::handle& y) {
            return py::make_tuple((real_number(x, "x") - r.origin_x) * r.metres_per_unit,
                                  (r.origin_y - real_number(y, "y")) * r.metres_per_unit);
          },
          py::arg("x"), py::arg("y"), "A world point as metres in the map's frame.")
      .def("__str__",
           [](const imported_map& r) {
             std::string text;
             for (const std::string& line : r.description)
               text += (text.empty() ? "" : "\n") + line;
             return text;
           })
      .def("__repr__", [](const imported_map& r) {
        return "MapImport(walls=" + std::to_string(r.walls) +
               ", metres_per_unit=" + std::string(py::repr(py::float_(r.metres_per_unit))) +
               ", origin=" + std::string(py::repr(py::make_tuple(r.origin_x, r.origin_y))) + ")";
      });
}

map_import_options import_options(const py::object& region, const py::object& unknown) {
  map_import_options options;
  if (!region.is_none()) {
    const std::vector<double> corners = real_numbers(region, "region", 4);
    const map_region chosen{corners[0], corners[1], corners[2], corners[3]};
    std::string problem;
    if (!check_map_region(chosen, problem)) value_error("region: " + problem);
    options.region = chosen;
  }
  if (!py::isinstance<py::str>(unknown)) {
    type_error("unknown must be 'free' or 'wall', not " + type_name(unknown));
  }
  const std::string unknown_text = unknown.cast<std::string>();
  if (unknown_text != "free" && unknown_text != "wall") {
    value_error("unknown must be 'free' or 'wall', got " + std::string(py::repr(unknown)));
  }
  options.unknown = unknown_text == "wall" ? unknown_cells::wall : unknown_cells::free;
  return options;
}

void bind_import_map(py::module_& m) {
  m.def(
      "import_map",
      [](const py::object& yaml_path, const py::object& path, const py::object& region,
         const py::object& unknown) {
        const map_import_options options = import_options(region, unknown);
        return write_imported_map(file_path(yaml_path, "yaml_path"), file_path(path, "path"),
                                  options, [](const std::string& warning) {
                                    if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 1) != 0) {
                                      throw py::error_already_set();
                                    }
                                  });
      },
      py::arg("yaml_path"), py::arg("path"), py::kw_only(), py::arg("region") = py::none(),
      py::arg("unknown") = "free");
}

}  // namespace

void bind_world_making(py::module_& m) {
  bind_generate_world(m);
  bind_map_import_class(m);
  bind_import_map(m);
}
