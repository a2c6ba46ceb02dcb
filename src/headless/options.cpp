#include "headless/options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <utility>
#include <vector>

#ifndef ROBOSIM_VERSION
#define ROBOSIM_VERSION "0"
#endif

namespace {

constexpr const char* kDescription =
    "Runs the robot simulator without a window on a simulated clock and prints a summary.\n"
    "Exit codes: 0 success, 1 a file cannot be read or written, 2 bad arguments,\n"
    "3 the run fell short of --require-targets or --max-stuck-seconds, 4 the simulation's\n"
    "state overflowed, 128 + N ended by signal N.";

std::string quoted(const QString& text) {
  return "'" + text.toStdString() + "'";
}

// --- Reading the values ------------------------------------------------------

template <typename Number>
bool take_count(const QString& text, std::uint64_t min, std::uint64_t max, Number& out,
                std::string& problem) {
  std::uint64_t number = 0;
  if (!parse_count(text, min, max, number)) {
    problem = "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
              ", got " + quoted(text);
    return false;
  }
  out = static_cast<Number>(number);
  return true;
}

bool take_ticks(const QString& text, run_options& into, std::string& problem) {
  return take_count(text, 0, kMaxTicks, into.ticks, problem);
}

bool take_seed(const QString& text, run_options& into, std::string& problem) {
  std::uint32_t seed = 0;
  if (!take_count(text, 0, UINT32_MAX, seed, problem)) return false;
  into.seed = seed;
  return true;
}

bool take_period(const QString& text, run_options& into, std::string& problem) {
  return take_count(text, 1, kMaxPeriodMs, into.period_ms, problem);
}

bool take_frame_every(const QString& text, run_options& into, std::string& problem) {
  return take_count(text, 1, kMaxTicks, into.frame_every, problem);
}

bool take_trace_every(const QString& text, run_options& into, std::string& problem) {
  return take_count(text, 1, kMaxTicks, into.trace_every, problem);
}

bool take_require_targets(const QString& text, run_options& into, std::string& problem) {
  std::uint64_t count = 0;
  if (!take_count(text, 0, kMaxTicks, count, problem)) return false;
  into.require_targets = count;
  return true;
}

bool take_gif_speed(const QString& text, run_options& into, std::string& problem) {
  if (parse_positive(text, kMaxGifSpeed, into.gif_speed)) return true;
  problem = "expected a positive number up to 1000000, such as 2 or 0.5, got " + quoted(text);
  return false;
}

bool take_size(const QString& text, run_options& into, std::string& problem) {
  return parse_size(text, into.width, into.height, problem);
}

bool take_gain(const QString& text, std::optional<double>& out, std::string& problem) {
  double gain = 0.0;
  if (!parse_finite(text, gain)) {
    problem = "expected a finite number, got " + quoted(text);
    return false;
  }
  out = gain;
  return true;
}

bool take_scale1(const QString& text, run_options& into, std::string& problem) {
  return take_gain(text, into.scale1, problem);
}
bool take_scale2(const QString& text, run_options& into, std::string& problem) {
  return take_gain(text, into.scale2, problem);
}
bool take_scale3(const QString& text, run_options& into, std::string& problem) {
  return take_gain(text, into.scale3, problem);
}

bool take_max_stuck(const QString& text, run_options& into, std::string& problem) {
  double seconds = 0.0;
  if (!parse_finite(text, seconds) || seconds < 0) {
    problem = "expected a number of seconds, 0 or more, got " + quoted(text);
    return false;
  }
  into.max_stuck_seconds = seconds;
  return true;
}

bool take_pose(const QString& text, run_options& into, std::string& problem) {
  pose_request pose;
  if (!parse_pose_request(text.toStdString(), pose, problem)) return false;
  into.placement.pose = pose;
  return true;
}

bool take_target(const QString& text, run_options& into, std::string& problem) {
  target_request target;
  if (!parse_target_request(text.toStdString(), target, problem)) return false;
  into.placement.target = target;
  return true;
}

bool take_generate(const QString& text, run_options& into, std::string& problem) {
  into.generate_description = text.toStdString();
  if (!into.generate_description.empty()) return true;
  problem = "the description is empty";
  return false;
}

bool take_map_region(const QString& text, run_options& into, std::string& problem) {
  map_region region;
  if (!parse_map_region(text.toStdString(), region, problem)) {
    problem += ", got " + quoted(text);
    return false;
  }
  into.import_region = region;
  return true;
}

bool take_unknown(const QString& text, run_options& into, std::string& problem) {
  if (text != "free" && text != "wall") {
    problem = "expected free or wall, got " + quoted(text);
    return false;
  }
  into.import_unknown = text == "wall" ? unknown_cells::wall : unknown_cells::free;
  return true;
}

// --- The table -----------------------------------------------------------------

using scope = option_scope;
using completion = value_completion;
using o = run_options;

// clang-format off
const option_row kOptions[] = {
    {"help", "h", "", "Shows this help and exits.", scope::info},
    {"version", "v", "", "Shows the version and exits.", scope::info},
    {"ticks", "", "N", "Number of ticks to run (default 6000).", scope::run, nullptr, take_ticks,
     nullptr, false, completion::nothing},
    {"seed", "", "S", "Seed of the random generator, 0 to 4294967295 (default: the time).",
     scope::run, nullptr, take_seed, nullptr, false, completion::nothing},
    {"period-ms", "", "MS", "Tick period in milliseconds (default 10).", scope::run, nullptr,
     take_period, nullptr, false, completion::nothing},
    {"world", "", "FILE", "Loads this world file after start-up.", scope::run, nullptr, nullptr,
     &o::world_path, false, completion::files, "*.dat"},
    {"save", "", "FILE", "Saves the world to this file at the end.", scope::any, nullptr, nullptr,
     &o::save_path, true, completion::files, "*"},
    {"pose", "", "X,Y,HEADING",
     "Places the robot there (heading in radians) after start-up and loading, or at random "
     "clear of the walls: random.",
     scope::run, nullptr, take_pose, nullptr, false, completion::words, "random"},
    {"target", "", "X,Y",
     "Places the target there after start-up and loading, or at random clear of the walls: "
     "random.",
     scope::run, nullptr, take_target, nullptr, false, completion::words, "random"},
    {"manual", "", "", "Manual mode: the robot does not drive itself.", scope::run, &o::manual},
    {"keys", "", "SCRIPT", "Replays key presses from this script.", scope::run, nullptr, nullptr,
     &o::keys_path, false, completion::files, "*"},
    {"png", "", "FILE", "Writes the final frame as a PNG picture.", scope::run, nullptr, nullptr,
     &o::png_path, true, completion::files, "*.png"},
    {"gif", "", "FILE", "Writes the run as an animated GIF.", scope::run, nullptr, nullptr,
     &o::gif_path, true, completion::files, "*.gif"},
    {"frames", "", "DIR",
     "Writes every frame of the film as a PNG picture of its own into this folder.", scope::run,
     nullptr, nullptr, &o::frames_dir, false, completion::folders},
    {"frame-every", "", "K",
     "One GIF or --frames frame every K ticks, and the last tick (default 10).", scope::frames, nullptr, take_frame_every, nullptr, false, completion::nothing},
    {"gif-speed", "", "F", "Plays the GIF F times faster (default 1).", scope::film, nullptr,
     take_gif_speed, nullptr, false, completion::nothing},
    {"size", "", "WxH", "Size of the pictures (default 640x480).", scope::picture, nullptr,
     take_size, nullptr, false, completion::nothing},
    {"grad", "", "", "Draws the field lattice in the pictures.", scope::picture, &o::grad},
    {"vision", "", "", "Draws the vision rays in the pictures.", scope::picture, &o::vision},
    {"stats", "", "", "Draws the statistics line in the pictures.", scope::picture, &o::stats},
    {"trail", "", "", "Draws the robot's trail in the pictures.", scope::picture, &o::trail},
    {"trace", "", "FILE", "Writes a CSV row per tick to this file.", scope::run, nullptr, nullptr,
     &o::trace_path, true, completion::files, "*"},
    {"trace-every", "", "K", "Writes a trace row every K ticks only.", scope::trace, nullptr,
     take_trace_every, nullptr, false, completion::nothing},
    {"json", "", "", "Prints the summary as one JSON object.", scope::run, &o::json},
    {"generate", "", "KIND:SIZE:SEED",
     "Writes a seeded random world to the --save file instead of running: "
     "maze:COLUMNSxROWS:SEED or pillars:COUNT:SEED.",
     scope::making, nullptr, take_generate, nullptr, false, completion::prefixes, "maze: pillars:"},
    {"import-map", "", "YAML",
     "Turns an occupancy map (YAML and PGM or PNG) into the --save world file.", scope::making,
     nullptr, nullptr, &o::import_map_path, false, completion::files, "*.y*ml"},
    {"map-region", "", "X0,Y0,X1,Y1",
     "With --import-map: imports only this rectangle of the map, in metres of its frame.",
     scope::map_import, nullptr, take_map_region, nullptr, false, completion::nothing},
    {"unknown", "", "free|wall",
     "With --import-map: unknown cells become free floor (the default) or wall.",
     scope::map_import, nullptr, take_unknown, nullptr, false, completion::words, "free wall"},
    {"events", "", "FILE", "Writes a CSV row per target reached and stuck spell.", scope::run,
     nullptr, nullptr, &o::events_path, true, completion::files, "*"},
    {"scale1", "", "G", "Sets the gain scale1 after start-up and loading.", scope::run, nullptr,
     take_scale1, nullptr, false, completion::nothing},
    {"scale2", "", "G", "Sets the gain scale2 after start-up and loading.", scope::run, nullptr,
     take_scale2, nullptr, false, completion::nothing},
    {"scale3", "", "G", "Sets the gain scale3 after start-up and loading.", scope::run, nullptr,
     take_scale3, nullptr, false, completion::nothing},
    {"require-targets", "", "N", "Exit code 3 unless at least N targets are reached.", scope::run,
     nullptr, take_require_targets, nullptr, false, completion::nothing},
    {"max-stuck-seconds", "", "S", "Exit code 3 when stuck spells last more than S seconds in all.",
     scope::run, nullptr, take_max_stuck, nullptr, false, completion::nothing},
};
// clang-format on

// --- The parse ---------------------------------------------------------------------

std::string dashed(const option_row& row) {
  return std::string("--") + row.name;
}

// The Qt parser with every option of the table, in the table's order.
class table_parser {
 public:
  table_parser() {
    parser_.setApplicationDescription(kDescription);
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const option_row& row : option_table()) {
      QStringList names;
      if (*row.short_name != '\0') names << row.short_name;
      names << row.name;
      options_.emplace_back(names, row.description, row.value_name);
    }
    for (const QCommandLineOption& option : options_) parser_.addOption(option);
  }

