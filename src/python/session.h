// The simulation as the Python module offers it: the whole simulation of the
// window on the simulated clock, started as the window starts it and ticked as
// the headless runner ticks it, plus the operations of the keys, the mouse and
// the menu, and pictures on request.
//
// Every session owns its simulation, so any number can be open at once. A
// session is used by one thread at a time: the module holds its mutex() around
// every call (and lets go of Python's lock while it waits for it or runs ticks).
// Everything here expects arguments the module has already checked (finite
// numbers, counts and sizes within the run's limits) and reports failures as
// exceptions, which the module turns into Python's:
//   std::invalid_argument  ValueError
//   std::runtime_error     RuntimeError
//   file_failure           OSError with the errno and the file name (the file system's
//                          fault) or ValueError (the content's), from its file_error
//   snapshot_error         ValueError
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/file_error.h"
#include "core/robot.h"
#include "draw/raster_context.h"
#include "python/fork_aware_mutex.h"
#include "shell/placement.h"
#include "shell/run_metrics.h"
#include "shell/scene.h"
#include "shell/simulated_run.h"

// A file that could not be read or written (a world file, a map, a film), as
// the file_error the code that failed returned; what() is its message, the one
// the window and the headless runner show.
class file_failure : public std::runtime_error {
 public:
  explicit file_failure(file_error error)
      : std::runtime_error(error.message), error_(std::move(error)) {}
  const file_error& error() const { return error_; }

 private:
  file_error error_;
};

// The client size the simulation starts with, as the headless runner's default.
constexpr int kSessionClientWidth = 640;
constexpr int kSessionClientHeight = 480;
// A long call (step, record_gif) asks whether to stop at least this often in
// wall time, and after this many ticks at most.
constexpr int kInterruptIntervalMs = 20;
constexpr std::uint64_t kMaxTicksBetweenQuestions = 4096;
// Ticks between two looks at the clock, to see whether it is time to ask the
// caller whether to stop (Ctrl-C in Python); a look costs a few nanoseconds.
constexpr std::uint64_t kTicksBetweenClockReads = 16;

// When a long call asks its caller whether to stop: kInterruptIntervalMs after
// the last question (looked at every few ticks and after every frame), and
// every kMaxTicksBetweenQuestions ticks whatever the clock says.
class question_timer {
 public:
  question_timer() { restart(0); }

  bool due_after_tick(std::uint64_t done) const {
    if (done - asked_at_ >= kMaxTicksBetweenQuestions) return true;
    return done % kTicksBetweenClockReads == 0 && due_by_clock();
  }
  bool due_by_clock() const { return std::chrono::steady_clock::now() >= next_; }
  void restart(std::uint64_t done) {
    asked_at_ = done;
    next_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kInterruptIntervalMs);
  }

 private:
  std::uint64_t asked_at_ = 0;
  std::chrono::steady_clock::time_point next_;
};
// How many of the last console lines a session keeps, and how long one may grow.
constexpr std::size_t kConsoleLinesKept = 100;
constexpr std::size_t kConsoleLineMaxBytes = 4096;

// What the robot reads at the start of a tick, before it moves.
struct robot_readings {
  bool sensor_hit[kNumSensors];
  double sensor_value[kNumSensors];
  bool vision_seen[kNumSensors];
  point vision_point[kNumSensors];
  double grad_angle;
  double grad_mag;
  double heading_error;
};

// The run's metrics from the session's start (run_figures: the table's rows) and
// its console.
struct session_stats : run_figures {
  std::uint64_t console_messages = 0;
  std::vector<std::string> console;  // the last lines, oldest first
};

class session {
 public:
  // Opens a simulation: the window's start-up with the seed, then the world file
  // when one is given, then the pose and target placed (shell/placement.h).
  // Throws file_failure when the world cannot be loaded, std::invalid_argument
  // with the problem when the pose or the target cannot be placed.
  session(std::uint32_t seed, const std::optional<std::string>& world_path, int period_ms,
          bool manual, const placement_request& placement = {});
  // A second session in exactly the state of this open one (its console lines
  // too): stepped alike, both have the same future.
  session(const session& other);
  // A session restored from snapshot(); throws snapshot_error for bytes that
  // are not a snapshot of this version.
  explicit session(std::string_view snapshot);
  ~session();
  session& operator=(const session&) = delete;

  // Ends the simulation; later calls do nothing.
  void close();
  bool closed() const { return run_ == nullptr; }

  // The whole state as bytes (see shell/snapshot.h).
  std::string snapshot() const;

