// The web page's simulation: the window's start-up, tick, keys, mouse editing
// and File menu for a page whose script turns browser events into these calls
// and puts the pixels on a canvas. The page is the driver's window system (the
// platform interface): its timers are the browser's, armed by the script.
//
// The simulation runs on the simulated clock of the headless runner: every tick
// moves it on by the tick period, whether the tick came from the browser's timer,
// the "one tick" button, fast mode or a script. So the page, the runner and the
// Python module give the same run for the same seed, world and keys, and a pause
// stops the simulation's time as well. The rate timer is the browser's real one
// (every 1000 ms), so the statistics line shows the ticks done in the last real
// second, as the window's does.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "draw/lattice_memo.h"
#include "draw/raster_context.h"
#include "shell/driver.h"
#include "shell/observation.h"
#include "shell/run_metrics.h"
#include "shell/simulated_run.h"
#include "web/browser_keys.h"

// The canvas's size before the page has measured it, the window's client size.
constexpr int kDefaultCanvasWidth = 640;
constexpr int kDefaultCanvasHeight = 480;

// The mouse buttons as MouseEvent.button numbers them.
constexpr int kLeftButton = 0;
constexpr int kRightButton = 2;

// What scripts and tests read of the page (window.robosim.state()).
struct page_state {
  double x = 0.0;
  double y = 0.0;
  double heading = 0.0;
  double speed = 0.0;
  double turn = 0.0;
  double target_x = 0.0;
  double target_y = 0.0;
  bool manual_mode = false;
  int timer_val = 0;
  bool show_stats = false;
  bool show_walls = false;
  bool show_grad = false;
  bool show_vision = false;
  int walls = 0;
  int impacts = 0;
  int waypoints = 0;
  std::uint64_t planning_runs = 0;
  double scale1 = 0.0;
  double scale2 = 0.0;
  double scale3 = 0.0;
  std::uint64_t tick = 0;
  std::uint64_t time_ms = 0;
  std::uint64_t targets_reached = 0;
  int updates_per_second = 0;
  std::uint32_t seed = 0;
  int width = 0;
  int height = 0;
  bool ended = false;
};

class web_page final : public platform {
 public:
  // Starts the simulation as the window does, on a canvas of this size.
  web_page(int width, int height, std::uint32_t seed);

  // The canvas changed size: the off-screen image is made again at the new size
  // (the window's size message).
  void resize(int width, int height);

  // Timer 101 (one tick) and timer 102 (the rate) as the browser's timers fire
  // them. Nothing happens once the simulation has ended.
  void tick();
  void rate_timer();
  // Runs up to `ticks` ticks at once (fast mode, scripts); stops early when the
  // simulation ends or its state stops being finite (the page then pauses; a new
  // world, R, makes it whole again at its next tick). Returns the ticks run.
  std::uint64_t run(std::uint64_t ticks);
  // The period timer 101 runs at, and how many times the driver has armed it
  // (the script arms the browser's timer again whenever the count changes).
  int tick_period_ms() const;
  std::uint64_t tick_timer_arms() const { return tick_timer_arms_; }

  // Keys, as KeyboardEvent.code and .key give them, and whether Alt is held.
  void key_down(std::string_view code, std::string_view key, bool alt_held);
  void key_up(std::string_view code, std::string_view key, bool alt_held);
  // The page lost the keyboard: every held key goes up.
  void release_keys();
  // Presses and releases each key of a list, as the page's start-up does with
  // its `keys` parameter: key names (shell/key_names.h) separated by commas, or
  // letters and digits run together ("GV"). False, with the reason, for a name
  // that is not a key; then no key is pressed.
  bool press_keys(std::string_view list, std::string& error);

  // Mouse buttons and moves at canvas pixels (anywhere, also off the canvas).
  void mouse_down(int button, int x, int y);
  void mouse_move(int x, int y);
  void mouse_up(int button, int x, int y);

  // File > Open with the file's bytes: only a whole, valid world file replaces
  // the world; otherwise the world stays as it was and error says why.
  bool open_world(std::string_view name, std::string_view bytes, std::string& error);
  // File > Save: the world file's text, or false with the reason.
  bool save_world(std::string& text, std::string& error) const;
  // File > Exit: the simulation shuts down; the page stays, without it.
  void exit();
  // Esc (the quit request) or Exit ended the simulation.
  bool ended() const { return ended_; }

  // The share link's fragment for the world now (walls, robot pose, target), and
  // the opening of one. A fragment that is not one leaves the world as it was.
  std::string share_fragment() const;
  bool open_shared(std::string_view fragment, std::string& error);

  // The student's controller: while it drives, the robot is in manual mode and
  // its command is applied at every tick (until the M key or the next command).
  void set_controller(bool on);
  // A command the Python interface would refuse (a speed that is not finite, a
  // turn beyond half a turn a tick) is not taken: false.
  bool drive(double speed, double turn);
  // The robot's readings now, in the order of shell/observation.h.
  std::vector<float> readings() const;

  // Draws the scene (shell/scene.h) into the off-screen image and returns its
  // pixels as the canvas takes them: width * height * 4 bytes, red, green, blue,
  // alpha. The statistics line is the page's, drawn with the canvas's text.
  const std::uint8_t* draw();
  std::string statistics_line() const;
  // The run's figures from the page's start, which window.robosim.stats() gives
  // through the table of run metrics as the headless runner's summary does.
  run_figures figures() const;

  // The trace (shell/trace.h) of the next `ticks` ticks, with the header and the
  // row of the state now first, as the headless runner writes it with --trace.
  std::string trace(std::uint64_t ticks);

  // The name of the first value that stopped being finite, or nullptr.
  const char* broken_value() const;

  page_state state() const;

  simulator& app() { return run_->app(); }
  const simulator& app() const { return run_->app(); }

  // platform: the driver's calls from start-up and the key table.
  void set_timer(int id, int period_ms) override;
  void request_repaint() override {}
  void request_quit(int exit_code) override;
  void client_size(int& width, int& height) override;
  std::unique_ptr<draw_context> create_image(int width, int height) override;

 private:
  std::unique_ptr<simulated_run> run_;
  std::uint32_t seed_;
  int width_;
  int height_;
  bool ended_ = false;
  std::uint64_t tick_timer_arms_ = 0;
  browser_key_tracker keys_;
  std::optional<raster_context> image_;
  // The lattice's arrows from frame to frame: the same pixels for less work.
  lattice_memo arrows_;
  std::vector<std::uint8_t> canvas_bytes_;
};
