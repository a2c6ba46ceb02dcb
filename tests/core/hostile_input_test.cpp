// Hostile input: files that are not world files or hold absurd values, places that
// cannot be read or written, window sizes at both extremes, the pointer far off
// the window and every key held at once. Each case ends in a clear message with
// nothing changed, or in a world that runs and draws without fault; the sanitizer
// build runs these too, so a fault here includes undefined behaviour.
// docs/hostile-inputs.md lists the cases and names the test of each.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/portable_math.h"
#include "core/world_file.h"
#include "draw/recording_context.h"
#include "draw/world_draw.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Robot pose and walls of a small valid world, one value per slot: x, y,
// heading, the count, then two walls of four values each.
const std::vector<std::string> kValidSlots = {"2.5", "7.25", "1.5", "2", "1", "1",
                                              "2",   "2",    "5",   "5", "1", "1"};
const char* const kSlotNames[] = {"the robot's x",       "the robot's y",   "the robot's heading",
                                  "the number of walls", "wall 1's x",      "wall 1's y",
                                  "wall 1's width",      "wall 1's height", "wall 2's x",
                                  "wall 2's y",          "wall 2's width",  "wall 2's height"};
constexpr int kCountSlot = 3;

// The valid world with one slot replaced, in the file layout.
std::string world_text_with(std::size_t slot, const std::string& value) {
  std::vector<std::string> slots = kValidSlots;
  slots[slot] = value;
  return slots[0] + "\n" + slots[1] + "\n" + slots[2] + "\n" + slots[3] + "\n" + slots[4] + " " +
         slots[5] + " " + slots[6] + " " + slots[7] + "\n" + slots[8] + " " + slots[9] + " " +
         slots[10] + " " + slots[11] + "\n";
}

// The line a slot sits on in that layout.
int line_of_slot(std::size_t slot) {
  return slot < 4 ? static_cast<int>(slot) + 1 : (slot < 8 ? 5 : 6);
}

// Everything a refused load or save must leave as it was.
struct world_state_text {
  std::string file_text;  // pose and walls
  double target_x, target_y;
  std::int32_t impacts, waypoints;
  bool operator==(const world_state_text&) const = default;

  static world_state_text take(simulation& sim) {
    const world_state& world = sim.world;
    return {world_format_text(sim), world.target_x, world.target_y, world.num_impacts,
            world.num_waypoints};
  }
};

}  // namespace

class HostileInputTest : public SimulationTest {
 protected:
  void SetUp() override {
    SimulationTest::SetUp();
    dir_ = make_scratch_directory("hostile_input_test");
  }

  void TearDown() override {
    remove_scratch_directory(dir_);
    SimulationTest::TearDown();
  }

  fs::path write_file(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
  }

  // The program's start-up on a window of the given client size.
  void start(int width, int height) {
    window_.width = width;
    window_.height = height;
    system_startup(app, window_, 7);
  }

  // Ticks of the simulation timer, 10 ms of simulated time apart; each one draws a
  // frame into the off-screen image.
  void run_ticks(int count) {
    for (int i = 0; i < count; ++i) {
      advance_simulated_clock(sim, 0.01);
      timer_message(app, window_, kTickTimerId);
    }
  }

  // One frame with everything shown, the field lattice included (ticks draw the
  // lattice only when it is switched on; it is left off there to keep runs short).
  void draw_full_frame() {
    world.show_grad = true;
    robot.show_vision = true;
    recording_context frame;
    world_draw(sim, frame);
    world.show_grad = false;
    EXPECT_GT(frame.count(draw_call_kind::rectangle), 75u * 75u);
  }

  // Whatever the world held, a tick leaves the robot's centre inside the world.
  void expect_robot_inside_the_world() {
    EXPECT_TRUE(std::isfinite(robot.x) && std::isfinite(robot.y) && std::isfinite(robot.heading))
        << robot.x << " " << robot.y << " " << robot.heading;
    EXPECT_GE(robot.x, robot.size_x / 2);
    EXPECT_LE(robot.x, world.width - robot.size_x / 2);
    EXPECT_GE(robot.y, robot.size_y / 2);
    EXPECT_LE(robot.y, world.height - robot.size_y / 2);
  }

