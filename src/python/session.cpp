#include "python/session.h"

#include <chrono>
#include <memory>
#include <new>

#include "core/console.h"
#include "core/safe_file.h"
#include "core/simulation.h"
#include "core/world_file.h"
#include "shell/driver.h"
#include "shell/film.h"
#include "shell/run_metrics.h"
#include "shell/scene.h"
#include "shell/snapshot.h"
#include "shell/trail.h"

namespace {

// A console line of a snapshot, as take_console keeps them: one line, of at
// most kConsoleLineMaxBytes.
std::string console_line(snapshot_reader& in) {
  std::string line = in.get_text();
  if (line.size() > kConsoleLineMaxBytes || line.find('\n') != std::string::npos) {
    throw snapshot_error("the snapshot is corrupt: a console line of more than " +
                         std::to_string(kConsoleLineMaxBytes) + " bytes or of several lines");
  }
  return line;
}

}  // namespace

session::session(std::uint32_t seed, const std::optional<std::string>& world_path, int period_ms,
                 bool manual, const placement_request& placement) {
  run_ = std::make_unique<simulated_run>(kSessionClientWidth, kSessionClientHeight);
  install_console_sink();
  run_->start(seed, period_ms, manual);
  if (world_path) load(*world_path);
  if (!placement.empty()) {
    const std::string problem = place_for_run(run_->app().sim, placement);
    if (!problem.empty()) throw std::invalid_argument(problem);
  }
  run_->start_metrics(false);
}

session::session(const session& other) {
  const std::lock_guard<fork_aware_mutex> lock(other.mutex_);
  other.require_open();
  run_ = std::make_unique<simulated_run>(*other.run_);
  console_messages_ = other.console_messages_;
  console_lines_ = other.console_lines_;
  console_partial_ = other.console_partial_;
  readings_stale_ = other.readings_stale_;
  fresh_ = other.fresh_;
  install_console_sink();
}

session::session(std::string_view snapshot) {
  snapshot_reader in(snapshot);
  auto run = std::make_unique<simulated_run>(kSessionClientWidth, kSessionClientHeight);
  read_run_state(in, *run);
  console_messages_ = in.get<std::uint64_t>();
  const std::uint64_t lines = in.get_count(sizeof(std::uint64_t));
  if (lines > kConsoleLinesKept) throw snapshot_error("the snapshot is corrupt: too many lines");
  for (std::uint64_t i = 0; i < lines; ++i) console_lines_.push_back(console_line(in));
  console_partial_ = console_line(in);
  readings_stale_ = in.get_flag();
  in.expect_end();
  run_ = std::move(run);
  install_console_sink();
}

std::string session::snapshot() const {
  require_open();
  snapshot_writer out;
  write_run_state(out, *run_);
  out.put(console_messages_);
  out.put(static_cast<std::uint64_t>(console_lines_.size()));
  for (const std::string& line : console_lines_) out.put_text(line);
  out.put_text(console_partial_);
  out.put(readings_stale_);
  return out.finish();
}

session::~session() {
  if (mutex_.holder_lost()) {
    // Forked while another thread used it: its state may be half changed, so it
    // is left as it is rather than taken apart.
    (void)run_.release();
    (void)frame_.release();
    return;
  }
  close();
}

void session::install_console_sink() {
  set_console_sink(run_->sim(), [this](std::string_view text) { take_console(text); });
}

void session::close() {
  const std::lock_guard<fork_aware_mutex> lock(mutex_);
  run_.reset();
  frame_.reset();
}

void session::require_open() const {
  if (run_ == nullptr) {
    throw std::runtime_error("this robosim.Simulation is closed; open a new one");
  }
}

void session::require_finite() const {
  if (const char* what = first_non_finite_value(sim())) {
    throw std::runtime_error(std::string(what) + " is no longer a finite number after tick " +
                             std::to_string(run_->ticks()) +
                             " (settings too large for the simulation); it cannot run on");
  }
}

