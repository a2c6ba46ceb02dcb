// Making world files from Python: the seeded generator and the occupancy-map
// import, written straight to a file. Neither touches the simulation's state, so
// they work whether or not a robosim.Simulation is open.
//   world_file_failure(os_error = false)  ValueError: a bad description or map
//   world_file_failure(os_error = true)   OSError: a file cannot be read or written
#pragma once

#include <cstddef>
#include <string>

// Writes the world "maze:COLUMNSxROWS:SEED" or "pillars:COUNT:SEED" describes to
// path; returns the number of walls written.
std::size_t write_generated_world(const std::string& description, const std::string& path);

// Turns the occupancy map yaml_path names into the world file path; returns the
// number of walls written.
std::size_t write_imported_map(const std::string& yaml_path, const std::string& path);
