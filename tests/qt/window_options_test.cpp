// The window's command line: help and version, one world file, Qt's options left
// to Qt, and everything else refused with a reason.
#include "qt/window_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using args = std::vector<std::string>;

TEST(WindowOptions, Table) {
  const struct {
    args arguments;
    window_action action;
    std::string world;
    std::string message_part;
  } cases[] = {
      {{}, window_action::run, "", ""},
      {{"maze.dat"}, window_action::run, "maze.dat", ""},
      {{"\xff.dat"}, window_action::run, "\xff.dat", ""},  // bytes stay bytes
      {{"--", "-odd.dat"}, window_action::run, "-odd.dat", ""},
      {{"-"}, window_action::run, "-", ""},
      {{"--help"}, window_action::help, "", "Usage: robot-simulator [options] [FILE]"},
      {{"maze.dat", "-h"}, window_action::help, "", "--version"},
      {{"--version"}, window_action::version, "", "robot-simulator " ROBOSIM_VERSION "\n"},
      {{"-v", "--bogus"}, window_action::version, "", "robot-simulator"},
      {{"--", "--help"}, window_action::run, "--help", ""},
      {{"--bogus"}, window_action::error, "", "unknown option '--bogus'"},
      {{"-x"}, window_action::error, "", "unknown option '-x'"},
      {{"a.dat", "b.dat"}, window_action::error, "", "only one world file"},
      {{""}, window_action::error, "", "empty"},
  };
  for (const auto& c : cases) {
    const window_options options = parse_window_options(c.arguments);
    const std::string shown = c.arguments.empty() ? "(none)" : c.arguments.front();
    EXPECT_EQ(options.action, c.action) << shown;
    EXPECT_EQ(options.world_path, c.world) << shown;
    EXPECT_NE(options.message.find(c.message_part), std::string::npos)
        << shown << ": " << options.message;
  }
}

TEST(WindowOptions, EarlyActionSeesOnlyHelpAndVersionBeforeTheEndOfOptions) {
  EXPECT_EQ(early_action({"-platform", "offscreen", "--version"}), window_action::version);
  EXPECT_EQ(early_action({"-platform", "offscreen", "w.dat"}), window_action::run);
  EXPECT_EQ(early_action({"--", "-h"}), window_action::run);
}

}  // namespace
