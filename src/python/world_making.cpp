#include "python/world_making.h"

#include "core/world_file.h"
#include "python/session.h"
#include "tools/world_generator.h"

namespace {

std::size_t write_world(const world_file_data& data, const std::string& path) {
  const file_result written = world_data_write_file(path, data);
  if (!written) throw file_failure(written.error());
  return data.walls.size();
}

}  // namespace

std::size_t write_generated_world(const std::string& description, const std::string& path) {
  world_file_data data;
  std::string error;
  if (!generate_world(description, data, error)) {
    throw file_failure(content_error({}, description + ": " + error));
  }
  return write_world(data, path);
}

imported_map write_imported_map(const std::string& yaml_path, const std::string& path,
                                const map_import_options& options,
                                const std::function<void(const std::string&)>& warn) {
  map_import result;
  const file_result imported = import_occupancy_map(yaml_path, options, result);
  if (!imported) throw file_failure(with_prefix("cannot import the map ", imported.error()));
  const std::string input = output_overwrites_input(path, yaml_path, result);
  if (!input.empty()) {
    throw file_failure(
        content_error(path, "cannot save \"" + path + "\": it is " + input + "; nothing written"));
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