  // Loads the text as a file, expecting a refusal that names the file, the line
  // and the reason, with the world left exactly as it was.
  void expect_refused(const std::string& text, int line, const std::string& reason) {
    const fs::path file = write_file("bad.dat", text);
    const world_state_text before = world_state_text::take(sim);
    const std::string error = failure_of(world_read_file(sim, file.string()));
    EXPECT_NE(error.find("cannot load \"" + file.string() + "\": "), std::string::npos) << error;
    if (line > 0) {
      EXPECT_NE(error.find("line " + std::to_string(line) + ": "), std::string::npos)
          << text << " -> " << error;
    }
    EXPECT_NE(error.find(reason), std::string::npos) << text << " -> " << error;
    EXPECT_EQ(world_state_text::take(sim), before) << text;
  }

  fs::path dir_;
  fake_platform window_;
};

// ---------------------------------------------------------------------------
// World files that are not world files

TEST_F(HostileInputTest, EmptyFileLoadsAsAWorldWithoutWalls) {
  start(640, 480);
  const fs::path file = write_file("empty.dat", "");
  ASSERT_TRUE(succeeded(world_read_file(sim, file.string())));
  // Nothing in the file: every value keeps the reset's, and there are no walls.
  EXPECT_EQ(world.walls, nullptr);
  EXPECT_EQ(world.num_walls, 0);
  EXPECT_EQ(world.target_x, 5.0);
  run_ticks(2000);
  expect_robot_inside_the_world();
}

TEST_F(HostileInputTest, BinaryDataIsRefusedAndTheWorldIsKept) {
  start(640, 480);
  world_add_wall(sim, 3, 3, 1, 1);
  expect_refused(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 1,
                 "expected a number for the robot's x, found characters that are not text");
  expect_refused(std::string("2.5\n7.25\n\0\0\0\0", 12), 3, "the robot's heading");

  // Random bytes of every value: refused or, rarely, a short file of numbers.
  std::mt19937 generator(99);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(1 + generator() % 512, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
    const fs::path file = write_file("random.dat", bytes);
    const world_state_text before = world_state_text::take(sim);
    const file_result loaded = world_read_file(sim, file.string());
    if (!loaded) {
      EXPECT_FALSE(loaded.message().empty());
      EXPECT_EQ(world_state_text::take(sim), before);
    }
  }
  run_ticks(200);
  expect_robot_inside_the_world();
}

TEST_F(HostileInputTest, WordsInsteadOfNumbersAreRefusedAtTheirLine) {
  start(640, 480);
  for (std::size_t slot = 0; slot < kValidSlots.size(); ++slot) {
    SCOPED_TRACE(kSlotNames[slot]);
    const std::string expected =
        slot == kCountSlot
            ? "expected the number of walls as a whole number, found \"seven\""
            : "expected a number for " + std::string(kSlotNames[slot]) + ", found \"seven\"";
    expect_refused(world_text_with(slot, "seven"), line_of_slot(slot), expected);
  }
  // A number with a word stuck to it: the number is read, the word is not one.
  expect_refused(world_text_with(6, "2metres"), 5,
                 "expected a number for wall 1's height, found \"metres\" after \"2\"");
}

TEST_F(HostileInputTest, CountOfFourBillionIsRefusedAsOutOfRange) {
  start(640, 480);
  expect_refused(world_text_with(kCountSlot, "4294967295"), 4,
                 "the number of walls \"4294967295\" is out of range");
  expect_refused(world_text_with(kCountSlot, "-4294967295"), 4, "out of range");
  expect_refused(world_text_with(kCountSlot, "99999999999999999999999"), 4, "out of range");
}

TEST_F(HostileInputTest, NegativeCountReadsEveryWallPresent) {
  start(640, 480);
  for (const char* count : {"-1", "-2", "-2147483648"}) {
    ASSERT_TRUE(succeeded(world_read_text(sim, world_text_with(kCountSlot, count)))) << count;
    EXPECT_EQ(world.num_walls, 2) << count;
    EXPECT_EQ(list_length(world.walls), 2) << count;
  }
  run_ticks(500);
  expect_robot_inside_the_world();
}

