// World files: the exact text written, how files are read (short files, counts,
// white space, line ends), what happens to bad or absurd files and to failed
// saves, the decimal point under a decimal-comma locale, and the example worlds.
#include "core/world_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/automode.h"
#include "core/portable_math.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/world.h"
#include "shell/simulation_reset.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using wall_values = std::array<double, 4>;

std::vector<wall_values> walls_from_head(const world_state& world) {
  std::vector<wall_values> out;
  for (const wall_node* w = world.walls; w != nullptr; w = w->next) {
    out.push_back({w->x, w->y, w->width, w->height});
  }
  return out;
}

// Everything a failed load must leave alone.
struct world_snapshot {
  std::vector<wall_values> walls;
  std::int32_t num_walls;
  double robot_x, robot_y, heading;
  double target_x, target_y;
  double scale1, scale2, scale3;
  std::int32_t num_impacts;
  std::int32_t num_waypoints;
  std::int32_t cur_waypoint;
  bool show_walls, show_grad;

  static world_snapshot take(const simulation& sim) {
    const world_state& world = sim.world;
    const robot_state& robot = sim.robot;
    return {walls_from_head(world), world.num_walls,  robot.x,           robot.y,
            robot.heading,          world.target_x,   world.target_y,    world.scale1,
            world.scale2,           world.scale3,     world.num_impacts, world.num_waypoints,
            world.cur_waypoint,     world.show_walls, world.show_grad};
  }
  bool operator==(const world_snapshot&) const = default;
};

const char kDefaultWorldText[] =
    "2.500000\n"
    "7.250000\n"
    "1.500000\n"
    "4\n"
    "9.950000 0.000000 0.050000 10.000000\n"
    "0.000000 0.000000 0.050000 10.000000\n"
    "0.000000 9.950000 10.000000 0.050000\n"
    "0.000000 0.000000 10.000000 0.050000\n";

// Restores the process locale when it goes out of scope.
class locale_guard {
 public:
  locale_guard() : saved_(std::setlocale(LC_ALL, nullptr)) {}
  ~locale_guard() { std::setlocale(LC_ALL, saved_.c_str()); }

 private:
  std::string saved_;
};

class WorldFileTest : public SimulationTest {
 protected:
  void SetUp() override {
    simulation_reset(app);
    sim.rng.seed(12345);
    use_simulated_clock(sim, 100.0);
    world_setup(sim);
    dir_ = make_scratch_directory("world_file_test");
  }

  void TearDown() override {
    remove_scratch_directory(dir_);
    simulation_reset(app);
  }

  // A world that differs from the default in everything a reset would change.
  void make_world_differ_from_default() {
    world_add_wall(sim, 1.0, 2.0, 3.0, 0.5);
    world_add_impact(sim, 3.0, 3.0);
    world_set_target(sim, 7.5, 2.5);
    world.scale1 = 0.5;
    world.scale2 = 0.25;
    world.scale3 = 0.75;
    world.show_grad = true;
    robot.x = 4.25;
    robot.y = 6.75;
    robot.heading = 2.0;
  }

  std::vector<std::string> files_in_dir() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
};

// ---------------------------------------------------------------------------
// Writing

TEST_F(WorldFileTest, DefaultWorldWritesTheEightLinesByteForByte) {
  robot.x = 2.5;
  robot.y = 7.25;
  robot.heading = 1.5;
  EXPECT_EQ(world_format_text(sim), kDefaultWorldText);

  const fs::path file = dir_ / "default.dat";
  ASSERT_TRUE(succeeded(world_write_file(sim, file.string())));
  EXPECT_EQ(read_bytes(file), kDefaultWorldText);
  EXPECT_EQ(files_in_dir(), std::vector<std::string>{"default.dat"}) << "no temporary left";
}

TEST_F(WorldFileTest, WriterRoundsToSixDecimalsWithoutExponent) {
  world_free_walls(sim);
  world_add_wall(sim, 0.05, -0.0000004, 123456.7891234, 1e-7);
  robot.x = 0.1234565;  // not exactly representable: rounds as printf does
  robot.y = -3.0;
  robot.heading = 6.283185307179586;
  EXPECT_EQ(world_format_text(sim),
            "0.123456\n-3.000000\n6.283185\n1\n0.050000 -0.000000 123456.789123 0.000000\n");
}

// ---------------------------------------------------------------------------
// Reading well-formed files

TEST_F(WorldFileTest, LoadingTheEightLinesResetsTheWorldAndReversesTheWalls) {
  make_world_differ_from_default();
  ASSERT_TRUE(succeeded(world_read_text(sim, kDefaultWorldText)));

  EXPECT_DOUBLE_EQ(robot.x, 2.5);
  EXPECT_DOUBLE_EQ(robot.y, 7.25);
  EXPECT_DOUBLE_EQ(robot.heading, 1.5);
  EXPECT_EQ(world.target_x, 5.0);
  EXPECT_EQ(world.target_y, 5.0);
  EXPECT_DOUBLE_EQ(world.scale1, 0.11);
  EXPECT_DOUBLE_EQ(world.scale2, 0.86);
  EXPECT_DOUBLE_EQ(world.scale3, 0.193);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.impacts, nullptr);
  EXPECT_FALSE(world.show_grad);
  // Top, bottom, left, right from the head: the reverse of the file.
  const std::vector<wall_values> expected = {
      {0, 0, 10, 0.05}, {0, 9.95, 10, 0.05}, {0, 0, 0.05, 10}, {9.95, 0, 0.05, 10}};
  EXPECT_EQ(walls_from_head(world), expected);
  EXPECT_EQ(world.num_walls, 4);
}

