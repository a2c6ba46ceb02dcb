#include "headless/runner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/console.h"
#include "core/safe_file.h"
#include "core/simulation.h"
#include "core/world_file.h"
#include "draw/draw_context.h"
#include "headless/key_script.h"
#include "headless/picture.h"
#include "headless/world_making.h"
#include "qtdraw/qimage_context.h"
#include "shell/driver.h"
#include "shell/film.h"
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

}  // namespace

int run_headless(const run_options& options, std::FILE* out, std::FILE* err,
                 const volatile std::sig_atomic_t* stop) {
  if (!options.generate_spec.empty() || !options.import_map_path.empty()) {
    return make_world_file(options, out, err, stop);
  }
  auto fail = [err](const std::string& message, int code) {
    std::fprintf(err, "%s: %s\n", kProgramName, message.c_str());
    return code;
  };
  const std::uint32_t seed = options.seed.value_or(static_cast<std::uint32_t>(std::time(nullptr)));

  std::vector<key_event> key_events;
  std::string error;
  if (!options.keys_path.empty() && !read_key_script(options.keys_path, key_events, error)) {
    return fail("cannot read key script " + error, kExitFileError);
  }

  // Prepare every output first, so a path that cannot be written is reported
  // before the run rather than after it. Nothing is put in place until all of
  // them (and the summary) are complete.
  safe_file trace_file;
  safe_file png_file;
  safe_file gif_file;
  safe_file save_file;
  safe_file events_file;
  for (const auto& [file, path, devices] : {std::tuple{&trace_file, &options.trace_path, true},
                                            {&png_file, &options.png_path, true},
                                            {&gif_file, &options.gif_path, true},
                                            {&save_file, &options.save_path, false},
                                            {&events_file, &options.events_path, true}}) {
    if (path->empty()) continue;
    const file_result prepared = file->prepare(*path, devices);
    if (!prepared) {
      const std::string reason = prepared.message();
      return fail(file == &save_file ? save_error(*path, reason) : write_error(*path, reason),
                  kExitFileError);
    }
  }

  // The run's own simulation: nothing of another run in this process is seen.
  console_counter console{err, 0};
  auto run = std::make_unique<simulated_run>(options.width, options.height);
  simulated_run& window = *run;
  simulator& app = window.app();
  simulation& sim = app.sim;
  set_console_sink(sim, [&console](std::string_view text) { console.take(text); });
  window.start(seed, options.period_ms, options.manual);

  if (!options.world_path.empty()) {
    const file_result loaded = world_read_file(sim, options.world_path);
    if (!loaded) return fail(loaded.message(), kExitFileError);
  }
  if (options.grad) sim.world.show_grad = true;
  if (options.vision) sim.robot.show_vision = true;
  if (options.stats) app.driver.show_stats = true;
  apply_gains(sim.world, options);
  window.start_metrics(!options.events_path.empty());
  if (options.trail) trail_start(app);
  // The film's frames and the picture are drawn into a QImage, which draws the
  // statistics line's text too.
  std::unique_ptr<film_recorder> film;
  if (gif_file.is_open()) {
    film = std::make_unique<film_recorder>(
        std::make_unique<qimage_context>(options.width, options.height), options.frame_every,
        options.gif_speed, film_into(gif_file), options.gif_path);
  }

  std::FILE* trace = trace_file.stream();
  std::string trace_line;
  if (trace != nullptr) {
    std::fprintf(trace, "%s\n", kTraceHeader);
    trace_row(trace, trace_line, sim, 0, 0);
  }

  run_summary summary;
  summary.seed = seed;
  summary.ticks_requested = options.ticks;

  using clock = std::chrono::steady_clock;
  const auto wall_start = clock::now();
  auto elapsed = [&wall_start] {
    return std::chrono::duration<double>(clock::now() - wall_start).count();
  };
  progress_line progress(err, options.ticks);

  std::size_t next_event = 0;
  std::uint64_t tick = 0;
  bool interrupted = false;
  const char* broken = nullptr;  // the first value that stopped being finite
  file_result filmed;
  bool last_row_written = true;
  for (;;) {
    // Key events due after `tick` ticks arrive before the next tick; those due
    // after the last tick still arrive, so they can shape the picture and the save.
    while (next_event < key_events.size() && key_events[next_event].tick == tick &&
           !window.quit_requested()) {
      const key_event& event = key_events[next_event++];
      if (event.down) {
        key_down(app, window, event.key_code);
      } else {
        key_up(app, event.key_code);
      }
    }
    // A frame shows the state after the tick's key events.
    const bool last = window.quit_requested() || tick == options.ticks;
    if (film && film->frame_due(tick, last)) {
      filmed = film->add_frame(app, scene_options_of(app), window.now_ms());
      if (!filmed) break;
    }
    if (last) break;
    if (stop != nullptr && *stop != 0) {
      interrupted = true;
      break;
    }

    window.tick();
    ++tick;
    broken = first_non_finite_value(sim);
    if (broken != nullptr) break;

    last_row_written = tick % options.trace_every == 0;
    if (trace != nullptr && last_row_written) trace_row(trace, trace_line, sim, tick, window.now_ms());
    if ((tick & 0xFF) == 0) progress.update(tick, elapsed());
  }
  summary.wall_seconds = elapsed();
  progress.finish();

  if (interrupted) {
    return fail("interrupted after " + std::to_string(tick) + " ticks; no files written",
                kExitSignalBase + static_cast<int>(*stop));
  }
  if (film && filmed && broken == nullptr)
    filmed = film->finish(window.now_ms(), app.driver.timer_val);
  if (!filmed) return fail(filmed.message() + "; no files written", kExitFileError);
  if (trace != nullptr && !last_row_written) trace_row(trace, trace_line, sim, tick, window.now_ms());
  if (next_event < key_events.size() && !window.quit_requested()) {
    std::fprintf(err, "%s: %zu key events fall after the last tick and were not used\n",
                 kProgramName, key_events.size() - next_event);
  }

  summary.ticks = tick;
  summary.ended_by_escape = window.quit_requested();
  if (broken != nullptr) summary.not_finite = broken;
  summary.simulated_seconds = static_cast<double>(window.now_ms()) / 1000.0;
  summary.planning_runs = sim.planner_stats.runs;
  summary.planning_failures = sim.planner_stats.random_targets;
  summary.planning_gave_up = sim.planner_stats.gave_up;
  summary.walls = sim.world.num_walls;
  summary.impacts = sim.world.num_impacts;
  summary.waypoints = sim.world.num_waypoints;
  summary.x = sim.robot.x;
  summary.y = sim.robot.y;
  summary.heading = sim.robot.heading;
  summary.metrics = run_metrics(app);
  summary.targets_reached = summary.metrics.targets_reached;
  if (broken != nullptr) {
    // Finite settings can still overflow (gains of 1e308): the run ends at the
    // tick that made the state non-finite, with its summary and no files.
    summary.console_messages = console.lines;
    summary.peak_memory_kib = peak_memory_kib();
    std::fputs((options.json ? format_summary_json(summary) : format_summary_text(summary)).c_str(),
               out);
    return fail(std::string(broken) + " is no longer a finite number after tick " +
                    std::to_string(tick) + "; the run stops there and no files are written",
                kExitNotFinite);
  }
  if (events_file.is_open()) events_file.write(format_events_csv(summary.metrics));

  if (png_file.is_open()) {
    qimage_context picture(options.width, options.height);
    trail_note_robot(app);  // as before a frame: the trail as it is kept from now on
    draw_scene(app, scene_options_of(app), picture);
    std::string png;
    const file_result encoded = encode_png(picture, png);
    if (!encoded) return fail(encoded.message(), kExitFileError);
    png_file.write(png);
  }
  if (save_file.is_open()) {
    std::string text;
    const file_result made = world_text_to_save(sim, text);
    if (!made) return fail(save_error(options.save_path, made.message()), kExitFileError);
    save_file.write(text);
  }

  // A stop signal while the last outputs were made (a large picture, say) also
  // ends the run with nothing written.
  if (stop != nullptr && *stop != 0) {
    return fail("interrupted after " + std::to_string(tick) + " ticks; no files written",
                kExitSignalBase + static_cast<int>(*stop));
  }

  // All outputs or none: every file complete, then the summary, then all of
  // them put in place.
  const auto output_error = [&](const safe_file* file, const file_result& result) {
    const std::string where = file->path();
    const std::string reason = result.message();
    return (file == &save_file ? save_error(where, reason) : write_error(where, reason)) +
           " (seed " + std::to_string(seed) + ")";
  };
  const std::vector<safe_file*> outputs = {&trace_file, &png_file, &gif_file, &save_file,
                                           &events_file};
  const safe_file* failed = nullptr;
  if (const file_result finished = safe_file_finish_all(outputs, failed); !finished) {
    return fail(output_error(failed, finished) + "; no files written", kExitFileError);
  }

  summary.console_messages = console.lines;
  summary.peak_memory_kib = peak_memory_kib();
  const std::string text =
      options.json ? format_summary_json(summary) : format_summary_text(summary);
  std::fputs(text.c_str(), out);
  if (std::fflush(out) != 0 || std::ferror(out) != 0) {
    for (safe_file* file : outputs) file->discard();
    return fail("cannot write the summary; no files written", kExitFileError);
  }
  if (const file_result committed = safe_file_commit_all(outputs, failed); !committed) {
    return fail(output_error(failed, committed), kExitFileError);
  }
  const std::string short_of = shortfall(options, summary.metrics);
  if (!short_of.empty()) return fail(short_of, kExitShortfall);
  return kExitOk;
}