TEST_F(HostileInputTest, NotFiniteValuesAreRefusedInEveryField) {
  start(640, 480);
  for (std::size_t slot = 0; slot < kValidSlots.size(); ++slot) {
    SCOPED_TRACE(kSlotNames[slot]);
    for (const char* value : {"nan", "NaN", "-nan", "inf", "-inf", "Infinity", "1e309", "-1e400"}) {
      SCOPED_TRACE(value);
      const bool has_exponent = std::string(value).find('e') != std::string::npos;
      if (slot == kCountSlot && has_exponent) {
        // The count is read as the whole number in front of the exponent; the
        // exponent is then no number for the first wall's x.
        expect_refused(world_text_with(slot, value), 4, "wall 1's x, found \"e");
      } else if (slot == kCountSlot) {
        expect_refused(world_text_with(slot, value), 4, "the number of walls");
      } else {
        const bool too_large = std::string(value).find('e') != std::string::npos;
        expect_refused(world_text_with(slot, value), line_of_slot(slot),
                       std::string(kSlotNames[slot]) +
                           (too_large ? " \"" + std::string(value) + "\" is out of range"
                                      : " must be a finite number"));
      }
    }
  }
}

TEST_F(HostileInputTest, LargestFiniteValuesInEveryFieldLoadAndRun) {
  start(640, 480);
  for (std::size_t slot = 0; slot < kValidSlots.size(); ++slot) {
    if (slot == kCountSlot) continue;
    for (const char* value : {"1e308", "-1e308", "1.7976931348623157e308", "4.9e-324"}) {
      SCOPED_TRACE(std::string(kSlotNames[slot]) + " = " + value);
      ASSERT_TRUE(succeeded(world_read_text(sim, world_text_with(slot, value))));
      ASSERT_EQ(world.num_walls, 2);
      robot.show_vision = true;
      draw_full_frame();
      run_ticks(2000);
      expect_robot_inside_the_world();
      draw_full_frame();
      // The loaded world saves (in full, without an exponent) and loads again.
      const fs::path file = dir_ / "again.dat";
      ASSERT_TRUE(succeeded(world_write_file(sim, file.string())));
      ASSERT_TRUE(succeeded(world_read_file(sim, file.string())));
      EXPECT_EQ(world.num_walls, 2);
    }
  }
}

TEST_F(HostileInputTest, RobotFarOutsideTheWorldIsBroughtInsideByTheFirstTick) {
  start(640, 480);
  const char* const poses[] = {"1e9 -1e9 0", "-1e308 1e308 3", "10.25 -0.25 0", "1e15 5 1"};
  for (const char* pose : poses) {
    SCOPED_TRACE(pose);
    ASSERT_TRUE(succeeded(world_read_text(sim, std::string(pose) + " 4 9.95 0 0.05 10 0 0 0.05 10 "
                                                                   "0 9.95 10 0.05 0 0 10 0.05")));
    run_ticks(1);
    expect_robot_inside_the_world();
    run_ticks(1000);
    expect_robot_inside_the_world();
  }
}

TEST_F(HostileInputTest, HeadingOfAnySizeIsTakenAsTheSameDirection) {
  start(640, 480);
  // Headings up to a thousand radians either way are kept exactly; the ticks
  // bring them back one turn at a time.
  for (const double heading : {-3.0, 0.0, 1.5, 4.0, 6.28, 0.5 + 3 * kTwoPi, -1000.0}) {
    ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 " + std::to_string(heading) + " 0")));
    EXPECT_DOUBLE_EQ(robot.heading, std::stod(std::to_string(heading)));
  }
  // Larger ones are turned into the same direction within a half turn either way,
  // so the robot steers at once instead of spinning for ever.
  for (const double turns : {1000.0, -1000.0, 1e6}) {
    const double heading = 0.5 + turns * kTwoPi;
    ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 " + std::to_string(heading) + " 0")));
    EXPECT_LE(std::fabs(robot.heading), kPi);
    EXPECT_NEAR(portable_cos(robot.heading), portable_cos(heading), 1e-6) << heading;
    EXPECT_NEAR(portable_sin(robot.heading), portable_sin(heading), 1e-6) << heading;
  }
  ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 1e308 0")));
  EXPECT_LE(std::fabs(robot.heading), kPi);
  run_ticks(100);
  EXPECT_LE(std::fabs(robot.heading), kPi);
}