TEST_F(WorldFileTest, RoundTripReversesTheWallsAndKeepsSixDecimals) {
  world_free_walls(sim);
  world_add_wall(sim, 1.0, 2.0, 3.0, 4.0);
  world_add_wall(sim, 1.23456789, 2.5, 0.0000004, 7.9999996);
  world_add_wall(sim, -1.5, 11.25, 0.1, 0.2);
  robot.x = 3.14159265;
  robot.y = 2.71828182;
  robot.heading = 0.5;
  const fs::path first = dir_ / "first.dat";
  ASSERT_TRUE(succeeded(world_write_file(sim, first.string())));
  const std::string first_text = read_bytes(first);

  ASSERT_TRUE(succeeded(world_read_file(sim, first.string())));
  EXPECT_EQ(robot.x, 3.141593);
  EXPECT_EQ(robot.y, 2.718282);
  EXPECT_EQ(robot.heading, 0.5);
  const std::vector<wall_values> reversed = {
      {1.0, 2.0, 3.0, 4.0}, {1.234568, 2.5, 0.0, 8.0}, {-1.5, 11.25, 0.1, 0.2}};
  EXPECT_EQ(walls_from_head(world), reversed);
  EXPECT_EQ(world.num_walls, 3);

  // Saving the loaded world writes the walls in the opposite order to the file.
  const fs::path second = dir_ / "second.dat";
  ASSERT_TRUE(succeeded(world_write_file(sim, second.string())));
  EXPECT_EQ(read_bytes(second),
            "3.141593\n2.718282\n0.500000\n3\n"
            "1.000000 2.000000 3.000000 4.000000\n"
            "1.234568 2.500000 0.000000 8.000000\n"
            "-1.500000 11.250000 0.100000 0.200000\n");
  EXPECT_NE(read_bytes(second), first_text);
  // A second round trip restores the first file exactly.
  ASSERT_TRUE(succeeded(world_read_file(sim, second.string())));
  ASSERT_TRUE(succeeded(world_write_file(sim, second.string())));
  EXPECT_EQ(read_bytes(second), first_text);
}

// Data written straight to text reads as the world that data makes, saved: the
// same bytes on random data, large headings and odd values among them.
TEST_F(WorldFileTest, DataWrittenDirectlyIsTheSaveOfTheWorldItMakes) {
  std::mt19937_64 rng(2024);
  auto value = [&rng]() {
    switch (rng() % 6) {
      case 0:
        return 0.0;
      case 1:
        return -0.0;
      case 2:
        return std::ldexp(static_cast<double>(rng() % 1000000), -20);
      case 3:
        return static_cast<double>(static_cast<std::int64_t>(rng() % 4000000)) - 2e6;
      case 4:
        return 0.0000005 * static_cast<double>(rng() % 5);
      default:
        return std::uniform_real_distribution<double>(-20.0, 20.0)(rng);
    }
  };
  for (int n = 0; n < 200; ++n) {
    world_file_data data;
    data.x = value();
    data.y = value();
    data.heading = n % 4 == 0 ? value() * 1000.0 : value();
    const std::size_t count = rng() % 30;
    for (std::size_t k = 0; k < count; ++k)
      data.walls.push_back({value(), value(), value(), value()});
    std::string direct;
    ASSERT_TRUE(succeeded(world_data_to_text(data, direct)));
    world_apply_data(sim, data);
    ASSERT_EQ(direct, world_format_text(sim)) << "data " << n;
  }
  const fs::path file = dir_ / "direct.dat";
  world_file_data data;
  data.x = 1.5;
  data.y = 2.5;
  data.heading = 0.25;
  data.walls = {{1, 2, 3, 4}, {5, 6, 7, 8}};
  ASSERT_TRUE(succeeded(world_data_write_file(file.string(), data)));
  EXPECT_EQ(read_bytes(file),
            "1.500000\n2.500000\n0.250000\n2\n5.000000 6.000000 7.000000 8.000000\n"
            "1.000000 2.000000 3.000000 4.000000\n");
}

TEST_F(WorldFileTest, DataWithoutAPoseOrWithValuesNotFiniteIsNotWritten) {
  const fs::path file = dir_ / "kept.dat";
  std::ofstream(file) << "old";
  world_file_data complete;
  complete.x = 1;
  complete.y = 1;
  complete.heading = 0;
  complete.walls = {{1, 1, 1, 1}, {2, 2, 2, 2}};
  std::vector<world_file_data> bad(4, complete);
  bad[0].heading.reset();
  bad[1].x = std::numeric_limits<double>::infinity();
  bad[2].walls[0].height = std::nan("");
  bad[3].y.reset();
  for (const world_file_data& data : bad) {
    std::string error;
    error = failure_of(world_data_write_file(file.string(), data));
    EXPECT_NE(error.find("cannot save"), std::string::npos) << error;
    EXPECT_EQ(read_bytes(file), "old");
  }
  std::string error;
  error = failure_of(world_data_write_file("", complete));
  EXPECT_EQ(error, "cannot save: no file name given");
}

