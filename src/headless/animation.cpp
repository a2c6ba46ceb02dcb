#include "headless/animation.h"

#include <algorithm>
#include <cstdio>

namespace {

gif_writer::byte_sink sink_into(safe_file& file) {
  return [&file](const std::uint8_t* bytes, std::size_t size) {
    std::FILE* stream = file.stream();
    // A failing write (a full disk) ends the film at once rather than at the end.
    return stream != nullptr && std::fwrite(bytes, 1, size, stream) == size;
  };
}

}  // namespace

animation::animation(int width, int height, std::uint64_t every, double speed, safe_file& file)
    : every_(std::max<std::uint64_t>(every, 1)),
      speed_(speed),
      picture_(width, height),
      writer_(width, height, sink_into(file)) {}

bool animation::add_frame(std::uint64_t now_ms) {
  if (!writer_.ok()) return false;
  picture_.draw();
  return writer_.add_frame(picture_.pixels(), picture_.stride(),
                           static_cast<double>(now_ms) / speed_);
}

bool animation::finish(std::uint64_t now_ms, int period_ms) {
  const double interval_ms =
      static_cast<double>(every_) * static_cast<double>(std::max(period_ms, 1));
  return writer_.finish((static_cast<double>(now_ms) + interval_ms) / speed_);
}