TEST_F(HostileInputTest, WallsOfNegativeSizeLoadDrawAndRun) {
  start(640, 480);
  ASSERT_TRUE(succeeded(world_read_text(sim, "5 5 0 3\n2 2 -1 -1\n8 3 -9 0.1\n-5 -5 -1e6 -1e6\n")));
  EXPECT_EQ(world.num_walls, 3);
  // Used as they are: no point lies inside a wall of negative extent.
  EXPECT_EQ(world_check_wall_point(sim, 1.5, 1.5), 0);
  recording_context frame;
  sim.display_x = 640;
  sim.display_y = 480;
  world_draw(sim, frame);
  EXPECT_EQ(frame.count(draw_call_kind::rectangle), 1u + 3u);  // background and walls
  run_ticks(2000);
  expect_robot_inside_the_world();
}

TEST_F(HostileInputTest, HundredThousandWallsLoadAndTickButNoMore) {
  start(640, 480);
  std::string text = "5 5 0 -1\n";  // read every wall there is
  std::mt19937 generator(5);
  std::uniform_real_distribution<double> place(0.0, 10.0);
  for (std::size_t i = 0; i < kWorldFileMaxWalls; ++i) {
    text +=
        std::to_string(place(generator)) + " " + std::to_string(place(generator)) + " 0.01 0.01\n";
  }
  const fs::path file = write_file("many.dat", text);
  std::string error;
  ASSERT_TRUE(succeeded(world_read_file(sim, file.string())));
  EXPECT_EQ(world.num_walls, 100000);
  run_ticks(2);  // slow with so many walls, but each tick ends
  expect_robot_inside_the_world();

  text += "1 1 1 1\n";
  const world_state_text before = world_state_text::take(sim);
  error = failure_of(world_read_file(sim, write_file("too-many.dat", text).string()));
  EXPECT_NE(error.find("more than 100000 walls"), std::string::npos) << error;
  EXPECT_EQ(world_state_text::take(sim), before);
}

// ---------------------------------------------------------------------------
// Places that cannot be read or written

TEST_F(HostileInputTest, DirectoryInsteadOfAFileIsRefusedForLoadAndSave) {
  start(640, 480);
  const world_state_text before = world_state_text::take(sim);
  std::string error;
  error = failure_of(world_read_file(sim, dir_.string()));
  EXPECT_EQ(error, "cannot load \"" + dir_.string() + "\": it is a folder, not a world file");
  error = failure_of(world_write_file(sim, dir_.string()));
  EXPECT_EQ(error, "cannot save \"" + dir_.string() + "\": it is a folder");
  EXPECT_TRUE(fs::is_directory(dir_));
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_EQ(world_state_text::take(sim), before);
}

TEST_F(HostileInputTest, FileThatVanishesBeforeTheReadIsReported) {
  start(640, 480);
  world_add_wall(sim, 3, 3, 1, 1);
  const world_state_text before = world_state_text::take(sim);
  // Chosen in the dialog, then removed (or replaced by a folder) before the read.
  const fs::path file = write_file("chosen.dat", "5 5 0 0\n");
  fs::remove(file);
  std::string error;
  error = failure_of(world_read_file(sim, file.string()));
  EXPECT_EQ(error, "cannot load \"" + file.string() + "\": No such file or directory");
  EXPECT_EQ(world_state_text::take(sim), before);
  fs::create_directory(file);
  error = failure_of(world_read_file(sim, file.string()));
  EXPECT_NE(error.find("it is a folder"), std::string::npos) << error;
  EXPECT_EQ(world_state_text::take(sim), before);
}

