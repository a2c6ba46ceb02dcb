#include "qt/window_options.h"

namespace {

constexpr const char* kHelpText =
    "Usage: robot-simulator [options] [FILE]\n"
    "Shows the robot simulator's window: a small mobile robot in a walled 10 x 10 world\n"
    "that drives itself to a target. FILE is a world file (.dat) to open at start-up.\n"
    "Exit codes: 0 success, 1 no display, 2 bad arguments.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Shows this help and exits.\n"
    "  -v, --version  Shows the version and exits.\n"
    "\n"
    "Qt's own options, such as -platform NAME or -style NAME, are understood too.\n";

bool is_help(const std::string& argument) {
  return argument == "-h" || argument == "--help";
}

bool is_version(const std::string& argument) {
  return argument == "-v" || argument == "--version";
}

window_options answer(window_action action) {
  window_options options;
  options.action = action;
  if (action == window_action::help) options.message = kHelpText;
  if (action == window_action::version)
    options.message = std::string(kExecutableName) + " " + ROBOSIM_VERSION + "\n";
  return options;
}

window_options error(std::string message) {
  window_options options;
  options.action = window_action::error;
  options.message = std::move(message);
  return options;
}

}  // namespace

window_action early_action(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (is_help(argument)) return window_action::help;
    if (is_version(argument)) return window_action::version;
  }
  return window_action::run;
}

window_options parse_window_options(const std::vector<std::string>& arguments) {
  const window_action early = early_action(arguments);
  if (early != window_action::run) return answer(early);

  window_options options;
  bool only_files = false;
  for (const std::string& argument : arguments) {
    if (!only_files && argument == "--") {
      only_files = true;
      continue;
    }
    if (!only_files && argument.size() > 1 && argument.front() == '-')
      return error("unknown option '" + argument + "'");
    if (argument.empty()) return error("the world file's name is empty");
    if (!options.world_path.empty()) return error("only one world file can be opened");
    options.world_path = argument;
  }
  return options;
}