TEST_F(WorldFileTest, CountDecidesHowManyWallsAreRead) {
  // Zero: no walls at all, not even the boundary.
  ASSERT_TRUE(succeeded(world_read_text(sim, "1\n2\n3\n0\n")));
  EXPECT_EQ(world.walls, nullptr);
  EXPECT_EQ(world.num_walls, 0);
  EXPECT_EQ(world_check_wall_point(sim, 0.02, 5.0), 0);

  // More walls announced than present: the walls that are there.
  ASSERT_TRUE(succeeded(world_read_text(sim, "1\n2\n3\n3\n1 1 1 1\n2 2 2 2\n")));
  EXPECT_EQ(world.num_walls, 2);
  EXPECT_EQ(walls_from_head(world), (std::vector<wall_values>{{2, 2, 2, 2}, {1, 1, 1, 1}}));

  // Fewer announced than present: the rest of the file is not read, whatever it holds.
  ASSERT_TRUE(
      succeeded(world_read_text(sim, "1\n2\n3\n2\n1 1 1 1\n2 2 2 2\n3 3 3 3\nnot a wall\n")));
  EXPECT_EQ(world.num_walls, 2);
  EXPECT_EQ(walls_from_head(world), (std::vector<wall_values>{{2, 2, 2, 2}, {1, 1, 1, 1}}));

  // Negative, taken as unsigned: to the end of the file.
  ASSERT_TRUE(succeeded(
      world_read_text(sim, "1\n2\n3\n-1\n1 1 1 1\n2 2 2 2\n3 3 3 3\n4 4 4 4\n5 5 5 5\n")));
  EXPECT_EQ(world.num_walls, 5);
  EXPECT_EQ(walls_from_head(world).front(), (wall_values{5, 5, 5, 5}));

  world_file_data data;
  world_file_error parse_error;
  ASSERT_TRUE(world_parse_text("1 2 3 -7\n", data, parse_error));
  EXPECT_EQ(data.wall_count, -7);
  EXPECT_TRUE(data.walls.empty());
}

TEST_F(WorldFileTest, FileEndingEarlyKeepsTheValuesOfTheReset) {
  // The same seed makes the reset draw the same random robot pose.
  sim.rng.seed(777);
  world_setup(sim);
  const double reset_y = robot.y;
  const double reset_heading = robot.heading;

  make_world_differ_from_default();
  sim.rng.seed(777);
  ASSERT_TRUE(succeeded(world_read_text(sim, "3.5\n")));
  EXPECT_EQ(robot.x, 3.5);
  EXPECT_EQ(robot.y, reset_y);
  EXPECT_EQ(robot.heading, reset_heading);
  EXPECT_EQ(world.num_walls, 0);
  EXPECT_EQ(world.num_impacts, 0);
  EXPECT_EQ(world.target_x, 5.0);
  EXPECT_DOUBLE_EQ(world.scale1, 0.11);

  // An empty file is a reset without walls.
  make_world_differ_from_default();
  sim.rng.seed(777);
  ASSERT_TRUE(succeeded(world_read_text(sim, "")));
  EXPECT_EQ(robot.y, reset_y);
  EXPECT_EQ(world.walls, nullptr);
  EXPECT_EQ(world.num_walls, 0);

  world_file_data data;
  world_file_error parse_error;
  ASSERT_TRUE(world_parse_text("1\n2\n", data, parse_error));
  EXPECT_EQ(data.x, 1.0);
  EXPECT_EQ(data.y, 2.0);
  EXPECT_FALSE(data.heading.has_value());
  EXPECT_FALSE(data.wall_count.has_value());
}

TEST_F(WorldFileTest, WhiteSpaceAndLineEndsDoNotMatter) {
  ASSERT_TRUE(succeeded(world_read_text(sim, kDefaultWorldText)));
  const world_snapshot plain = world_snapshot::take(sim);

  const char* const variants[] = {
      // Windows line ends.
      "2.500000\r\n7.250000\r\n1.500000\r\n4\r\n9.950000 0.000000 0.050000 10.000000\r\n"
      "0.000000 0.000000 0.050000 10.000000\r\n0.000000 9.950000 10.000000 0.050000\r\n"
      "0.000000 0.000000 10.000000 0.050000\r\n",
      // Blank lines, extra spaces and tabs, no final line break, short numbers.
      "\n\n  2.5\n\n7.25   \n\t1.5\n4\n\n9.95   0 \t0.05  10\n0 0 0.05 10\n\n"
      "0 9.95 10 0.05\n  0 0 10 0.05",
      // Old Mac line ends, a byte order mark, '+' signs and exponents.
      "\xEF\xBB\xBF+2.5\r7.25e0\r15e-1\r+4\r9.95 0 5e-2 1e1\r0 0 0.05 10\r0 9.95 10 0.05\r"
      "0 0 10 0.05\r",
      // Everything on one line.
      "2.5 7.25 1.5 4 9.95 0 0.05 10 0 0 0.05 10 0 9.95 10 0.05 0 0 10 0.05",
  };
  for (const char* text : variants) {
    make_world_differ_from_default();
    ASSERT_TRUE(succeeded(world_read_text(sim, text))) << "\n" << text;
    world_snapshot loaded = world_snapshot::take(sim);
    EXPECT_EQ(loaded.walls, plain.walls) << text;
    EXPECT_EQ(loaded.robot_x, plain.robot_x) << text;
    EXPECT_EQ(loaded.robot_y, plain.robot_y) << text;
    EXPECT_EQ(loaded.heading, plain.heading) << text;
  }
}