TEST_F(HostileInputTest, UnwritableSaveTargetIsReportedAndNothingChanges) {
  start(640, 480);
  std::string error;
  // A folder that does not exist, and a file system that takes no new files.
  const fs::path nowhere = dir_ / "no-such-folder" / "world.dat";
  error = failure_of(world_write_file(sim, nowhere.string()));
  EXPECT_EQ(error, "cannot save \"" + nowhere.string() + "\": No such file or directory");
  EXPECT_FALSE(fs::exists(nowhere.parent_path()));
  if (fs::is_directory("/proc/self")) {
    error = failure_of(world_write_file(sim, "/proc/robosim-world.dat"));
    EXPECT_NE(error.find("cannot save \"/proc/robosim-world.dat\": "), std::string::npos);
    EXPECT_FALSE(fs::exists("/proc/robosim-world.dat"));
  }
  // A read-only folder binds everyone but root (WorldFileTest.
  // SavingIntoAReadOnlyFolderKeepsTheOldFile tries it as an ordinary user).
  if (::geteuid() != 0) {
    const fs::path file = write_file("keep.dat", "old\n");
    fs::permissions(dir_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    error = failure_of(world_write_file(sim, file.string()));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(read_bytes(file), "old\n");
  }
}

TEST_F(HostileInputTest, FullDiskSaveFailsAndKeepsTheOldFile) {
  start(640, 480);
  std::string error;
  if (fs::exists("/dev/full")) {
    error = failure_of(world_write_file(sim, "/dev/full"));
    EXPECT_EQ(error, "cannot save \"/dev/full\": it is not a regular file");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }

  // A disk that fills up part of the way through the file: writes beyond 512
  // bytes fail, as they do on a full disk.
  const fs::path file = write_file("keep.dat", "old contents\n");
  for (int i = 0; i < 100; ++i) world_add_wall(sim, i * 0.05, 2.0, 0.5, 0.5);
  rlimit saved_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_limit), 0);
  rlimit small = saved_limit;
  small.rlim_cur = 512;
  auto* const saved_handler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const file_result saved = world_write_file(sim, file.string());
  ::setrlimit(RLIMIT_FSIZE, &saved_limit);
  ::signal(SIGXFSZ, saved_handler);
  error = failure_of(saved);
  EXPECT_NE(error.find("nothing was changed"), std::string::npos) << error;
  EXPECT_EQ(read_bytes(file), "old contents\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"keep.dat"}) << "no temporary file left behind";
}

// ---------------------------------------------------------------------------
// The window: sizes, pointer positions and keys

TEST_F(HostileInputTest, ZeroSizedWindowRunsAndDrawsNothingOutsideIt) {
  start(0, 0);
  EXPECT_EQ(sim.display_x, 0);
  EXPECT_EQ(sim.display_y, 0);
  EXPECT_EQ(window_.images.back(), std::make_pair(0, 0));
  // Every pixel of no window maps to the world's corner, never to NaN.
  for (const unsigned px : {0u, 1u, 640u, UINT_MAX}) {
    EXPECT_EQ(get_world_x(sim, px), 0.0);
    EXPECT_EQ(get_world_y(sim, px), 0.0);
  }
  world.show_grad = true;
  robot.show_vision = true;
  recording_context frame;
  world_draw(sim, frame);
  world.show_grad = false;
  // The lattice cells keep their one-pixel margin; everything else is at 0.
  for (const draw_call& call : frame.shapes()) {
    for (const int v : {call.x1, call.y1, call.x2, call.y2}) {
      EXPECT_GE(v, -1);
      EXPECT_LE(v, 1);
    }
  }
  run_ticks(1000);
  expect_robot_inside_the_world();
  // Restored to a normal size, as a minimised window is.
  window_.width = 640;
  window_.height = 480;
  memdc_setup(app, window_);
  EXPECT_EQ(sim.display_x, 640);
  run_ticks(10);
}

