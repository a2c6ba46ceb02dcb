#include "python/world_making.h"

#include <sys/stat.h>

#include <cerrno>

#include "core/world_file.h"
#include "python/session.h"
#include "tools/occupancy_map.h"
#include "tools/world_generator.h"

namespace {

std::size_t write_world(const world_file_data& data, const std::string& path) {
  std::string error;
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

std::size_t write_imported_map(const std::string& yaml_path, const std::string& path) {
  // A YAML file that is not there is the file system's fault, not the map's.
  struct stat info {};
  if (::stat(yaml_path.c_str(), &info) != 0) {
    const int code = errno;
    throw world_file_failure("cannot import the map " + yaml_path + ": no such file", true, code);
  }
  world_file_data data;
  std::string error;
  if (!import_occupancy_map(yaml_path, data, error)) {
    throw world_file_failure("cannot import the map " + error, false, 0);
  }
  return write_world(data, path);
}
