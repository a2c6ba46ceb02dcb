// Films of a run, for every front end: an animated GIF (draw/gif_writer.h) of
// pictures of the scene (shell/scene.h) drawn between ticks, each encoded at
// once, so that memory does not grow with the number of frames. The headless
// runner's --gif and Python's record_gif() both film through it, frame for
// frame and byte for byte the same; the front end runs the ticks and asks for
// the frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/file_error.h"
#include "draw/gif_writer.h"
#include "draw/raster_context.h"
#include "shell/scene.h"

class safe_file;
struct simulator;

// A film of more frames than this is refused before it starts.
constexpr std::uint64_t kMaxGifFrames = 100'000;

// The frames of a film of `ticks` ticks with one every `every` ticks and
// always one of the last tick: ticks 0, every, 2 * every, ... and `ticks`.
constexpr std::uint64_t gif_frame_count(std::uint64_t ticks, std::uint64_t every) {
  if (every == 0) return 0;
  return ticks / every + (ticks % every != 0 ? 1 : 0) + 1;
}
// The smallest frame step that keeps a film of `ticks` ticks within the limit.
constexpr std::uint64_t smallest_gif_step(std::uint64_t ticks) {
  // ceil(ticks / every) + 1 frames.
  const std::uint64_t step = (ticks + kMaxGifFrames - 2) / (kMaxGifFrames - 1);
  return step == 0 ? 1 : step;
}
// True when such a film keeps within kMaxGifFrames (every at least 1). The one
// test of the limit; each front end words its own refusal.
constexpr bool film_frames_allowed(std::uint64_t ticks, std::uint64_t every) {
  return every >= 1 && gif_frame_count(ticks, every) <= kMaxGifFrames;
}

// Where a film's bytes go, in order: 0 when they were taken, else the errno of
// the failure, which ends the film at once (a full disk is not filled to the end).
using film_sink = std::function<int(const std::uint8_t* bytes, std::size_t size)>;
// Into the stream of a prepared safe_file (core/safe_file.h).
film_sink film_into(safe_file& file);

class film_recorder {
 public:
  // A film of the pictures drawn into `canvas`, whose size is the film's: a
  // frame every `every` ticks, played `speed` times as fast as the simulated
  // clock, its bytes handed to `sink` as each frame is encoded. `path` names
  // the film in the messages of its failures.
  film_recorder(std::unique_ptr<raster_context> canvas, std::uint64_t every, double speed,
                film_sink sink, std::string path);

  // The frame rule: the first tick (0), every `every`th tick, and the last
  // tick of the film, whatever its number.
  bool frame_due(std::uint64_t tick, bool last) const { return last || tick % every_ == 0; }

  // Draws the scene as it is now and adds it as the frame shown from `now_ms` of
  // the run's clock on. The robot is noted on its trail first (while one is
  // recorded), as the tick notes it, so that a jump since the last tick starts a
  // new piece of the trail kept from here on.
  file_result add_frame(simulator& app, const scene_options& options, std::uint64_t now_ms);
  // Ends the film: the last frame is shown for one frame interval at the tick
  // period now.
  file_result finish(std::uint64_t now_ms, int period_ms);

  std::uint64_t frames() const { return writer_.frames(); }

 private:
  // The failure: the sink's errno, or why the encoder stopped.
  file_error failure() const;
  double film_time(std::uint64_t now_ms) const;

  std::unique_ptr<raster_context> canvas_;
  std::uint64_t every_;
  double speed_;
  std::string path_;
  int sink_error_ = 0;  // errno of the sink's failure
  film_sink sink_;
  gif_writer writer_;
  std::uint64_t first_ms_ = 0;  // the run's clock at the first frame
};