TEST_F(HostileInputTest, HugeWindowDrawsTheWorldToItsFullSize) {
  start(10000, 10000);
  EXPECT_EQ(window_.images.back(), std::make_pair(10000, 10000));
  world.show_grad = true;
  recording_context frame;
  world_draw(sim, frame);
  world.show_grad = false;
  const auto rectangles = frame.calls_of(draw_call_kind::rectangle);
  ASSERT_FALSE(rectangles.empty());
  EXPECT_EQ(rectangles.front().x2, 10000);  // the background
  EXPECT_EQ(rectangles.front().y2, 10000);
  for (const draw_call& call : frame.shapes()) {
    for (const int v : {call.x1, call.y1, call.x2, call.y2}) {
      EXPECT_GE(v, -200);
      EXPECT_LE(v, 10200);
    }
  }
  EXPECT_NEAR(get_world_x(sim, 9999), 9.999, 1e-12);
  run_ticks(1000);
  expect_robot_inside_the_world();
}

TEST_F(HostileInputTest, PointerFarOutsideTheWindowGivesFiniteWorldPositions) {
  start(640, 480);
  // The largest pixel values a pointer event could carry, converted as the window does.
  for (const unsigned px : {640u, 65535u, 0x7FFFFFFFu, UINT_MAX}) {
    const double wx = get_world_x(sim, px);
    const double wy = get_world_y(sim, px);
    EXPECT_TRUE(std::isfinite(wx) && std::isfinite(wy)) << px;
    // A target placed there is planned for without fault (no path leads there, so
    // the planner picks a reachable one), and the robot goes on.
    world_set_target(sim, wx, wy);
    EXPECT_TRUE(std::isfinite(world.target_x) && std::isfinite(world.target_y));
    run_ticks(100);
    expect_robot_inside_the_world();
  }
}

TEST_F(HostileInputTest, EveryKeyHeldAtOnceNeitherCrashesNorHangs) {
  start(640, 480);
  // Each press runs the action of every key held so far; codes above 255 fold
  // onto the low byte.
  for (unsigned code = 0; code < 512; ++code) key_down(app, window_, code);
  for (const bool held : app.driver.keys) EXPECT_TRUE(held);
  EXPECT_FALSE(window_.quits.empty()) << "Esc asked to quit";
  EXPECT_GE(app.driver.timer_val, 0);
  EXPECT_TRUE(std::isfinite(world.scale1) && std::isfinite(world.scale2) &&
              std::isfinite(world.scale3));
  // Held on through ticks (W, S, A and D together drive as W and A).
  sim.manual_mode = true;
  world.show_grad = false;
  run_ticks(2000);
  expect_robot_inside_the_world();
  EXPECT_EQ(robot.speed, 0.03);
  EXPECT_EQ(robot.turn, -0.03);
  for (unsigned code = 0; code < 256; ++code) key_up(app, code);
  run_ticks(10);
  EXPECT_EQ(robot.speed, 0.0);
}

// Values no world file can carry (the reader refuses them), put straight into the
// world as a fault elsewhere might: the ticks must still end, without undefined
// behaviour, and bring the robot back inside the world.
TEST_F(HostileInputTest, NotFiniteValuesInTheWorldDoNotBreakTheTicks) {
  const double nan = std::nan("");
  const double inf = INFINITY;
  start(640, 480);
  for (const double bad : {nan, inf, -inf}) {
    for (int field = 0; field < 7; ++field) {
      SCOPED_TRACE(std::to_string(bad) + " in field " + std::to_string(field));
      // The automatic mode remembers the last heading error: start each case afresh.
      start_afresh();
      start(640, 480);
      world_add_wall(sim, 2, 2, 1, 1);
      double* const fields[7] = {&robot.x,
                                 &robot.y,
                                 &robot.heading,
                                 &world.walls->x,
                                 &world.walls->y,
                                 &world.walls->width,
                                 &world.walls->height};
      *fields[field] = bad;
      robot.show_vision = true;
      draw_full_frame();
      run_ticks(2000);
      draw_full_frame();
      if (field == 2) {
        // A heading that is not a number stays so, but the robot stays in the world.
        EXPECT_GE(robot.x, 0.25);
        EXPECT_LE(robot.x, 9.75);
        EXPECT_GE(robot.y, 0.25);
        EXPECT_LE(robot.y, 9.75);
      } else {
        expect_robot_inside_the_world();
      }
    }
  }
}