std::uint64_t session::step(std::uint64_t ticks, const std::function<bool()>& interrupted) {
  require_open();
  if (ticks > 0) require_finite();
  std::uint64_t done = 0;
  question_timer question;
  while (done < ticks && !run_->quit_requested()) {
    run_tick();
    ++done;
    if (interrupted && question.due_after_tick(done)) {
      const bool stop = interrupted();
      require_open();  // the Python code that ran may have closed this session
      if (stop) break;
      question.restart(done);
    }
  }
  return done;
}

bool session::tick_once() {
  if (run_->quit_requested()) return false;
  require_finite();
  run_tick();
  return true;
}

void session::run_tick() {
  run_->tick();
  if (readings_stale_) {
    readings_stale_ = false;
    fresh_.reset();
  }
  require_finite();  // a state that overflowed stops every run here
}

void session::readings_changed() {
  readings_stale_ = true;
  fresh_.reset();
}

std::uint64_t session::tick() const {
  require_open();
  return run_->ticks();
}

double session::time() const {
  require_open();
  return static_cast<double>(run_->now_ms()) / 1000.0;
}

bool session::manual() const {
  require_open();
  return sim().manual_mode;
}

void session::set_manual(bool manual) {
  require_open();
  sim().manual_mode = manual;
  if (!manual) run_->app().driver.program_drive.reset();
}

void session::drive(double speed, double turn) {
  require_open();
  if (!sim().manual_mode) {
    throw std::runtime_error(
        "drive() needs manual mode: the automatic mode sets the speed and the turn itself; "
        "set manual = True first (or open the Simulation with manual=True)");
  }
  run_->app().driver.program_drive = drive_command{speed, turn};
}

void session::key_down(unsigned code) {
  require_open();
  ::key_down(run_->app(), *run_, code);
  readings_changed();
}

void session::key_up(unsigned code) {
  require_open();
  ::key_up(run_->app(), code);
  readings_changed();
}

void session::set_pose(double x, double y, double heading) {
  require_open();
  sim().robot.x = x;
  sim().robot.y = y;
  sim().robot.heading = world_loaded_heading(heading);
  readings_changed();
}

void session::set_target(double x, double y) {
  require_open();
  world_set_target(sim(), x, y);
  readings_changed();
}

void session::set_gains(double scale1, double scale2, double scale3) {
  require_open();
  sim().world.scale1 = scale1;
  sim().world.scale2 = scale2;
  sim().world.scale3 = scale3;
  readings_changed();
}

void session::add_wall(double x, double y, double width, double height) {
  require_open();
  world_add_wall(sim(), x, y, width, height);
  readings_changed();
}

void session::clear_walls() {
  require_open();
  world_free_walls(sim());
  readings_changed();
}

void session::clear_impacts() {
  require_open();
  // What the N key does.
  world_free_markers(sim());
  world_free_impacts(sim());
  readings_changed();
}

void session::plan() {
  require_open();
  world_compute_map_grid(sim());
  readings_changed();
}

void session::load(const std::string& path) {
  require_open();
  const file_result loaded = world_read_file(sim(), path);
  if (!loaded) throw file_failure(loaded.error());
  readings_changed();
}

void session::save(const std::string& path) {
  require_open();
  const file_result saved = world_write_file(sim(), path);
  if (!saved) throw file_failure(saved.error());
}

const robot_readings* session::fresh_readings() {
  require_open();
  if (!readings_stale_) return nullptr;
  if (!fresh_) {
    // The first part of a tick, on a copy: the robot update reads the probes,
    // the rays and the field at the pose before it moves the robot.
    simulation probe = sim();
    set_console_sink(probe, [](std::string_view) {});
    world_update(probe);
    const robot_state& read = probe.robot;
    robot_readings r{};
    for (int i = 0; i < kNumSensors; ++i) {
      r.sensor_hit[i] = read.sensor_hit[i];
      r.sensor_value[i] = read.sensor_value[i];
      r.vision_seen[i] = read.vision_seen[i];
      r.vision_point[i] = read.vision_point[i];
    }
    r.grad_angle = read.grad_angle;
    r.grad_mag = read.grad_mag;
    r.heading_error = read.heading_error;
    fresh_ = r;
  }
  return &*fresh_;
}

