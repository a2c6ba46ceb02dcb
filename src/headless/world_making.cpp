#include "headless/world_making.h"

#include <string>

#include "core/world_file.h"
#include "headless/runner.h"
#include "tools/occupancy_map.h"
#include "tools/world_generator.h"

namespace {

int fail(std::FILE* err, const std::string& message, int code) {
  std::fprintf(err, "%s: %s\n", kProgramName, message.c_str());
  return code;
}

int stopped(std::FILE* err, int signal_number) {
  return fail(err, "interrupted; no files written", kExitSignalBase + signal_number);
}

std::string save_error(const std::string& path, const std::string& reason) {
  return "cannot save \"" + path + "\": " + reason;
}

// Writes the world, unless a stop signal came while it was being made: then
// nothing is written.
int write_world(const run_options& options, const world_file_data& data, std::FILE* err,
                const volatile std::sig_atomic_t* stop) {
  if (stop != nullptr && *stop != 0) return stopped(err, *stop);
  const file_result written = world_data_write_file(options.save_path, data);
  if (!written) return fail(err, written.message(), kExitFileError);
  return kExitOk;
}

int import_map(const run_options& options, std::FILE* out, std::FILE* err,
               const volatile std::sig_atomic_t* stop) {
  map_import result;
  const map_import_options how{options.import_region, options.import_unknown};
  const file_result imported = import_occupancy_map(options.import_map_path, how, result);
  if (!imported) return fail(err, "cannot import the map " + imported.message(), kExitFileError);
  const std::string input =
      output_overwrites_input(options.save_path, options.import_map_path, result);
  if (!input.empty()) {
    return fail(err, save_error(options.save_path, "it is " + input + "; nothing written"),
                kExitBadArguments);
  }
  for (const std::string& warning : result.warnings) {
    std::fprintf(err, "%s: warning: %s: %s\n", kProgramName, options.import_map_path.c_str(),
                 warning.c_str());
  }
  if (const int code = write_world(options, result.world, err, stop); code != kExitOk) return code;
  std::fprintf(out, "wrote %s: %zu walls\n", options.save_path.c_str(), result.world.walls.size());
  for (const std::string& line : describe_map_import(result)) {
    std::fprintf(out, "%s\n", line.c_str());
  }
  return kExitOk;
}

}  // namespace

int make_world_file(const run_options& options, std::FILE* out, std::FILE* err,
                    const volatile std::sig_atomic_t* stop) {
  if (options.generate_description.empty()) return import_map(options, out, err, stop);
  world_file_data data;
  std::string error;
  if (!generate_world(options.generate_description, data, error)) {
    return fail(err, "--generate " + options.generate_description + ": " + error,
                kExitBadArguments);
  }
  if (const int code = write_world(options, data, err, stop); code != kExitOk) return code;
  std::fprintf(out, "wrote %s: %zu walls\n", options.save_path.c_str(), data.walls.size());
  return kExitOk;
}
