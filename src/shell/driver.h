// The simulation driver: start-up, the tick, the one-second rate count, the key
// table, the driving keys and shut-down. It talks to the window system only
// through the small platform interface below, so the window, the headless runner
// and the tests drive the same code.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "core/utility.h"
#include "shell/virtual_key.h"

class draw_context;
struct simulation;
struct simulator;

// The program's name: the window's title and the title of its dialogs.
constexpr const char* kProgramTitle = "Robot Simulator";

constexpr int kTickTimerId = 101;
constexpr int kRateTimerId = 102;
constexpr int kRatePeriodMs = 1000;
// The largest turn a program may command, radians per tick either way: a larger
// one is the same as a turn the other way round, and would carry the heading
// ever farther from 0 (core/robot.h, kLargestHeading).
constexpr double kMaxDriveTurn = kPi;

// What the driver needs of a window system.
class platform {
 public:
  virtual ~platform() = default;
  // Starts, or re-arms with a new period, the periodic timer with this id.
  virtual void set_timer(int id, int period_ms) = 0;
  // Asks for the whole client area to be repainted (without erasing it).
  virtual void request_repaint() = 0;
  // Asks the event loop to end with this exit code.
  virtual void request_quit(int exit_code) = 0;
  // The client area's size in pixels.
  virtual void client_size(int& width, int& height) = 0;
  // A new off-screen image of the given size to draw into.
  virtual std::unique_ptr<draw_context> create_image(int width, int height) = 0;

  // A platform holds no state of a run, so a run's == can be defaulted.
  friend bool operator==(const platform&, const platform&) = default;
};

// A driving command given by a program (the Python interface) rather than by the
// keys. While it is set, check_keys applies it in manual mode in place of the W,
// S, A, D table; a tick in automatic mode drops it.
struct drive_command {
  double speed = 0.0;
  double turn = 0.0;

  // Programs give any finite speed and a turn of at most half a turn.
  template <typename Self, typename Visit>
  static void fields(Self& c, Visit& visit) {
    visit(c.speed, "speed", kFinite);
    visit(c.turn, "turn", real_limit{-kMaxDriveTurn, kMaxDriveTurn});
  }
  friend bool operator==(const drive_command&, const drive_command&) = default;
};

// The driver's flags and counters. The driver also sets manual_mode and
// display_x, display_y of the simulation, which the simulation reads.
struct driver_state {
  bool keys[256] = {};
  std::int32_t timer_val = 10;
  std::int32_t updates = 0;
  std::int32_t updates_per_second = 0;
  bool show_stats = false;
  std::optional<drive_command> program_drive;

  // The period only grows by the Down key and shrinks to 0 by the Up key; the
  // counts are ticks of one second, at most one a millisecond.
  template <typename Self, typename Visit>
  static void fields(Self& d, Visit& visit) {
    visit(d.keys, "keys");
    visit(d.timer_val, "timer_val", whole_limit{0, std::numeric_limits<std::int32_t>::max()});
    visit(d.updates, "updates", whole_limit{0, kRatePeriodMs});
    visit(d.updates_per_second, "updates_per_second", whole_limit{0, kRatePeriodMs});
    visit(d.show_stats, "show_stats");
    visit(d.program_drive, "program_drive");
  }
  friend bool operator==(const driver_state&, const driver_state&) = default;
};

// Start-up with the random generator seeded from the calendar time.
void system_startup(simulator& app, platform& window);
// The same with a given seed, for reproducible runs.
void system_startup(simulator& app, platform& window, unsigned seed);
// Measures the client area and creates a new off-screen image of that size.
void memdc_setup(simulator& app, platform& window);
void timer_message(simulator& app, platform& window, unsigned timer_id);
void key_down(simulator& app, platform& window, unsigned key_code);
void key_up(simulator& app, unsigned key_code);
void check_keys(simulator& app);
void manual_motion(simulation& sim, double speed, double turn);
void system_shutdown(simulator& app);

// The statistics line that painting writes over the picture: the last second's
// tick count and the three gains.
std::string statistics_line(const simulator& app);
