#include "python/world_making.h"

#include <cerrno>
#include <cstring>

#include "core/world_file.h"
#include "python/session.h"
#include "tools/world_generator.h"

namespace {

std::size_t write_world(const world_file_data& data, const std::string& path) {
  std::string error;
  // The writing would call a new file on a read-only file system a missing permission.
  if (output_on_read_only_file_system(path)) {
    throw world_file_failure("cannot save \"" + path + "\": " + std::strerror(EROFS), true, EROFS);
  }
  if (!world_data_write_file(path, data, error)) throw world_file_failure(error, true, 0);
  return data.walls.size();
}

}  // namespace

std::size_t write_generated_world(const std::string& description, const std::string& path) {
  world_file_data data;
  std::string error;
  if (!generate_world(description, data, error))
    throw world_file_failure(description + ": " + error, false, 0);
  return write_world(data, path);
}

imported_map write_imported_map(const std::string& yaml_path, const std::string& path,
                                const map_import_options& options,
                                const std::function<void(const std::string&)>& warn) {
  map_import result;
  map_import_failure failure;
  if (!import_occupancy_map(yaml_path, options, result, failure)) {
    throw world_file_failure("cannot import the map " + failure.message, failure.file_fault,
                             failure.error_number);
  }
  const std::string input = output_overwrites_input(path, yaml_path, result);
  if (!input.empty()) {
    throw world_file_failure("cannot save \"" + path + "\": it is " + input + "; nothing written",
                             false, 0);
  }
  for (const std::string& warning : result.warnings) warn(yaml_path + ": " + warning);
  imported_map made;
  made.walls = write_world(result.world, path);
  made.metres_per_unit = result.metres_per_unit;
  made.origin_x = result.origin_x;
  made.origin_y = result.origin_y;
  made.region = result.region;
  made.robot_x = result.world.x.value_or(0);
  made.robot_y = result.world.y.value_or(0);
  made.warnings = result.warnings;
  made.description = describe_map_import(result);
  return made;
}
