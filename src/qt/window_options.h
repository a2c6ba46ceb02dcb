// The window's command line: robot-simulator [--help | --version] [FILE].
#pragma once

#include <string>
#include <vector>

constexpr const char* kExecutableName = "robot-simulator";

enum class window_action { run, help, version, error };

struct window_options {
  window_action action = window_action::run;
  std::string world_path;  // the world file to open at start-up, byte for byte; may be empty
  std::string message;     // the help or version text, or what is wrong
};

// Looks only for --help and --version (and -h, -v) before any "--", so they
// answer without a display, before Qt has taken out its own options.
window_action early_action(const std::vector<std::string>& arguments);

// Parses the arguments that are left once Qt has taken out its own (-platform,
// -style, ...), the program's name not among them.
window_options parse_window_options(const std::vector<std::string>& arguments);
