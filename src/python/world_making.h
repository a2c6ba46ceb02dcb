// Making world files from Python: the seeded generator and the occupancy-map
// import, written straight to a file. Neither touches the simulation's state, so
// they work whether or not a robosim.Simulation is open.
// Failures are file_failures (python/session.h) of the content (ValueError: a
// bad description or map, or an output that is one of the map's files) or of
// the file system (OSError: a file cannot be read or written).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tools/occupancy_map.h"

// Writes the world "maze:COLUMNSxROWS:SEED" or "pillars:COUNT:SEED" describes to
// path; returns the number of walls written.
std::size_t write_generated_world(const std::string& description, const std::string& path);

// What an import wrote, and how the map lies in the world (robosim.MapImport).
struct imported_map {
  std::size_t walls = 0;
  double metres_per_unit = 0;
  double origin_x = 0;  // the map frame's (0, 0) in world units
  double origin_y = 0;
  map_region region;  // the part imported, metres
  double robot_x = 0;
  double robot_y = 0;
  std::vector<std::string> warnings;
  std::vector<std::string> description;  // the lines --import-map prints after "wrote"
};

// Turns the occupancy map yaml_path names into the world file path. Each warning
// goes to warn before anything is written (so a warning turned into an error
// leaves the file alone).
imported_map write_imported_map(const std::string& yaml_path, const std::string& path,
                                const map_import_options& options,
                                const std::function<void(const std::string&)>& warn);