// ---------------------------------------------------------------------------
// Bad content: reported with its line, the world kept as it was

struct bad_text_case {
  const char* text;
  int line;
  const char* reason;  // a part of the message
};

TEST_F(WorldFileTest, ContentThatIsNotAWorldFileIsReportedAndChangesNothing) {
  const bad_text_case cases[] = {
      {"robot\n", 1, "expected a number for the robot's x, found \"robot\""},
      {"1\n2\nthree\n", 3, "the robot's heading"},
      {"1\n2\n3\nfour\n1 1 1 1\n", 4, "number of walls as a whole number, found \"four\""},
      {"1\n2\n3\n.5\n", 4, "whole number, found \".5\""},
      {"1\n2\n3\n4.5\n", 4, "the file ends inside wall 1"},  // read as 4, then .5
      {"1\n2\n3\n99999999999\n", 4, "out of range"},
      {"1\n2\n3\n2\n1 1 1 1\n1 wide 1 1\n", 6, "wall 2's y, found \"wide\""},
      {"1\n2\n3\n2\n1 1 1 1x\n", 5, "wall 2's x, found \"x\" after \"1\""},
      {"1\n2\n3\n1\n1 1 1e+ 1\n", 5, "wall 1's width, found \"1e+\""},
      {"2,500000\n7,250000\n", 1, "use a point as the decimal separator"},
      {"nan\n2\n3\n0\n", 1, "the robot's x must be a finite number"},
      {"1\n2\n3\n1\n0 0 inf 1\n", 5, "wall 1's width must be a finite number"},
      {"1\n1e999\n", 2, "the robot's y \"1e999\" is out of range"},
      {"1\n2\n3\n-1\n1 1 1 1\n2 2\n", 6, "the file ends inside wall 2"},
      {"1\n2\n3\n5\n\n\n1 1 1\n", 7, "the file ends inside wall 1"},
      {"1\n2\n3\n1\n0x 1 1 1\n", 5, "wall 1's x, found \"0x\""},
      {"1\n2\ninfin\n", 3, "the robot's heading, found \"infin\""},
      {"1\r\n2\r\n3\r\n1\r\n1 1 1 ?\r\n", 5, "found \"?\""},
      {"1\n2\nL\xC3\xA4nge\n", 3, "found \"L\xC3\xA4nge\""},
      {"1\n\n\nx\xC3\n", 4, "found characters that are not text"},
  };
  make_world_differ_from_default();
  const world_snapshot before = world_snapshot::take(sim);
  for (const bad_text_case& c : cases) {
    const file_result loaded = world_read_text(sim, c.text);
    EXPECT_FALSE(loaded) << c.text;
    EXPECT_EQ(loaded.error().kind, file_error_kind::content) << c.text;
    const std::string error = loaded.message();
    EXPECT_NE(error.find("line " + std::to_string(c.line) + ": "), std::string::npos)
        << c.text << " -> " << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(world_snapshot::take(sim), before) << c.text;

    world_file_data data;
    world_file_error parse_error;
    EXPECT_FALSE(world_parse_text(c.text, data, parse_error));
    EXPECT_EQ(parse_error.line, c.line) << c.text;
  }
}

// ---------------------------------------------------------------------------
// What the C scanning formats accept, the reader accepts, with the same values

// The loader as the file format describes it, on the C library's own scanning:
// "%lf\n" three times, "%d\n", then "%lf %lf %lf %lf\n" per wall while the count
// (taken as unsigned) is not met and the end of the file is not reached. It
// fails where a value cannot be scanned before the count is met.
struct literal_load {
  bool failed = false;
  std::vector<double> pose;  // the values read, in order
  std::vector<wall_values> walls;
};

literal_load load_with_fscanf(const std::string& text) {
  literal_load result;
  if (text.empty()) return result;  // ends before its first value
  std::string buffer = text;
  std::FILE* in = ::fmemopen(buffer.data(), buffer.size(), "r");
  const auto fail_unless_finite = [&result](double value) {
    if (!std::isfinite(value)) result.failed = true;
  };
  for (int i = 0; i < 3 && !result.failed; ++i) {
    double value = 0;
    const int got = std::fscanf(in, "%lf\n", &value);
    if (got == 0) result.failed = true;
    if (got == 1) {
      fail_unless_finite(value);
      result.pose.push_back(value);
    }
    if (got == EOF) break;
  }
  int count = 0;
  if (!result.failed && result.pose.size() == 3) {
    const int got = std::fscanf(in, "%d\n", &count);
    if (got == 0) result.failed = true;
    if (got != 1) count = 0;
  }
  for (std::uint32_t i = 0; !result.failed && i < static_cast<std::uint32_t>(count); ++i) {
    if (std::feof(in)) break;
    wall_values wall{};
    if (std::fscanf(in, "%lf %lf %lf %lf\n", &wall[0], &wall[1], &wall[2], &wall[3]) != 4) {
      result.failed = true;
      break;
    }
    for (double value : wall) fail_unless_finite(value);
    result.walls.push_back(wall);
  }
  std::fclose(in);
  return result;
}

