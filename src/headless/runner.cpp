#include "headless/runner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/safe_file.h"
#include "core/simulation.h"
#include "core/world_file.h"
#include "draw/draw_context.h"
#include "headless/frame_folder.h"
#include "headless/key_script.h"
#include "headless/picture.h"
#include "headless/world_making.h"
#include "qtdraw/qimage_context.h"
#include "shell/driver.h"
#include "shell/film.h"
#include "shell/placement.h"
#include "shell/run_metrics.h"
#include "shell/scene.h"
#include "shell/simulator.h"
#include "shell/trace.h"
#include "shell/trail.h"

namespace {

constexpr std::uint64_t kConsolePassThrough = 20;
constexpr double kProgressAfterSeconds = 1.0;
constexpr double kProgressEverySeconds = 0.25;

// Diagnostic console lines: the first few go to standard error, all are counted.
struct console_counter {
  std::FILE* err = nullptr;
  std::uint64_t lines = 0;

  void take(std::string_view text) {
    ++lines;
    if (lines <= kConsolePassThrough) {
      std::fwrite(text.data(), 1, text.size(), err);
      if (lines == kConsolePassThrough) {
        std::fprintf(err, "%s: further console messages are only counted\n", kProgramName);
      }
    }
  }
};

void trace_row(std::FILE* stream, std::string& line, const simulation& sim, std::uint64_t tick,
               std::uint64_t now_ms) {
  line.clear();
  append_trace_row(line, sim, tick, now_ms);
  std::fwrite(line.data(), 1, line.size(), stream);
}

std::string write_error(const std::string& path, const std::string& reason) {
  return "cannot write " + path + ": " + reason;
}
std::string save_error(const std::string& path, const std::string& reason) {
  return "cannot save \"" + path + "\": " + reason;
}

// The progress line on a terminal, for runs that take a while.
class progress_line {
 public:
  progress_line(std::FILE* err, std::uint64_t total)
      : err_(err), total_(total), enabled_(::isatty(::fileno(err)) != 0) {}

  void update(std::uint64_t done, double elapsed) {
    if (!enabled_ || elapsed < kProgressAfterSeconds || elapsed < next_) return;
    next_ = elapsed + kProgressEverySeconds;
    const double rate = static_cast<double>(done) / elapsed;
    const double percent = total_ > 0 ? 100.0 * static_cast<double>(done) / total_ : 100.0;
    const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0.0;
    std::fprintf(err_, "\rtick %llu of %llu (%.0f%%), %.0f ticks/s, about %.0f s left\033[K",
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
                 percent, rate, left);
    std::fflush(err_);
    shown_ = true;
  }

  void finish() {
    if (shown_) {
      std::fputs("\r\033[K", err_);
      std::fflush(err_);
    }
  }

 private:
  std::FILE* err_;
  std::uint64_t total_;
  bool enabled_;
  bool shown_ = false;
  double next_ = 0.0;
};

// The gains the command line gives, set as the keys set them (no bounds).
void apply_gains(world_state& world, const run_options& options) {
  if (options.scale1) world.scale1 = *options.scale1;
  if (options.scale2) world.scale2 = *options.scale2;
  if (options.scale3) world.scale3 = *options.scale3;
}

// Empty when the run meets what the options require, else the one-line reason.
std::string shortfall(const run_options& options, const run_metrics_record& metrics) {
  char text[160];
  if (options.require_targets && metrics.targets_reached < *options.require_targets) {
    std::snprintf(text, sizeof text, "%llu targets reached, %llu required",
                  static_cast<unsigned long long>(metrics.targets_reached),
                  static_cast<unsigned long long>(*options.require_targets));
    return text;
  }
  if (options.max_stuck_seconds && metrics.stuck_seconds() > *options.max_stuck_seconds) {
    std::snprintf(text, sizeof text, "stuck for %.3f s in all, at most %g s allowed",
                  metrics.stuck_seconds(), *options.max_stuck_seconds);
    return text;
  }
  return {};
}

// The run's files, each prepared before the run so that a path that cannot be
// written is reported before the run rather than after it. Nothing is put in
// place until all of them (and the summary) are complete.
struct run_outputs {
  safe_file trace;
  safe_file png;
  safe_file gif;
  safe_file save;
  safe_file events;
  frame_folder frames;  // committed after the files