std::unique_ptr<raster_context> session::canvas(int width, int height) {
  auto made = std::make_unique<raster_context>(width, height);
  if (made->width() != width || made->height() != height) throw std::bad_alloc();
  return made;
}

scene_options session::options_of(bool grad, bool vision) const {
  // What the keys switched on is drawn too.
  scene_options options = scene_options_of(run_->app());
  options.grad = options.grad || grad;
  options.vision = options.vision || vision;
  return options;
}

void session::render(int width, int height, bool grad, bool vision, std::uint8_t* rgb) {
  require_open();
  if (frame_ == nullptr || frame_->width() != width || frame_->height() != height) {
    frame_.reset();
    frame_ = canvas(width, height);
  }
  draw_scene(run_->app(), options_of(grad, vision), *frame_);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* row = frame_->pixels() + y * frame_->stride();
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = row[x];
      *rgb++ = static_cast<std::uint8_t>(p >> 16);
      *rgb++ = static_cast<std::uint8_t>(p >> 8);
      *rgb++ = static_cast<std::uint8_t>(p);
    }
  }
}

session_stats session::stats() const {
  require_open();
  session_stats s;
  static_cast<run_figures&>(s) = run_figures_of(run_->app(), run_->now_ms());
  s.console_messages = console_messages_;
  s.console.assign(console_lines_.begin(), console_lines_.end());
  if (!console_partial_.empty()) s.console.push_back(console_partial_);
  return s;
}

void session::take_console(std::string_view text) {
  ++console_messages_;
  for (const char c : text) {
    if (c != '\n') {
      if (console_partial_.size() < kConsoleLineMaxBytes) console_partial_ += c;
      continue;
    }
    console_lines_.push_back(std::move(console_partial_));
    console_partial_.clear();
    if (console_lines_.size() > kConsoleLinesKept) console_lines_.pop_front();
  }
}

std::uint64_t session::record_gif(const std::string& path, std::uint64_t ticks, std::uint64_t every,
                                  int width, int height, bool grad, bool vision, bool trail,
                                  const std::function<bool()>& interrupted) {
  require_open();
  safe_file file;
  if (const file_result prepared = file.prepare(path, true); !prepared) {
    throw file_failure(with_prefix("cannot write " + path + ": ", prepared.error()));
  }
  film_recorder film(canvas(width, height), every, 1.0, film_into(file), path);

  // The trail, when asked for, is this recording's own and ends with it.
  if (trail) trail_start(run_->app());
  // The recording's trail ends with it, unless the session was closed meanwhile.
  struct trail_ender {
    session& owner;
    bool trail;
    ~trail_ender() {
      if (trail && !owner.closed()) trail_reset(owner.run().app());
    }
  } end_trail{*this, trail};

  const auto add_frame = [&] {
    const file_result added = film.add_frame(run_->app(), options_of(grad, vision), run_->now_ms());
    if (!added) throw file_failure(added.error());
  };
  std::uint64_t done = 0;
  question_timer question;
  // Asks the caller; true when the recording is to stop (the file left as it was).
  const auto stop_asked = [&] {
    const bool stop = interrupted();
    if (stop || closed()) file.discard();
    require_open();  // the Python code that ran may have closed this session
    question.restart(done);
    return stop;
  };
  add_frame();
  require_finite();
  while (done < ticks && !run_->quit_requested()) {
    run_tick();
    ++done;
    if (interrupted && question.due_after_tick(done) && stop_asked()) return done;
    if (film.frame_due(done, done == ticks || run_->quit_requested())) {
      add_frame();
      // A large frame can take long to draw and encode.
      if (interrupted && question.due_by_clock() && stop_asked()) return done;
    }
  }
  file_result written = film.finish(run_->now_ms(), run_->app().driver.timer_val);
  if (!written) throw file_failure(written.error());
  written = file.finish();
  if (written) written = file.commit();
  if (!written) throw file_failure(with_prefix("cannot write " + path + ": ", written.error()));
  return done;
}