  QCommandLineParser& qt() { return parser_; }
  bool is_set(const option_row& row) const { return parser_.isSet(row.name); }
  QString value(const option_row& row) const { return parser_.value(row.name); }
  bool is_set(const char* name) const { return parser_.isSet(name); }

 private:
  QCommandLineParser parser_;
  std::vector<QCommandLineOption> options_;
};

// helpText() takes the program's name from the application object, which may
// not exist yet; the usage line is built here instead.
std::string help_text(const QCommandLineParser& parser) {
  const QString text = parser.helpText();
  const qsizetype first_line_end = text.indexOf(u'\n');
  return (QStringLiteral("Usage: %1 [options]").arg(kProgramName) + text.mid(first_line_end))
      .toStdString();
}

bool making_a_world(const table_parser& parser) {
  return parser.is_set("generate") || parser.is_set("import-map");
}

// Reads every option given into the record, in the table's order.
bool take_values(const table_parser& parser, run_options& result, std::string& message) {
  for (const option_row& row : option_table()) {
    if (!parser.is_set(row)) continue;
    // Checked before the value: it is the option itself that is out of place.
    if (row.scope == scope::map_import && !parser.is_set("import-map")) {
      message = dashed(row) + " only goes with --import-map";
      return false;
    }
    if (row.flag != nullptr) result.*row.flag = true;
    std::string problem;
    if (row.path != nullptr) {
      const QString value = parser.value(row);
      if (value.isEmpty()) {
        problem = row.completion == completion::folders ? "the folder name is empty"
                                                        : "the file name is empty";
      }
      result.*row.path = value.toLocal8Bit().toStdString();
    } else if (row.take != nullptr) {
      row.take(parser.value(row), result, problem);
    }
    if (!problem.empty()) {
      message = dashed(row) + ": " + problem;
      return false;
    }
  }
  return true;
}