  std::vector<safe_file*> all() { return {&trace, &png, &gif, &save, &events}; }
};

struct output_kind {
  safe_file run_outputs::*file;
  std::string run_options::*path;
  bool devices;  // may be a device such as /dev/stdout
};
constexpr output_kind kOutputKinds[] = {{&run_outputs::trace, &run_options::trace_path, true},
                                        {&run_outputs::png, &run_options::png_path, true},
                                        {&run_outputs::gif, &run_options::gif_path, true},
                                        {&run_outputs::save, &run_options::save_path, false},
                                        {&run_outputs::events, &run_options::events_path, true}};

// How the tick loop ended.
struct loop_end {
  std::uint64_t tick = 0;
  bool interrupted = false;
  const char* broken = nullptr;  // the first value that stopped being finite
  file_result filmed;            // the film's first failure
  bool last_row_written = true;
  std::size_t next_event = 0;  // the first key event not used
};

// One run: prepare the outputs and the simulation, tick, then commit the outputs
// and print the summary, or fail with nothing written.
class headless_run {
 public:
  headless_run(const run_options& options, std::FILE* out, std::FILE* err,
               const volatile std::sig_atomic_t* stop)
      : options_(options),
        out_(out),
        err_(err),
        stop_(stop),
        seed_(options.seed.value_or(static_cast<std::uint32_t>(std::time(nullptr)))),
        console_{err, 0},
        run_(std::make_unique<simulated_run>(options.width, options.height)) {}

  int run() {
    std::string error;
    if (!options_.keys_path.empty() && !read_key_script(options_.keys_path, key_events_, error)) {
      return fail("cannot read key script " + error, kExitFileError);
    }
    if (const int code = prepare_outputs(); code != kExitOk) return code;
    if (const int code = start(); code != kExitOk) return code;
    const loop_end end = loop();
    if (const int code = after_loop(end); code != kExitOk) return code;
    return commit(end.tick);
  }

 private:
  int fail(const std::string& message, int code) const {
    std::fprintf(err_, "%s: %s\n", kProgramName, message.c_str());
    return code;
  }
  int interrupted(std::uint64_t tick) const {
    return fail("interrupted after " + std::to_string(tick) + " ticks; no files written",
                kExitSignalBase + static_cast<int>(*stop_));
  }
  bool stop_requested() const { return stop_ != nullptr && *stop_ != 0; }
  std::string output_error(const safe_file* file, const std::string& path,
                           const file_result& result) const {
    return file == &outputs_.save ? save_error(path, result.message())
                                  : write_error(path, result.message());
  }

  int prepare_outputs() {
    for (const output_kind& kind : kOutputKinds) {
      const std::string& path = options_.*kind.path;
      if (path.empty()) continue;
      safe_file& file = outputs_.*kind.file;
      const file_result prepared = file.prepare(path, kind.devices);
      if (!prepared) return fail(output_error(&file, path, prepared), kExitFileError);
    }
    if (!options_.frames_dir.empty()) {
      const file_result prepared = outputs_.frames.prepare(options_.frames_dir, options_.ticks);
      if (!prepared) return fail(prepared.message(), kExitFileError);
    }
    return kExitOk;
  }

  // The window's start-up, the world, the settings, the film and the trace's first row.
  int start() {
    simulated_run& window = *run_;
    simulator& app = window.app();
    simulation& sim = app.sim;
    // The run's own simulation: nothing of another run in this process is seen.
    set_console_sink(sim, [this](std::string_view text) { console_.take(text); });
    window.start(seed_, options_.period_ms, options_.manual);
    if (!options_.world_path.empty()) {
      const file_result loaded = world_read_file(sim, options_.world_path);
      if (!loaded) return fail(loaded.message(), kExitFileError);
    }
    if (!options_.placement.empty()) {
      const std::string problem = place_for_run(sim, options_.placement);
      if (!problem.empty()) return fail(problem, kExitBadArguments);
    }
    if (options_.grad) sim.world.show_grad = true;
    if (options_.vision) sim.robot.show_vision = true;
    if (options_.stats) app.driver.show_stats = true;
    apply_gains(sim.world, options_);
    window.start_metrics(!options_.events_path.empty());
    if (options_.trail) trail_start(app);
    // The film's frames and the picture are drawn into a QImage, which draws the
    // statistics line's text too.
    if (outputs_.gif.is_open()) {
      film_ = std::make_unique<film_recorder>(
          std::make_unique<qimage_context>(options_.width, options_.height), options_.frame_every,
          options_.gif_speed, film_into(outputs_.gif), options_.gif_path);
    }
    if (outputs_.frames.is_open()) {
      still_ = std::make_unique<qimage_context>(options_.width, options_.height);
    }
    if (std::FILE* trace = outputs_.trace.stream(); trace != nullptr) {
      std::fprintf(trace, "%s\n", kTraceHeader);
      trace_row(trace, trace_line_, sim, 0, 0);
    }
    return kExitOk;
  }

