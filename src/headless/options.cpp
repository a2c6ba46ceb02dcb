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

std::string quoted(const QString& text) {
  return "'" + text.toStdString() + "'";
}

// The user's path as given, refused when empty.
bool take_path(const QCommandLineParser& parser, const QCommandLineOption& option, std::string& out,
               std::string& message) {
  if (!parser.isSet(option)) return true;
  const QString value = parser.value(option);
  if (value.isEmpty()) {
    message = "--" + option.names().constFirst().toStdString() + ": the file name is empty";
    return false;
  }
  out = value.toLocal8Bit().toStdString();
  return true;
}

// Two outputs naming the same file would overwrite each other.
std::string normalised(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) return path;
  return absolute.lexically_normal().string();
}

// The options of the run metrics: the events file, the gains and the grading limits.
struct metric_options {
  QCommandLineOption events{"events", "Writes a CSV row per target reached and stuck spell.",
                            "FILE"};
  QCommandLineOption scale1{"scale1", "Sets the gain scale1 after start-up and loading.", "G"};
  QCommandLineOption scale2{"scale2", "Sets the gain scale2 after start-up and loading.", "G"};
  QCommandLineOption scale3{"scale3", "Sets the gain scale3 after start-up and loading.", "G"};
  QCommandLineOption require_targets{"require-targets",
                                     "Exit code 3 unless at least N targets are reached.", "N"};
  QCommandLineOption max_stuck{
      "max-stuck-seconds", "Exit code 3 when stuck spells last more than S seconds in all.", "S"};

  void add_to(QCommandLineParser& parser) const {
    for (const auto* option : {&events, &scale1, &scale2, &scale3, &require_targets, &max_stuck}) {
      parser.addOption(*option);
    }
  }

  bool take(const QCommandLineParser& parser, run_options& result, std::string& message) const {
    if (!take_path(parser, events, result.events_path, message)) return false;
    if (!take_gain(parser, scale1, result.scale1, message) ||
        !take_gain(parser, scale2, result.scale2, message) ||
        !take_gain(parser, scale3, result.scale3, message)) {
      return false;
    }
    if (parser.isSet(require_targets)) {
      std::uint64_t count = 0;
      if (!parse_count(parser.value(require_targets), 0, kMaxTicks, count)) {
        message = "--require-targets: expected a whole number from 0 to " +
                  std::to_string(kMaxTicks) + ", got " + quoted(parser.value(require_targets));
        return false;
      }
      result.require_targets = count;
    }
    if (parser.isSet(max_stuck)) {
      double seconds = 0.0;
      if (!parse_finite(parser.value(max_stuck), seconds) || seconds < 0) {
        message = "--max-stuck-seconds: expected a number of seconds, 0 or more, got " +
                  quoted(parser.value(max_stuck));
        return false;
      }
      result.max_stuck_seconds = seconds;
    }
    return true;
  }

