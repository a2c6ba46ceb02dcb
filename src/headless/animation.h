// The run as an animated GIF: a frame every K ticks and one of the last tick,
// each drawn as the final picture is and encoded at once, so memory does not
// grow with the number of frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/safe_file.h"
#include "draw/gif_writer.h"
#include "headless/picture.h"

class animation {
 public:
  // Frames of width x height every `every` ticks, played `speed` times faster
  // than the simulated clock, written into the open file.
  animation(simulator& app, int width, int height, std::uint64_t every, double speed,
            safe_file& file);

  bool frame_due(std::uint64_t tick) const { return tick % every_ == 0; }
  // Draws the world as it is now and adds it as the frame of this simulated time.
  bool add_frame(std::uint64_t now_ms);
  // The last frame is shown for a frame interval at the tick period now.
  bool finish(std::uint64_t now_ms, int period_ms);

  // Why the film failed: the system's reason when a write failed.
  std::string error() const;

 private:
  std::uint64_t every_;
  int write_error_ = 0;  // errno of the failed write
  double speed_;
  scene_picture picture_;
  gif_writer writer_;
};