  // Key events due after `tick` ticks arrive before the next tick; those due
  // after the last tick still arrive, so they can shape the picture and the save.
  void deliver_keys(std::uint64_t tick, std::size_t& next_event) {
    simulated_run& window = *run_;
    while (next_event < key_events_.size() && key_events_[next_event].tick == tick &&
           !window.quit_requested()) {
      const key_event& event = key_events_[next_event++];
      if (event.down) {
        key_down(window.app(), window, event.key_code);
      } else {
        key_up(window.app(), event.key_code);
      }
    }
  }

  loop_end loop() {
    simulated_run& window = *run_;
    simulator& app = window.app();
    std::FILE* trace = outputs_.trace.stream();
    progress_line progress(err_, options_.ticks);
    const auto wall_start = clock::now();
    loop_end end;
    for (;;) {
      deliver_keys(end.tick, end.next_event);
      // A frame shows the state after the tick's key events.
      const bool last = window.quit_requested() || end.tick == options_.ticks;
      if (film_ && film_->frame_due(end.tick, last)) {
        end.filmed = film_->add_frame(app, scene_options_of(app), window.now_ms());
        if (!end.filmed) break;
      }
      if (still_ && (last || end.tick % options_.frame_every == 0)) {
        end.filmed = add_still(end.tick);
        if (!end.filmed) break;
      }
      if (last) break;
      if (stop_requested()) {
        end.interrupted = true;
        break;
      }
      window.tick();
      ++end.tick;
      end.broken = first_non_finite_value(app.sim);
      if (end.broken != nullptr) break;
      end.last_row_written = end.tick % options_.trace_every == 0;
      if (trace != nullptr && end.last_row_written) {
        trace_row(trace, trace_line_, app.sim, end.tick, window.now_ms());
      }
      if ((end.tick & 0xFF) == 0) progress.update(end.tick, seconds_since(wall_start));
    }
    wall_seconds_ = seconds_since(wall_start);
    progress.finish();
    return end;
  }

  // One frame of --frames: the film's frame as a PNG picture of its own.
  file_result add_still(std::uint64_t tick) {
    simulator& app = run_->app();
    trail_note_robot(app);  // as before a frame of the film
    draw_scene(app, scene_options_of(app), *still_);
    std::string png;
    if (file_result encoded = encode_png(*still_, png); !encoded) return encoded;
    return outputs_.frames.add(tick, png);
  }

  // The film's end, the trace's last row, the summary; a run that went wrong
  // stops here with nothing written.
  int after_loop(const loop_end& end) {
    simulated_run& window = *run_;
    if (end.interrupted) return interrupted(end.tick);
    file_result filmed = end.filmed;
    if (film_ && filmed && end.broken == nullptr) {
      filmed = film_->finish(window.now_ms(), window.app().driver.timer_val);
    }
    if (!filmed) return fail(filmed.message() + "; no files written", kExitFileError);
    std::FILE* trace = outputs_.trace.stream();
    if (trace != nullptr && !end.last_row_written) {
      trace_row(trace, trace_line_, window.sim(), end.tick, window.now_ms());
    }
    if (end.next_event < key_events_.size() && !window.quit_requested()) {
      std::fprintf(err_, "%s: %zu key events fall after the last tick and were not used\n",
                   kProgramName, key_events_.size() - end.next_event);
    }
    fill_summary(end);
    if (end.broken != nullptr) {
      // Finite settings can still overflow (gains of 1e308): the run ends at the
      // tick that made the state non-finite, with its summary and no files.
      print_summary();
      return fail(std::string(end.broken) + " is no longer a finite number after tick " +
                      std::to_string(end.tick) + "; the run stops there and no files are written",
                  kExitNotFinite);
    }
    return kExitOk;
  }

