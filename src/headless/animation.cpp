#include "headless/animation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A failing write (a full disk) ends the film at once rather than at the end.
gif_writer::byte_sink sink_into(safe_file& file, int& write_error) {
  return [&file, &write_error](const std::uint8_t* bytes, std::size_t size) {
    std::FILE* stream = file.stream();
    errno = 0;
    if (stream != nullptr && std::fwrite(bytes, 1, size, stream) == size) return true;
    write_error = errno != 0 ? errno : EIO;
    return false;
  };
}

}  // namespace

animation::animation(simulator& app, int width, int height, std::uint64_t every, double speed,
                     safe_file& file)
    : every_(std::max<std::uint64_t>(every, 1)),
      speed_(speed),
      picture_(app, width, height),
      writer_(width, height, sink_into(file, write_error_)) {}

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

std::string animation::error() const {
  return write_error_ != 0 ? std::strerror(write_error_) : writer_.error();
}