TEST_F(WorldFileTest, ScanningAcceptsWhatTheCFormatsAcceptWithTheirValues) {
  struct accepted_case {
    const char* text;
    std::vector<double> pose;
    std::vector<wall_values> walls;  // in file order
  };
  const double tiny = std::strtod("4e-320", nullptr);
  const accepted_case cases[] = {
      // Characters after the last value the count asks for are not read.
      {"5\n5\n0\n1\n1 1 1 1;", {5, 5, 0}, {{1, 1, 1, 1}}},
      {"5\n5\n0\n1\n1 1 1 1x\nanything at all", {5, 5, 0}, {{1, 1, 1, 1}}},
      // Hexadecimal reals, in any field.
      {"0x1.4p+1\n0X1P-2\n-0x.8p1\n1\n0x10 1 1 1\n", {2.5, 0.25, -1.0}, {{16, 1, 1, 1}}},
      // Values that underflow become what the scanning makes of them: 0 or a subnormal.
      {"1e-400\n-1e-400\n4e-320\n0\n", {0.0, -0.0, tiny}, {}},
      // A value ends where a number cannot go on; the next one starts there.
      {"1-2+3\n1\n4 5-6 7\n", {1, -2, 3}, {{4, 5, -6, 7}}},
      {"5.\n.5\n1\n1.5 1 1 2\n", {5, 0.5, 1}, {{0.5, 1, 1, 2}}},  // the count reads as 1
  };
  for (const accepted_case& c : cases) {
    SCOPED_TRACE(c.text);
    world_file_data data;
    world_file_error parse_error;
    ASSERT_TRUE(world_parse_text(c.text, data, parse_error)) << parse_error.message;
    const std::optional<double> pose[3] = {data.x, data.y, data.heading};
    for (std::size_t i = 0; i < c.pose.size(); ++i) {
      ASSERT_TRUE(pose[i].has_value());
      EXPECT_TRUE(same_bits(*pose[i], c.pose[i])) << i << ": " << *pose[i];
    }
    ASSERT_EQ(data.walls.size(), c.walls.size());
    for (std::size_t n = 0; n < c.walls.size(); ++n) {
      const world_file_wall& w = data.walls[n];
      EXPECT_EQ((wall_values{w.x, w.y, w.width, w.height}), c.walls[n]);
    }
    const literal_load literal = load_with_fscanf(c.text);
    EXPECT_FALSE(literal.failed);
    EXPECT_EQ(literal.walls, c.walls);
  }
  ASSERT_TRUE(succeeded(world_read_text(sim, "5\n5\n0\n1\n1 1 1 1;")));
  EXPECT_EQ(world.num_walls, 1);
}

TEST_F(WorldFileTest, ReaderAgreesWithTheCScanningOnRandomTexts) {
  // Numbers of every notation the scanning takes, a few characters that are no
  // number, and separators that are sometimes missing, so that values run into
  // each other. (Parts of numbers that only begin one, such as "1e" or "0x", are
  // left out: C libraries differ on them, and the reader refuses them.)
  const std::vector<std::string> numbers = {
      "1",   "-2.5", ".5", "5.", "0x1.8p1", "0X1P-2", "1e-400", "-1e-400", "4e-320", "1e3",
      "inf", "nan",  "3",  "0",  "-1",      "+7",     "1e999",  "2e+2",    "-0",     "9.75"};
  const std::vector<std::string> junk = {";", ",", "q", "#", "?"};
  const std::vector<std::string> counts = {"0", "1", "2", "3", "-1", "+2", "2.5", "1;"};
  const std::vector<std::string> separators = {"", " ", "\n", "\t", "\r\n", "  \n\n"};
  std::mt19937 rng(2024);
  auto pick = [&rng](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  int accepted = 0;
  int refused = 0;
  for (int n = 0; n < 20000; ++n) {
    std::string text;
    const int pose_values = std::uniform_int_distribution<int>(0, 3)(rng);
    for (int i = 0; i < pose_values; ++i) text += pick(numbers) + pick(separators);
    if (pose_values == 3) {
      text += pick(counts) + pick(separators);
      const int values = std::uniform_int_distribution<int>(0, 14)(rng);
      for (int i = 0; i < values; ++i) {
        text += (rng() % 40 == 0 ? pick(junk) : pick(numbers)) + pick(separators);
      }
    } else if (rng() % 8 == 0) {
      text += pick(junk);
    }
    // Every text starts with a value (a leading separator changes nothing).
    if (!text.empty() && text[0] != ' ') text = (rng() % 2 ? "" : "\n") + text;

    world_file_data data;
    world_file_error parse_error;
    const bool ours = world_parse_text(text, data, parse_error);
    const literal_load literal = load_with_fscanf(text);
    ASSERT_EQ(ours, !literal.failed) << '"' << text << "\": " << parse_error.message;
    if (!ours) {
      ++refused;
      continue;
    }
    ++accepted;
    const std::optional<double> pose[3] = {data.x, data.y, data.heading};
    for (std::size_t i = 0; i < 3; ++i) {
      ASSERT_EQ(pose[i].has_value(), i < literal.pose.size()) << text;
      if (pose[i]) {
        ASSERT_TRUE(same_bits(*pose[i], literal.pose[i])) << text;
      }
    }
    ASSERT_EQ(data.walls.size(), literal.walls.size()) << text;
    for (std::size_t w = 0; w < data.walls.size(); ++w) {
      const world_file_wall& wall = data.walls[w];
      const wall_values ours_wall{wall.x, wall.y, wall.width, wall.height};
      for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(same_bits(ours_wall[k], literal.walls[w][k])) << text;
      }
    }
  }
  EXPECT_GT(accepted, 2000);
  EXPECT_GT(refused, 2000);
}