// Making a world file: --save and the maker's own options, nothing else.
bool check_making(const table_parser& parser, const run_options& result, std::string& message) {
  const char* making = result.generate_description.empty() ? "--import-map" : "--generate";
  for (const option_row& row : option_table()) {
    const bool belongs =
        row.scope == scope::any || row.scope == scope::making || row.scope == scope::map_import;
    if (parser.is_set(row) && !belongs) {
      message = std::string(making) + " only writes a world file; " + dashed(row) +
                " does not go with it";
      return false;
    }
  }
  if (!result.generate_description.empty() && !result.import_map_path.empty()) {
    message = "--generate and --import-map each make a world; give one of them";
    return false;
  }
  if (result.save_path.empty()) {
    message = std::string(making) + " needs --save FILE for the world it makes";
    return false;
  }
  return true;
}

// Options that only shape an output are mistakes without that output.
bool check_scopes(const table_parser& parser, const run_options& result, std::string& message) {
  for (const option_row& row : option_table()) {
    if (!parser.is_set(row)) continue;
    const bool film = !result.gif_path.empty() || !result.frames_dir.empty();
    if (row.scope == scope::picture && result.png_path.empty() && !film) {
      message = dashed(row) +
                " only changes the pictures; give --png FILE, --gif FILE or --frames DIR as well";
      return false;
    }
    if (row.scope == scope::film && result.gif_path.empty()) {
      message = dashed(row) + " needs --gif FILE";
      return false;
    }
    if (row.scope == scope::frames && !film) {
      message = dashed(row) + " needs --gif FILE or --frames DIR";
      return false;
    }
    if (row.scope == scope::trace && result.trace_path.empty()) {
      message = dashed(row) + " needs --trace FILE";
      return false;
    }
  }
  const bool filmed = !result.gif_path.empty() || !result.frames_dir.empty();
  if (filmed && !film_frames_allowed(result.ticks, result.frame_every)) {
    const std::uint64_t frames = gif_frame_count(result.ticks, result.frame_every);
    const std::uint64_t step = smallest_gif_step(result.ticks);
    message = std::string(result.gif_path.empty() ? "--frames: " : "--gif: ") +
              std::to_string(frames) + " frames are more than " + std::to_string(kMaxGifFrames) +
              "; use --frame-every " + std::to_string(step) + " or more";
    return false;
  }
  return true;
}

