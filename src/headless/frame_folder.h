// The frames of a run as PNG pictures of their own in a folder, all or none like
// the runner's other outputs: each frame is written into a hidden folder made
// inside the chosen one, and only a run that ends well moves them into place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/file_error.h"

class frame_folder {
 public:
  frame_folder() = default;
  frame_folder(const frame_folder&) = delete;
  frame_folder& operator=(const frame_folder&) = delete;
  ~frame_folder() { discard(); }

  // Makes the folder when it does not exist (its parent must; a run that ends
  // without writing removes it again), and the hidden folder the frames wait in;
  // last_tick sets the digits of the names.
  file_result prepare(const std::string& folder, std::uint64_t last_tick);
  bool is_open() const { return !staging_.empty(); }

  // The name of the frame showing the state after `tick` ticks:
  // tick-000120.png, with as many digits as the last tick needs (at least six),
  // so that the names sort in the run's order.
  std::string name_of(std::uint64_t tick) const;
  // Writes one frame (PNG bytes) into the hidden folder.
  file_result add(std::uint64_t tick, const std::string& png);
  // Moves every frame into the folder (replacing frames of the same names) and
  // removes the hidden folder.
  file_result commit();
  // Removes the hidden folder and the frames in it.
  void discard();

 private:
  std::string folder_;
  std::string staging_;
  int digits_ = 6;
  bool made_folder_ = false;  // removed again when the run writes nothing
  std::vector<std::string> names_;
};