  // Held by whoever uses the session; recursive, so that Python code run from
  // inside a long call (a signal handler) may use the session too. In a process
  // forked while another thread held it, it throws holder_lost instead of
  // waiting for ever.
  fork_aware_mutex& mutex() const { return mutex_; }

  // Runs up to `ticks` ticks; fewer when Esc ended the run or when `interrupted`
  // (asked every kInterruptIntervalMs of wall time or kMaxTicksBetweenQuestions
  // ticks, whichever comes first) says so. Throws std::runtime_error when the
  // session was closed while `interrupted` ran. Returns the ticks run.
  std::uint64_t step(std::uint64_t ticks, const std::function<bool()>& interrupted);
  // One tick, unless Esc ended the run (then false). The session must be open.
  bool tick_once();
  std::uint64_t tick() const;
  double time() const;

  bool manual() const;
  void set_manual(bool manual);
  // The driving command of the following ticks in manual mode; std::runtime_error
  // in automatic mode.
  void drive(double speed, double turn);

  // Key events by virtual-key code.
  void key_down(unsigned code);
  void key_up(unsigned code);

  // Places the robot as a loaded world file does (no planning run).
  void set_pose(double x, double y, double heading);
  void set_target(double x, double y);
  void set_gains(double scale1, double scale2, double scale3);
  void add_wall(double x, double y, double width, double height);
  void clear_walls();
  void clear_impacts();
  void plan();

  // On failure (a file_failure) the world is as it was.
  void load(const std::string& path);
  void save(const std::string& path);

  // The robot's readings as they stand now, for Python's view of the robot:
  // null while the robot record's own are current (a tick has run since the
  // robot was placed or the world changed), else the readings the next tick
  // will take at the robot's pose, before it moves it. The record keeps those
  // of the last tick, as the window's does (and draws: pictures and films are
  // the window's and the headless runner's). The fresh ones are taken on a
  // copy of the simulation, so the impacts its rays would record and any
  // planning run stay out of this one: its future is the same without the call.
  const robot_readings* fresh_readings();

  // The frame the window would show at this client size, as rows of R, G, B bytes
  // (height * width * 3) written to rgb. The lattice and the vision rays are drawn
  // when asked here or when switched on by their keys.
  void render(int width, int height, bool grad, bool vision, std::uint8_t* rgb);

  // Runs up to `ticks` ticks (fewer when Esc ends the run) and films them as the
  // headless runner's --gif does: a frame of the state now, then one every `every`
  // ticks and one of the last tick, drawn at width x height (as render() draws,
  // the lattice, the vision rays and, with `trail`, the robot's path from now on),
  // each shown for the simulated time until the next. The file is written to a
  // temporary file and put in place only when the whole recording succeeded;
  // when `interrupted` says so, or anything fails, it is left as it was. The
  // module has held the frames to the films' limit (shell/film.h). Throws
  // file_failure (an OSError) when the file cannot be written. Returns the
  // ticks run. `interrupted` is asked as step() asks it, and after every frame.
  std::uint64_t record_gif(const std::string& path, std::uint64_t ticks, std::uint64_t every,
                           int width, int height, bool grad, bool vision, bool trail,
                           const std::function<bool()>& interrupted);

  session_stats stats() const;

  // The simulation and the run; the session must be open.
  simulation& sim() { return run_->sim(); }
  const simulation& sim() const { return run_->sim(); }
  simulated_run& run() { return *run_; }

  // Throws std::runtime_error when the session is closed.
  void require_open() const;
  // Throws std::runtime_error when a value of the state is no longer finite (see
  // first_non_finite_value): the runs stop rather than go on with such a robot.
  void require_finite() const;

 private:
  void take_console(std::string_view text);
  void install_console_sink();
  // A picture's canvas of that size; std::bad_alloc when there is no memory for it.
  static std::unique_ptr<raster_context> canvas(int width, int height);
  // The simulation's own switches, and the lattice and the vision rays when asked.
  scene_options options_of(bool grad, bool vision) const;
  // One tick of the run; the record's readings are current after it.
  void run_tick();
  // The robot was placed or the world changed outside a tick.
  void readings_changed();

  mutable fork_aware_mutex mutex_;
  std::unique_ptr<simulated_run> run_;
  std::unique_ptr<raster_context> frame_;
  std::uint64_t console_messages_ = 0;
  std::deque<std::string> console_lines_;
  std::string console_partial_;
  bool readings_stale_ = true;  // no tick since the simulation started
  std::optional<robot_readings> fresh_;
};