// Two outputs naming the same file would overwrite each other.
std::string normalised(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) return path;
  return absolute.lexically_normal().string();
}

bool check_distinct_outputs(const run_options& result, std::string& message) {
  std::vector<const option_row*> outputs;
  for (const option_row& row : option_table()) {
    if (row.output && !(result.*row.path).empty()) outputs.push_back(&row);
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (normalised(result.*outputs[i]->path) == normalised(result.*outputs[j]->path)) {
        message = dashed(*outputs[i]) + " and " + dashed(*outputs[j]) + " name the same file";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

std::span<const option_row> option_table() {
  return kOptions;
}

bool parse_count(const QString& text, std::uint64_t min, std::uint64_t max, std::uint64_t& value) {
  if (text.isEmpty() || text.size() > 20) return false;
  std::uint64_t result = 0;
  for (QChar c : text) {
    if (c < u'0' || c > u'9') return false;
    const auto digit = static_cast<std::uint64_t>(c.unicode() - u'0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (result < min || result > max) return false;
  value = result;
  return true;
}

bool parse_finite(const QString& text, double& value) {
  bool ok = false;
  const double result = text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(result)) return false;
  value = result;
  return true;
}

bool parse_positive(const QString& text, double max, double& value) {
  if (text.isEmpty() || text.size() > 32) return false;
  int points = 0;
  int digits = 0;
  for (QChar c : text) {
    if (c == u'.') {
      ++points;
    } else if (c >= u'0' && c <= u'9') {
      ++digits;
    } else {
      return false;
    }
  }
  if (points > 1 || digits == 0) return false;
  // QString::toDouble reads the C locale's point whatever the user's locale.
  bool ok = false;
  const double number = text.toDouble(&ok);
  if (!ok || !(number > 0.0) || number > max) return false;
  value = number;
  return true;
}

bool parse_size(const QString& text, int& width, int& height, std::string& problem) {
  const qsizetype cross = text.indexOf(u'x', 0, Qt::CaseInsensitive);
  std::uint64_t w = 0;
  std::uint64_t h = 0;
  if (cross < 0 || !parse_count(text.left(cross), 0, UINT64_MAX, w) ||
      !parse_count(text.mid(cross + 1), 0, UINT64_MAX, h)) {
    problem = "expected WIDTHxHEIGHT in pixels, such as 640x480, got " + quoted(text);
    return false;
  }
  if (w == 0 || h == 0) {
    problem = "the picture must be at least 1x1 pixels, got " + quoted(text);
    return false;
  }
  const auto as_signed = [](std::uint64_t v) {
    return static_cast<std::int64_t>(std::min<std::uint64_t>(v, INT64_MAX));
  };
  if (!picture_size_allowed(as_signed(w), as_signed(h))) {
    problem = quoted(text) + " is too large (at most " + std::to_string(kMaxImageSide) +
              " pixels a side and " + std::to_string(kMaxImagePixels) + " pixels in all)";
    return false;
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

parse_outcome parse_options(const QStringList& arguments, run_options& options,
                            std::string& message) {
  table_parser parser;
  if (!parser.qt().parse(arguments)) {
    message = parser.qt().errorText().toStdString();
    return parse_outcome::error;
  }
  if (parser.is_set("help")) {
    message = help_text(parser.qt());
    return parse_outcome::help;
  }
  if (parser.is_set("version")) {
    message = std::string(kProgramName) + " " + ROBOSIM_VERSION;
    return parse_outcome::version;
  }
  if (!parser.qt().positionalArguments().isEmpty()) {
    message = "unexpected argument " + quoted(parser.qt().positionalArguments().constFirst());
    return parse_outcome::error;
  }
  run_options result;
  if (!take_values(parser, result, message)) return parse_outcome::error;
  if (making_a_world(parser)) {
    if (!check_making(parser, result, message)) return parse_outcome::error;
  } else if (!check_scopes(parser, result, message) || !check_distinct_outputs(result, message)) {
    return parse_outcome::error;
  }
  options = std::move(result);
  return parse_outcome::run;
}
