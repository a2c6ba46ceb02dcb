// Several complete runs in one process, as a batch tool or the tests do: each run
// must start from the state a fresh program starts from, so the same arguments
// give the same run, byte for byte, whatever ran before it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "headless/runner.h"

namespace {

struct run_output {
  int exit_code = -1;
  std::string summary;  // without the lines that measure the machine
  std::string trace;
};

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Wall time, the rate derived from it and the peak memory differ between any two
// runs; everything else of the summary is the simulation's.
std::string without_machine_lines(const std::string& summary) {
  std::istringstream in(summary);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line.find("wall second") != std::string::npos) continue;
    if (line.find("peak memory") != std::string::npos) continue;
    kept += line + "\n";
  }
  return kept;
}

run_output run_once(const run_options& options) {
  run_output result;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  result.exit_code = run_headless(options, out, err);
  std::rewind(out);
  char buffer[4096];
  std::string summary;
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
    summary.append(buffer, n);
  std::fclose(out);
  std::fclose(err);
  result.summary = without_machine_lines(summary);
  result.trace = read_text(options.trace_path);
  return result;
}

class RepeatedRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("robosim_repeat_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Long enough for the automatic mode's ramp timers to fire against the pillars
  // and for many targets to be reached.
  run_options pillars_run(const std::string& trace_name) const {
    run_options options;
    options.seed = 7;
    options.ticks = 20000;
    options.world_path = std::string(ROBOSIM_SOURCE_DIR) + "/worlds/pillars.dat";
    options.trace_path = (dir_ / trace_name).string();
    return options;
  }

  std::filesystem::path dir_;
};

TEST_F(RepeatedRuns, SameArgumentsGiveTheSameRunTwice) {
  const run_output first = run_once(pillars_run("first.csv"));
  const run_output second = run_once(pillars_run("second.csv"));
  ASSERT_EQ(first.exit_code, kExitOk);
  ASSERT_EQ(second.exit_code, kExitOk);
  EXPECT_NE(first.summary.find("targets reached"), std::string::npos) << first.summary;
  EXPECT_EQ(first.summary, second.summary);
  EXPECT_EQ(first.trace.size(), second.trace.size());
  EXPECT_TRUE(first.trace == second.trace) << "the traces differ";
}

// A run in manual mode with other options leaves state behind (mode, switches,
// tick period); the run after it must not see any of it.
TEST_F(RepeatedRuns, ADifferentRunInBetweenLeavesNoTrace) {
  const run_output before = run_once(pillars_run("before.csv"));
  run_options other = pillars_run("other.csv");
  other.seed = 99;
  other.ticks = 3000;
  other.manual = true;
  other.period_ms = 3;
  other.vision = true;
  other.grad = true;
  other.stats = true;
  other.world_path.clear();
  ASSERT_EQ(run_once(other).exit_code, kExitOk);
  const run_output after = run_once(pillars_run("after.csv"));
  EXPECT_EQ(before.summary, after.summary);
  EXPECT_TRUE(before.trace == after.trace) << "the traces differ";
}

}  // namespace