TEST_F(WorldFileTest, HeadingsUpToAThousandRadiansLoadAsWrittenAndLargerOnesAreFolded) {
  for (const double heading : {10.0, -10.0, 999.5, 1000.0, -1000.0}) {
    ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 " + std::to_string(heading) + " 0")));
    EXPECT_EQ(robot.heading, heading);
  }
  ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 10 0")));
  EXPECT_EQ(world_format_text(sim).substr(0, 28), "5.000000\n5.000000\n10.000000\n");
  // The tick corrects it by one turn at a time, as any heading.
  sim.manual_mode = true;
  robot.speed = 0;
  robot.turn = 0;
  world_update(sim);
  EXPECT_DOUBLE_EQ(robot.heading, 10 - kTwoPi);
  world_update(sim);
  EXPECT_DOUBLE_EQ(robot.heading, 10 - 2 * kTwoPi);
  sim.manual_mode = false;

  for (const double heading : {1000.001, -1000.001, 1e6}) {
    ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 " + std::to_string(heading) + " 0")));
    EXPECT_LE(std::fabs(robot.heading), kPi) << heading;
    EXPECT_NEAR(portable_cos(robot.heading), portable_cos(heading), 1e-6) << heading;
  }
  ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 1e308 0")));
  EXPECT_LE(std::fabs(robot.heading), kPi);
}

TEST_F(WorldFileTest, BinaryDataIsRefusedWithoutLoopingOrCrashing) {
  make_world_differ_from_default();
  const world_snapshot before = world_snapshot::take(sim);

  // A valid start followed by binary garbage, and garbage from the first byte.
  const std::string mixed = std::string("2.5\n7.0\n") + std::string("\x01\x00\xff\xfe\x80", 5);
  std::string error;
  error = failure_of(world_read_text(sim, mixed));
  EXPECT_EQ(error,
            "line 3: expected a number for the robot's heading, found characters that "
            "are not text");
  EXPECT_EQ(world_snapshot::take(sim), before);

  const fs::path file = dir_ / "image.dat";
  std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  write_bytes(file, png);
  error = failure_of(world_read_file(sim, file.string()));
  EXPECT_NE(error.find(file.string()), std::string::npos) << error;
  EXPECT_NE(error.find("line 1: expected a number for the robot's x, found characters that are "
                       "not text"),
            std::string::npos)
      << error;
  EXPECT_EQ(world_snapshot::take(sim), before);

  // Random bytes, and random mixes of digits, signs and white space that may
  // happen to form numbers: each parse ends, and any result is a clean one.
  std::mt19937 generator(2024);
  const std::string alphabet = "0123456789+-.eE \n\r\t,x";
  for (int round = 0; round < 2000; ++round) {
    std::string text(generator() % 200, '\0');
    for (char& c : text) {
      c = round % 2 == 0 ? static_cast<char>(generator() & 0xFF)
                         : alphabet[generator() % alphabet.size()];
    }
    world_file_data data;
    world_file_error parse_error;
    if (world_parse_text(text, data, parse_error)) {
      for (const world_file_wall& wall : data.walls) {
        EXPECT_TRUE(std::isfinite(wall.x) && std::isfinite(wall.y) && std::isfinite(wall.width) &&
                    std::isfinite(wall.height));
      }
    } else {
      EXPECT_FALSE(parse_error.message.empty());
      EXPECT_GE(parse_error.line, 1);
    }
  }
}

// ---------------------------------------------------------------------------
// Files that cannot be read, and absurd files

TEST_F(WorldFileTest, UnreadableFileLeavesTheWorldExactlyAsItWas) {
  make_world_differ_from_default();
  const world_snapshot before = world_snapshot::take(sim);
  std::string error;

  const fs::path missing = dir_ / "missing.dat";
  error = failure_of(world_read_file(sim, missing.string()));
  EXPECT_EQ(error, "cannot load \"" + missing.string() + "\": No such file or directory");
  EXPECT_EQ(world_snapshot::take(sim), before);

  error = failure_of(world_read_file(sim, dir_.string()));
  EXPECT_NE(error.find("it is a folder"), std::string::npos) << error;
  EXPECT_EQ(world_snapshot::take(sim), before);

  // A named pipe would block a plain open; it is refused before opening.
  const fs::path pipe = dir_ / "pipe.dat";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  error = failure_of(world_read_file(sim, pipe.string()));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_EQ(world_snapshot::take(sim), before);

  error = failure_of(world_read_file(sim, ""));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(world_snapshot::take(sim), before);
}