  static bool take_gain(const QCommandLineParser& parser, const QCommandLineOption& option,
                        std::optional<double>& out, std::string& message) {
    if (!parser.isSet(option)) return true;
    double gain = 0.0;
    if (!parse_finite(parser.value(option), gain)) {
      message = "--" + option.names().constFirst().toStdString() +
                ": expected a finite number, got " + quoted(parser.value(option));
      return false;
    }
    out = gain;
    return true;
  }
};

}  // namespace

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
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Runs the robot simulator without a window on a simulated clock and prints a summary.\n"
      "Exit codes: 0 success, 1 a file cannot be read or written, 2 bad arguments,\n"
      "3 the run fell short of --require-targets or --max-stuck-seconds, 4 the simulation's\n"
      "state overflowed, 128 + N ended by signal N.");
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);

  const QCommandLineOption help({"h", "help"}, "Shows this help and exits.");
  const QCommandLineOption version({"v", "version"}, "Shows the version and exits.");
  const QCommandLineOption ticks("ticks", "Number of ticks to run (default 6000).", "N");
  const QCommandLineOption seed(
      "seed", "Seed of the random generator, 0 to 4294967295 (default: the time).", "S");
  const QCommandLineOption period("period-ms", "Tick period in milliseconds (default 10).", "MS");
  const QCommandLineOption world("world", "Loads this world file after start-up.", "FILE");
  const QCommandLineOption save("save", "Saves the world to this file at the end.", "FILE");
  const QCommandLineOption manual("manual", "Manual mode: the robot does not drive itself.");
  const QCommandLineOption keys("keys", "Replays key presses from this script.", "SCRIPT");
  const QCommandLineOption png("png", "Writes the final frame as a PNG picture.", "FILE");
  const QCommandLineOption gif("gif", "Writes the run as an animated GIF.", "FILE");
  const QCommandLineOption frame_every(
      "frame-every", "One GIF frame every K ticks, and the last tick (default 10).", "K");
  const QCommandLineOption gif_speed("gif-speed", "Plays the GIF F times faster (default 1).", "F");
  const QCommandLineOption size("size", "Size of the pictures (default 640x480).", "WxH");
  const QCommandLineOption grad("grad", "Draws the field lattice in the pictures.");
  const QCommandLineOption vision("vision", "Draws the vision rays in the pictures.");
  const QCommandLineOption stats("stats", "Draws the statistics line in the pictures.");
  const QCommandLineOption trail("trail", "Draws the robot's trail in the pictures.");
  const QCommandLineOption trace("trace", "Writes a CSV row per tick to this file.", "FILE");
  const QCommandLineOption trace_every("trace-every", "Writes a trace row every K ticks only.",
                                       "K");
  const QCommandLineOption json("json", "Prints the summary as one JSON object.");
  const QCommandLineOption generate(
      "generate",
      "Writes a seeded random world to the --save file instead of running: "
      "maze:COLUMNSxROWS:SEED or pillars:COUNT:SEED.",
      "KIND:SIZE:SEED");
  const QCommandLineOption import_map(
      "import-map", "Turns an occupancy map (YAML and PGM or PNG) into the --save world file.",
      "YAML");
  const QCommandLineOption region_option(
      "map-region",
      "With --import-map: imports only this rectangle of the map, in metres of its frame.",
      "X0,Y0,X1,Y1");
  const QCommandLineOption unknown_option(
      "unknown", "With --import-map: unknown cells become free floor (the default) or wall.",
      "free|wall");
  const std::vector<const QCommandLineOption*> all_options = {
      &help,     &version,    &ticks,         &seed,          &period,      &world,       &save,
      &manual,   &keys,       &png,           &gif,           &frame_every, &gif_speed,   &size,
      &grad,     &vision,     &stats,         &trail,         &trace,       &trace_every, &json,
      &generate, &import_map, &region_option, &unknown_option};
  for (const auto* option : all_options) parser.addOption(*option);
  const metric_options metrics;
  metrics.add_to(parser);

  if (!parser.parse(arguments)) {
    message = parser.errorText().toStdString();
    return parse_outcome::error;
  }
  if (parser.isSet(help)) {
    // helpText() takes the program's name from the application object, which may
    // not exist yet; build the usage line here instead.
    QString text = parser.helpText();
    const qsizetype first_line_end = text.indexOf(u'\n');
    text = QStringLiteral("Usage: %1 [options]").arg(kProgramName) + text.mid(first_line_end);
    message = text.toStdString();
    return parse_outcome::help;
  }
  if (parser.isSet(version)) {
    message = std::string(kProgramName) + " " + ROBOSIM_VERSION;
    return parse_outcome::version;
  }
  if (!parser.positionalArguments().isEmpty()) {
    message = "unexpected argument " + quoted(parser.positionalArguments().constFirst());
    return parse_outcome::error;
  }

  run_options result;
  std::uint64_t number = 0;
  if (parser.isSet(ticks)) {
    if (!parse_count(parser.value(ticks), 0, kMaxTicks, number)) {
      message = "--ticks: expected a whole number from 0 to " + std::to_string(kMaxTicks) +
                ", got " + quoted(parser.value(ticks));
      return parse_outcome::error;
    }
    result.ticks = number;
  }
  if (parser.isSet(seed)) {
    if (!parse_count(parser.value(seed), 0, UINT32_MAX, number)) {
      message =
          "--seed: expected a whole number from 0 to 4294967295, got " + quoted(parser.value(seed));
      return parse_outcome::error;
    }
    result.seed = static_cast<std::uint32_t>(number);
  }
  if (parser.isSet(period)) {
    if (!parse_count(parser.value(period), 1, kMaxPeriodMs, number)) {
      message = "--period-ms: expected a whole number from 1 to " + std::to_string(kMaxPeriodMs) +
                ", got " + quoted(parser.value(period));
      return parse_outcome::error;
    }
    result.period_ms = static_cast<int>(number);
  }
  if (parser.isSet(size)) {
    std::string problem;
    if (!parse_size(parser.value(size), result.width, result.height, problem)) {
      message = "--size: " + problem;
      return parse_outcome::error;
    }
  }
  if (parser.isSet(trace_every)) {
    if (!parse_count(parser.value(trace_every), 1, kMaxTicks, number)) {
      message = "--trace-every: expected a whole number from 1 to " + std::to_string(kMaxTicks) +
                ", got " + quoted(parser.value(trace_every));
      return parse_outcome::error;
    }
    result.trace_every = number;
  }
  if (parser.isSet(frame_every)) {
    if (!parse_count(parser.value(frame_every), 1, kMaxTicks, number)) {
      message = "--frame-every: expected a whole number from 1 to " + std::to_string(kMaxTicks) +
                ", got " + quoted(parser.value(frame_every));
      return parse_outcome::error;
    }
    result.frame_every = number;
  }
  if (parser.isSet(gif_speed) &&
      !parse_positive(parser.value(gif_speed), kMaxGifSpeed, result.gif_speed)) {
    message = "--gif-speed: expected a positive number up to 1000000, such as 2 or 0.5, got " +
              quoted(parser.value(gif_speed));
    return parse_outcome::error;
  }
  if (!take_path(parser, world, result.world_path, message) ||
      !take_path(parser, save, result.save_path, message) ||
      !take_path(parser, keys, result.keys_path, message) ||
      !take_path(parser, png, result.png_path, message) ||
      !take_path(parser, gif, result.gif_path, message) ||
      !take_path(parser, trace, result.trace_path, message)) {
    return parse_outcome::error;
  }
  if (!metrics.take(parser, result, message)) return parse_outcome::error;
  if (parser.isSet(generate)) {
    result.generate_spec = parser.value(generate).toStdString();
    if (result.generate_spec.empty()) {
      message = "--generate: the description is empty";
      return parse_outcome::error;
    }
  }
  if (!take_path(parser, import_map, result.import_map_path, message)) return parse_outcome::error;
  for (const auto* option : {&region_option, &unknown_option}) {
    if (parser.isSet(*option) && result.import_map_path.empty()) {
      message = "--" + option->names().constFirst().toStdString() + " only goes with --import-map";
      return parse_outcome::error;
    }
  }
  if (parser.isSet(region_option)) {
    map_region region;
    std::string problem;
    if (!parse_map_region(parser.value(region_option).toStdString(), region, problem)) {
      message = "--map-region: " + problem + ", got " + quoted(parser.value(region_option));
      return parse_outcome::error;
    }
    result.import_region = region;
  }
  if (parser.isSet(unknown_option)) {
    const QString value = parser.value(unknown_option);
    if (value != "free" && value != "wall") {
      message = "--unknown: expected free or wall, got " + quoted(value);
      return parse_outcome::error;
    }
    result.import_unknown = value == "wall" ? unknown_cells::wall : unknown_cells::free;
  }
  if (!result.generate_spec.empty() || !result.import_map_path.empty()) {
    const char* making = result.generate_spec.empty() ? "--import-map" : "--generate";
    std::vector<const QCommandLineOption*> others = all_options;
    for (const auto* option : {&metrics.events, &metrics.scale1, &metrics.scale2, &metrics.scale3,
                               &metrics.require_targets, &metrics.max_stuck}) {
      others.push_back(option);
    }
    for (const auto* option : others) {
      if (option == &save || option == &generate || option == &import_map ||
          option == &region_option || option == &unknown_option) {
        continue;
      }
      if (parser.isSet(*option)) {
        message = std::string(making) + " only writes a world file; --" +
                  option->names().constFirst().toStdString() + " does not go with it";
        return parse_outcome::error;
      }
    }
    if (!result.generate_spec.empty() && !result.import_map_path.empty()) {
      message = "--generate and --import-map each make a world; give one of them";
      return parse_outcome::error;
    }
    if (result.save_path.empty()) {
      message = std::string(making) + " needs --save FILE for the world it makes";
      return parse_outcome::error;
    }
    options = std::move(result);
    return parse_outcome::run;
  }
  result.manual = parser.isSet(manual);
  result.grad = parser.isSet(grad);
  result.vision = parser.isSet(vision);
  result.stats = parser.isSet(stats);
  result.trail = parser.isSet(trail);
  result.json = parser.isSet(json);

  // Options that only shape an output are mistakes without that output.
  if (result.png_path.empty() && result.gif_path.empty()) {
    for (const auto* option : {&size, &grad, &vision, &stats, &trail}) {
      if (parser.isSet(*option)) {
        message = "--" + option->names().constFirst().toStdString() +
                  " only changes the pictures; give --png FILE or --gif FILE as well";
        return parse_outcome::error;
      }
    }
  }
  if (result.gif_path.empty()) {
    for (const auto* option : {&frame_every, &gif_speed}) {
      if (parser.isSet(*option)) {
        message = "--" + option->names().constFirst().toStdString() + " needs --gif FILE";
        return parse_outcome::error;
      }
    }
  }
  if (!result.gif_path.empty()) {
    if (!film_frames_allowed(result.ticks, result.frame_every)) {
      const std::uint64_t frames = gif_frame_count(result.ticks, result.frame_every);
      const std::uint64_t step = smallest_gif_step(result.ticks);
      message = "--gif: " + std::to_string(frames) + " frames are more than " +
                std::to_string(kMaxGifFrames) + "; use --frame-every " + std::to_string(step) +
                " or more";
      return parse_outcome::error;
    }
  }
  if (result.trace_path.empty() && parser.isSet(trace_every)) {
    message = "--trace-every needs --trace FILE";
    return parse_outcome::error;
  }

  // Each output must be its own file.
  const std::vector<std::pair<const char*, const std::string*>> outputs = {
      {"--save", &result.save_path},
      {"--png", &result.png_path},
      {"--gif", &result.gif_path},
      {"--trace", &result.trace_path},
      {"--events", &result.events_path}};
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (!outputs[i].second->empty() && !outputs[j].second->empty() &&
          normalised(*outputs[i].second) == normalised(*outputs[j].second)) {
        message =
            std::string(outputs[i].first) + " and " + outputs[j].first + " name the same file";
        return parse_outcome::error;
      }
    }
  }

  options = std::move(result);
  return parse_outcome::run;
}
