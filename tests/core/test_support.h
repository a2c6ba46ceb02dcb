// Shared fixture: every test has its own simulator, which starts in the
// program's start state, then gets the default world with a fixed seed, a
// simulated clock and a 640 x 480 display. `sim`, `world` and `robot` name its
// parts, as the program's own code names them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/automode.h"
#include "core/console.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/simulation.h"
#include "core/utility.h"
#include "core/world.h"
#include "draw/draw_context.h"
#include "file_result_check.h"
#include "shell/driver.h"
#include "shell/simulation_reset.h"
#include "shell/simulator.h"

class SimulationTest : public ::testing::Test {
 protected:
  void SetUp() override { start_afresh(); }
  void TearDown() override {}

  // What SetUp does, also for a test that runs several cases in a row.
  void start_afresh() {
    simulation_reset(app);
    use_simulated_clock(sim, 1000.0);
    console_text.clear();
    set_console_sink(sim, [this](std::string_view text) { console_text.append(text); });
    sim.rng.seed(12345);
    sim.display_x = 640;
    sim.display_y = 480;
    world_setup(sim);
  }

  // Places the robot and replans, as a tick would.
  void place_robot(double x, double y, double heading = 0.0) {
    robot.x = x;
    robot.y = y;
    robot.heading = heading;
  }

  // Held on the heap: a simulator is a few hundred kilobytes.
  std::unique_ptr<simulator> owned = std::make_unique<simulator>();
  simulator& app = *owned;
  simulation& sim = app.sim;
  world_state& world = sim.world;
  robot_state& robot = sim.robot;
  std::string console_text;
};

// A drawing surface that draws nothing; the driver draws a frame on every tick.
class null_context final : public draw_context {
 public:
  void rectangle(int, int, int, int) override { ++shapes; }
  void ellipse(int, int, int, int) override { ++shapes; }
  void move_to(int, int) override {}
  void line_to(int, int) override { ++shapes; }
  void text_out(int, int, std::string_view) override { ++shapes; }
  long shapes = 0;
};

// The window system as the driver sees it, recording every request.
class fake_platform final : public platform {
 public:
  void set_timer(int id, int period_ms) override { timers.emplace_back(id, period_ms); }
  void request_repaint() override { ++repaints; }
  void request_quit(int exit_code) override { quits.push_back(exit_code); }
  void client_size(int& w, int& h) override {
    w = width;
    h = height;
  }
  std::unique_ptr<draw_context> create_image(int w, int h) override {
    images.emplace_back(w, h);
    return std::make_unique<null_context>();
  }

  int width = 640;
  int height = 480;
  std::vector<std::pair<int, int>> timers;  // (id, period) per set_timer call, in order
  int repaints = 0;
  std::vector<int> quits;
  std::vector<std::pair<int, int>> images;  // size of each image asked for
};

// The whole contents of a file (empty when it cannot be read).
inline std::string read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Replaces a file's contents with these bytes.
inline void write_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

struct wall_spec {
  double x;
  double y;
  double width;
  double height;
};

// Replaces the wall list; the walls are added in the given order, so the last one
// ends up at the head of the list (the newest).
inline void replace_walls(simulation& sim, std::initializer_list<wall_spec> walls) {
  world_free_walls(sim);
  for (const wall_spec& w : walls) world_add_wall(sim, w.x, w.y, w.width, w.height);
}

// Puts an impact at the head of the list without the planning run that
// world_add_impact starts, for building many-impact worlds cheaply.
inline void insert_impact_unplanned(simulation& sim, double x, double y) {
  sim.world.impacts = new impact_node{x, y, sim.world.impacts};
  ++sim.world.num_impacts;
}

// World coordinate of the centre of grid cell i along x (or j along y).
inline double cell_centre_x(const simulation& sim, int i) {
  return (i + 0.5) * sim.world.width / kMapSize;
}
inline double cell_centre_y(const simulation& sim, int j) {
  return (j + 0.5) * sim.world.height / kMapSize;
}

inline void fill_map(simulation& sim, std::int32_t value) {
  for (auto& column : sim.world.map)
    for (auto& cell : column) cell = value;
}

inline int list_length(const wall_node* n) {
  int count = 0;
  for (; n; n = n->next) ++count;
  return count;
}
inline int list_length(const impact_node* n) {
  int count = 0;
  for (; n; n = n->next) ++count;
  return count;
}
inline int list_length(const waypoint_node* n) {
  int count = 0;
  for (; n; n = n->next) ++count;
  return count;
}

// A fresh, empty directory for the running test, named after it and this process.
inline std::filesystem::path make_scratch_directory(const std::string& prefix) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      (prefix + "_" + std::to_string(::getpid()) + "_" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// Removes it again, also when a test took away its write permission.
inline void remove_scratch_directory(const std::filesystem::path& dir) {
  std::error_code ignored;
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(dir, ignored);
}