TEST_F(WorldFileTest, AbsurdFilesAreRefused) {
  make_world_differ_from_default();
  const world_snapshot before = world_snapshot::take(sim);
  std::string error;

  // A file of 17 MiB (sparse, so it costs no disk) is refused before reading.
  const fs::path huge = dir_ / "huge.dat";
  write_bytes(huge, "1\n2\n3\n-1\n");
  fs::resize_file(huge, 17u * 1024 * 1024);
  error = failure_of(world_read_file(sim, huge.string()));
  EXPECT_NE(error.find("larger than 16 MiB"), std::string::npos) << error;
  EXPECT_EQ(world_snapshot::take(sim), before);

  const std::string big_text(kWorldFileMaxBytes + 1, ' ');
  error = failure_of(world_read_text(sim, big_text));
  EXPECT_NE(error.find("larger than 16 MiB"), std::string::npos) << error;

  // The wall limit counts walls actually present, not the count line.
  std::string text = "1\n2\n3\n-1\n";
  for (std::size_t i = 0; i < kWorldFileMaxWalls; ++i) text += "1 1 1 1\n";
  world_file_data data;
  world_file_error parse_error;
  ASSERT_TRUE(world_parse_text(text, data, parse_error)) << parse_error.message;
  EXPECT_EQ(data.walls.size(), kWorldFileMaxWalls);
  text += "1 1 1 1\n";
  EXPECT_FALSE(world_parse_text(text, data, parse_error));
  EXPECT_EQ(parse_error.line, static_cast<int>(4 + kWorldFileMaxWalls + 1));
  EXPECT_NE(parse_error.message.find("more than 100000 walls"), std::string::npos);
  error = failure_of(world_read_text(sim, text));
  EXPECT_EQ(world_snapshot::take(sim), before);

  ASSERT_TRUE(world_parse_text("1 2 3 2000000000 1 1 1 1", data, parse_error));
  EXPECT_EQ(data.walls.size(), 1u);
}

// ---------------------------------------------------------------------------
// The decimal point under a decimal-comma locale