  void fill_summary(const loop_end& end) {
    const simulated_run& window = *run_;
    const simulation& sim = window.sim();
    summary_.seed = seed_;
    summary_.ticks_requested = options_.ticks;
    summary_.wall_seconds = wall_seconds_;
    summary_.ticks = end.tick;
    summary_.ended_by_escape = window.quit_requested();
    if (end.broken != nullptr) summary_.not_finite = end.broken;
    static_cast<run_figures&>(summary_) = run_figures_of(window.app(), window.now_ms());
    summary_.walls = sim.world.num_walls;
    summary_.impacts = sim.world.num_impacts;
    summary_.waypoints = sim.world.num_waypoints;
    summary_.x = sim.robot.x;
    summary_.y = sim.robot.y;
    summary_.heading = sim.robot.heading;
  }

  // The summary, with what only the end of the run knows; false when it could
  // not be written.
  bool print_summary() {
    summary_.console_messages = console_.lines;
    summary_.peak_memory_kib = peak_memory_kib();
    const std::string text =
        options_.json ? format_summary_json(summary_) : format_summary_text(summary_);
    std::fputs(text.c_str(), out_);
    return std::fflush(out_) == 0 && std::ferror(out_) == 0;
  }

  // The contents of the files only the end of the run gives.
  int write_final_outputs() {
    simulator& app = run_->app();
    if (outputs_.events.is_open()) outputs_.events.write(format_events_csv(summary_.metrics));
    if (outputs_.png.is_open()) {
      qimage_context picture(options_.width, options_.height);
      trail_note_robot(app);  // as before a frame: the trail as it is kept from now on
      draw_scene(app, scene_options_of(app), picture);
      std::string png;
      const file_result encoded = encode_png(picture, png);
      if (!encoded) return fail(encoded.message(), kExitFileError);
      outputs_.png.write(png);
    }
    if (outputs_.save.is_open()) {
      std::string text;
      const file_result made = world_text_to_save(app.sim, text);
      if (!made) return fail(save_error(options_.save_path, made.message()), kExitFileError);
      outputs_.save.write(text);
    }
    return kExitOk;
  }

  // All outputs or none: every file complete, then the summary, then all of
  // them put in place.
  int commit(std::uint64_t tick) {
    if (const int code = write_final_outputs(); code != kExitOk) return code;
    // A stop signal while the last outputs were made (a large picture, say) also
    // ends the run with nothing written.
    if (stop_requested()) return interrupted(tick);
    const std::vector<safe_file*> files = outputs_.all();
    const safe_file* failed = nullptr;
    const auto failure = [&](const file_result& result) {
      return output_error(failed, failed->path(), result) + " (seed " + std::to_string(seed_) + ")";
    };
    if (const file_result finished = safe_file_finish_all(files, failed); !finished) {
      return fail(failure(finished) + "; no files written", kExitFileError);
    }
    if (!print_summary()) {
      for (safe_file* file : files) file->discard();
      return fail("cannot write the summary; no files written", kExitFileError);
    }
    if (const file_result committed = safe_file_commit_all(files, failed); !committed) {
      return fail(failure(committed), kExitFileError);
    }
    if (outputs_.frames.is_open()) {
      if (const file_result moved = outputs_.frames.commit(); !moved) {
        return fail(moved.message() + " (seed " + std::to_string(seed_) + ")", kExitFileError);
      }
    }
    const std::string short_of = shortfall(options_, summary_.metrics);
    if (!short_of.empty()) return fail(short_of, kExitShortfall);
    return kExitOk;
  }

  using clock = std::chrono::steady_clock;
  static double seconds_since(clock::time_point start) {
    return std::chrono::duration<double>(clock::now() - start).count();
  }

  const run_options& options_;
  std::FILE* out_;
  std::FILE* err_;
  const volatile std::sig_atomic_t* stop_;
  const std::uint32_t seed_;
  std::vector<key_event> key_events_;
  run_outputs outputs_;
  console_counter console_;
  std::unique_ptr<simulated_run> run_;
  std::unique_ptr<film_recorder> film_;
  std::unique_ptr<qimage_context> still_;  // the frames of --frames are drawn here
  std::string trace_line_;                 // one row, its buffer kept between rows
  double wall_seconds_ = 0.0;
  run_summary summary_;
};

}  // namespace

int run_headless(const run_options& options, std::FILE* out, std::FILE* err,
                 const volatile std::sig_atomic_t* stop) {
  if (!options.generate_description.empty() || !options.import_map_path.empty()) {
    return make_world_file(options, out, err, stop);
  }
  return headless_run(options, out, err, stop).run();
}
