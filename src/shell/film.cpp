#include "shell/film.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "core/safe_file.h"
#include "shell/simulator.h"
#include "shell/trail.h"

film_sink film_into(safe_file& file) {
  return [&file](const std::uint8_t* bytes, std::size_t size) {
    std::FILE* stream = file.stream();
    errno = 0;
    if (stream != nullptr && std::fwrite(bytes, 1, size, stream) == size) return 0;
    return errno != 0 ? errno : EIO;
  };
}

film_recorder::film_recorder(std::unique_ptr<raster_context> canvas, std::uint64_t every,
                             double speed, film_sink sink, std::string path)
    : canvas_(std::move(canvas)),
      every_(std::max<std::uint64_t>(every, 1)),
      speed_(speed),
      path_(std::move(path)),
      sink_(std::move(sink)),
      writer_(canvas_->width(), canvas_->height(),
              [this](const std::uint8_t* bytes, std::size_t size) {
                sink_error_ = sink_(bytes, size);
                return sink_error_ == 0;
              }) {}

double film_recorder::film_time(std::uint64_t now_ms) const {
  return static_cast<double>(now_ms - first_ms_) / speed_;
}

file_result film_recorder::add_frame(simulator& app, const scene_options& options,
                                     std::uint64_t now_ms) {
  if (!writer_.ok()) return failure();
  if (writer_.frames() == 0) first_ms_ = now_ms;
  trail_note_robot(app);
  draw_scene(app, options, *canvas_);
  if (!writer_.add_frame(canvas_->pixels(), canvas_->stride(), film_time(now_ms))) return failure();
  return {};
}

file_result film_recorder::finish(std::uint64_t now_ms, int period_ms) {
  const double interval_ms =
      static_cast<double>(every_) * static_cast<double>(std::max(period_ms, 1));
  if (!writer_.finish((static_cast<double>(now_ms - first_ms_) + interval_ms) / speed_)) {
    return failure();
  }
  return {};
}

file_error film_recorder::failure() const {
  const std::string prefix = "cannot write " + path_ + ": ";
  if (sink_error_ != 0) return with_prefix(prefix, file_system_error(path_, sink_error_));
  return file_system_error(path_, 0, prefix + writer_.error());
}