TEST_F(WorldFileTest, DecimalPointWhateverTheLocale) {
  locale_guard restore;
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_ALL, "de_DE.utf8") == nullptr) {
    GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/setup.sh generates it)";
  }
  char printed[32];
  std::snprintf(printed, sizeof printed, "%f", 2.5);
  ASSERT_STREQ(printed, "2,500000") << "the locale does not use a decimal comma";

  robot.x = 2.5;
  robot.y = 7.25;
  robot.heading = 1.5;
  EXPECT_EQ(world_format_text(sim), kDefaultWorldText);
  const fs::path file = dir_ / "de.dat";
  std::string error;
  ASSERT_TRUE(succeeded(world_write_file(sim, file.string())));
  EXPECT_EQ(read_bytes(file), kDefaultWorldText);

  world_add_impact(sim, 1.0, 1.0);
  ASSERT_TRUE(succeeded(world_read_file(sim, file.string())));
  EXPECT_EQ(robot.x, 2.5);
  EXPECT_EQ(robot.y, 7.25);
  EXPECT_EQ(robot.heading, 1.5);
  EXPECT_EQ(walls_from_head(world).front(), (wall_values{0, 0, 10, 0.05}));

  // A comma is not taken as a decimal separator under this locale either.
  error = failure_of(world_read_text(sim, "2,5\n"));
  EXPECT_NE(error.find("decimal separator"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Failed saves leave what was there

TEST_F(WorldFileTest, SavingOverAFolderOrADeviceFails) {
  std::string error;
  error = failure_of(world_write_file(sim, dir_.string()));
  EXPECT_NE(error.find("it is a folder"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(dir_));

  if (fs::exists("/dev/full")) {
    error = failure_of(world_write_file(sim, "/dev/full"));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }

  error = failure_of(world_write_file(sim, (dir_ / "no-such-folder" / "w.dat").string()));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  error = failure_of(world_write_file(sim, ""));
  EXPECT_TRUE(files_in_dir().empty());
}

TEST_F(WorldFileTest, SavingIntoAReadOnlyFolderKeepsTheOldFile) {
  const fs::path file = dir_ / "keep.dat";
  write_bytes(file, "old contents\n");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  if (::geteuid() != 0) {
    // The file is the user's own and writable: it is written in place.
    EXPECT_TRUE(succeeded(world_write_file(sim, file.string())));
    EXPECT_EQ(read_bytes(file), world_format_text(sim));
    return;
  } else {
    // Permissions do not bind root: try as an ordinary user, to whom the file
    // (root's, mode 0644) is read-only, in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      const file_result saved = world_write_file(sim, file.string());
      ::_exit(saved ? 1
              : saved.message().find("Permission denied") != std::string::npos &&
                      saved.error().error_number == EACCES
                  ? 0
                  : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot switch to an ordinary user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the save succeeded, 3: other message";
  }
  EXPECT_EQ(read_bytes(file), "old contents\n");
  EXPECT_EQ(files_in_dir(), std::vector<std::string>{"keep.dat"});
}

TEST_F(WorldFileTest, SaveFailingHalfWayKeepsTheOldFile) {
  const fs::path file = dir_ / "keep.dat";
  write_bytes(file, "old contents\n");
  for (int i = 0; i < 200; ++i) world_add_wall(sim, i * 0.01, 1.0, 0.5, 0.5);
  ASSERT_GT(world_format_text(sim).size(), 4096u);

  // Let writes stop after 1 KiB, as on a full disk.
  rlimit saved_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_limit), 0);
  rlimit small = saved_limit;
  small.rlim_cur = 1024;
  auto* const saved_handler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const file_result saved = world_write_file(sim, file.string());
  ::setrlimit(RLIMIT_FSIZE, &saved_limit);
  ::signal(SIGXFSZ, saved_handler);

  const std::string error = failure_of(saved);
  EXPECT_EQ(saved.error().error_number, EFBIG);
  EXPECT_NE(error.find("cannot save \"" + file.string() + "\""), std::string::npos) << error;
  EXPECT_NE(error.find("nothing was changed"), std::string::npos) << error;
  EXPECT_EQ(read_bytes(file), "old contents\n");
  EXPECT_EQ(files_in_dir(), std::vector<std::string>{"keep.dat"}) << "temporary removed";
}

TEST_F(WorldFileTest, SaveReplacesThroughLinksAndKeepsPermissions) {
  const fs::path file = dir_ / "shared.dat";
  write_bytes(file, "old\n");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::path link = dir_ / "link.dat";
  fs::create_symlink(file, link);

  ASSERT_TRUE(succeeded(world_write_file(sim, link.string())));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(read_bytes(file), world_format_text(sim));
  EXPECT_EQ(fs::status(file).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(WorldFileTest, AnyNumberOfWallsAndAnySizeIsSaved) {
  // More walls than a load takes: the save writes them all.
  for (std::size_t i = 0; i <= kWorldFileMaxWalls; ++i) world_add_wall(sim, 1, 1, 1, 1);
  const fs::path many = dir_ / "many.dat";
  std::string error;
  ASSERT_TRUE(succeeded(world_write_file(sim, many.string())));
  EXPECT_EQ(read_bytes(many), world_format_text(sim));
  EXPECT_NE(read_bytes(many).find("\n100005\n"), std::string::npos);

  // Fewer walls, but a text beyond the load limit: saved too.
  world_free_walls(sim);
  for (int i = 0; i < 14000; ++i) world_add_wall(sim, 1e300, -1e300, 1e300, 1e300);
  const std::string text = world_format_text(sim);
  ASSERT_GT(text.size(), kWorldFileMaxBytes);
  const fs::path large = dir_ / "large.dat";
  ASSERT_TRUE(succeeded(world_write_file(sim, large.string())));
  EXPECT_EQ(fs::file_size(large), text.size());
  // Loading keeps its limit and says so.
  error = failure_of(world_read_file(sim, large.string()));
  EXPECT_NE(error.find("larger than 16 MiB"), std::string::npos) << error;
}

TEST_F(WorldFileTest, WorldsTheReaderWouldRefuseAreNotSaved) {
  const fs::path file = dir_ / "keep.dat";
  write_bytes(file, "old\n");
  std::string error;
  robot.heading = std::nan("");
  error = failure_of(world_write_file(sim, file.string()));
  EXPECT_NE(error.find("the robot's heading is not a finite number"), std::string::npos);
  robot.heading = 0.0;
  world_add_wall(sim, 1.0, 1.0, INFINITY, 1.0);
  error = failure_of(world_write_file(sim, file.string()));
  EXPECT_NE(error.find("wall 1 has a value that is not a finite number"), std::string::npos);
  EXPECT_EQ(read_bytes(file), "old\n");
}

// ---------------------------------------------------------------------------
// The example worlds

TEST_F(WorldFileTest, ExampleWorldsLoadAndTheRobotMovesInFreeSpace) {
  const fs::path folder = fs::path(ROBOSIM_SOURCE_DIR) / "worlds";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".dat") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const char* name : {"empty-arena.dat", "maze.dat", "room-with-doorway.dat"}) {
    EXPECT_NE(std::find(files.begin(), files.end(), folder / name), files.end()) << name;
  }

  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    simulation_reset(app);
    use_simulated_clock(sim, 100.0);
    sim.rng.seed(99);
    ASSERT_TRUE(succeeded(world_read_file(sim, file.string())));

    // The four boundary walls are there, every wall lies inside the world.
    std::vector<wall_values> walls = walls_from_head(world);
    for (const wall_values& boundary : std::vector<wall_values>{
             {0, 0, 10, 0.05}, {0, 9.95, 10, 0.05}, {0, 0, 0.05, 10}, {9.95, 0, 0.05, 10}}) {
      EXPECT_NE(std::find(walls.begin(), walls.end(), boundary), walls.end());
    }
    for (const wall_values& w : walls) {
      EXPECT_GE(w[0], 0.0);
      EXPECT_GE(w[1], 0.0);
      EXPECT_GT(w[2], 0.0);
      EXPECT_GT(w[3], 0.0);
      EXPECT_LE(w[0] + w[2], 10.0 + 1e-9);
      EXPECT_LE(w[1] + w[3], 10.0 + 1e-9);
    }

    // The robot's body (radius 0.25) starts clear of every wall.
    for (int k = 0; k < 16; ++k) {
      const double angle = kTwoPi * k / 16;
      for (const double r : {0.0, 0.125, 0.25}) {
        EXPECT_EQ(world_check_wall_point(sim, robot.x + r * portable_cos(angle),
                                         robot.y + r * portable_sin(angle)),
                  0)
            << "robot at (" << robot.x << ", " << robot.y << ") touches a wall";
      }
    }

    // Driving on its own, it gets somewhere and its centre never enters a wall.
    const double start_x = robot.x;
    const double start_y = robot.y;
    double farthest = 0.0;
    for (int tick = 0; tick < 1500; ++tick) {
      advance_simulated_clock(sim, 0.01);
      world_update(sim);
      ASSERT_EQ(world_check_wall_point(sim, robot.x, robot.y), 0) << "tick " << tick;
      farthest = std::max(farthest, vect_mag(robot.x - start_x, robot.y - start_y));
    }
    EXPECT_GT(farthest, 1.0);
  }
}

}  // namespace
