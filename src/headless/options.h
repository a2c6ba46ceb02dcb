// Command-line options of the headless runner: one table of them, from which the
// parser, --help (and so the manual page that help2man makes from it) and the
// bash completion are made.
#pragma once

#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "shell/film.h"
#include "shell/placement.h"
#include "shell/scene.h"
#include "shell/simulated_run.h"
#include "tools/occupancy_map.h"

// The runner's name, at the start of every message it writes.
constexpr const char* kProgramName = "robot-simulator-headless";

// The limits on what the runner accepts (kMaxTicks, kMaxPeriodMs of
// shell/simulated_run.h, the picture's size of shell/scene.h, the film's frames
// of shell/film.h) are shared with the Python module; values outside give a
// bad-argument error.
// The fastest a GIF may be played.
constexpr double kMaxGifSpeed = 1'000'000.0;

struct run_options {
  std::uint64_t ticks = 6000;
  std::optional<std::uint32_t> seed;  // none: the calendar time
  int period_ms = 10;
  std::string world_path;
  std::string save_path;
  bool manual = false;
  std::string keys_path;
  std::string png_path;
  int width = 640;
  int height = 480;
  bool grad = false;
  bool vision = false;
  bool stats = false;
  std::string gif_path;
  std::uint64_t frame_every = 10;
  double gif_speed = 1.0;
  std::string frames_dir;  // every frame of the film as a PNG of its own in this folder
  bool trail = false;
  std::string trace_path;
  std::uint64_t trace_every = 1;
  bool json = false;
  // The robot's pose and the target, placed after start-up and loading.
  placement_request placement;
  // Run metrics and grading.
  std::string events_path;
  std::optional<double> scale1;  // gains set after start-up and loading
  std::optional<double> scale2;
  std::optional<double> scale3;
  std::optional<std::uint64_t> require_targets;
  std::optional<double> max_stuck_seconds;
  // Making a world file instead of running: the generator's text, or the YAML
  // file of an occupancy map. Either needs save_path and nothing else.
  std::string generate_description;
  std::string import_map_path;
  // What of the map --import-map takes, and what its unknown cells become.
  std::optional<map_region> import_region;
  unknown_cells import_unknown = unknown_cells::free;
};

// Where an option may be given; the parser refuses it elsewhere.
enum class option_scope {
  info,        // --help, --version: answered before anything else
  run,         // a run of the simulation
  any,         // a run and the making of a world file (--save)
  making,      // makes a world file instead of running (--generate, --import-map)
  map_import,  // only with --import-map
  picture,     // only with --png, --gif or --frames
  film,        // only with --gif
  frames,      // only with --gif or --frames
  trace,       // only with --trace
};

// How bash completes an option's value.
enum class value_completion {
  none,      // a switch, no value
  nothing,   // a value with nothing to offer (a number, a size)
  files,     // folders and the files matching the pattern ("*" for any file)
  folders,   // folders only
  words,     // one of the words
  prefixes,  // the words, each the start of a value (no space after it)
};

// One option. A switch sets its flag; an option with a value is read by take,
// which returns false and the problem (the message after "--NAME: ") for a value
// it refuses. A file name is read into path instead, refused only when empty.
struct option_row {
  const char* name;        // the long name, without "--"
  const char* short_name;  // "" for none
  const char* value_name;  // "" for a switch
  const char* description;
  option_scope scope;
  bool run_options::*flag = nullptr;
  bool (*take)(const QString& value, run_options& into, std::string& problem) = nullptr;
  std::string run_options::*path = nullptr;
  bool output = false;  // a file the run writes: no two may be the same file
  value_completion completion = value_completion::none;
  const char* completion_words = "";  // the pattern or the words
};

// Every option, in the order --help lists them.
std::span<const option_row> option_table();

enum class parse_outcome {
  run,      // options are in the record
  help,     // message holds the help text
  version,  // message holds the version line
  error,    // message holds one line telling what is wrong
};

// Parses the arguments (the first one is the program's name). Needs no
// application object.
parse_outcome parse_options(const QStringList& arguments, run_options& options,
                            std::string& message);

// Whole numbers only, no sign, no spaces; false when out of [min, max].
bool parse_count(const QString& text, std::uint64_t min, std::uint64_t max, std::uint64_t& value);
// A finite decimal number (no NaN, no infinity).
bool parse_finite(const QString& text, double& value);
// A positive decimal number such as 2, 0.5 or 12.25 (digits with at most one
// point, no sign or exponent), at most max.
bool parse_positive(const QString& text, double max, double& value);
// "WxH" (or "WXH") within the image limits above.
bool parse_size(const QString& text, int& width, int& height, std::string& problem);
