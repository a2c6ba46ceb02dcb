#include "python/simulation_output_binding.h"

#include <pybind11/numpy.h>

#include <cstdint>
#include <string>
#include <variant>

#include "shell/film.h"
#include "shell/run_metrics.h"
#include "shell/scene.h"

namespace {

// The sides are whole numbers from 1 to kMaxImageSide already.
void check_image_size(long long width, long long height) {
  if (!picture_size_allowed(width, height)) {
    value_error("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels is too large (at most " + std::to_string(kMaxImagePixels) +
                " pixels in all)");
  }
}

// ---------------------------------------------------------------------------
// Pictures

constexpr const char* kRenderDoc =
    R"(The frame the window would show at that client size: uint8 height x width x 3 (R, G, B).

Drawn by the window's drawing code; grad and vision draw the lattice and the
vision rays as --grad and --vision do. At most 16,384 pixels a side and 64 Mi
pixels in all.)";

void bind_render(simulation_class& c) {
  c.def(
      "render",
      [](session& s, const py::object& width, const py::object& height, const py::object& grad,
         const py::object& vision) {
        const long long w = whole_number(width, "width", 1, kMaxImageSide);
        const long long h = whole_number(height, "height", 1, kMaxImageSide);
        check_image_size(w, h);
        const bool g = flag(grad, "grad");
        const bool v = flag(vision, "vision");
        const session_lock lock(s);
        s.require_open();
        py::array_t<std::uint8_t> frame(
            {static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w), py::ssize_t{3}});
        std::uint8_t* pixels = frame.mutable_data();
        {
          const py::gil_scoped_release release;
          s.render(static_cast<int>(w), static_cast<int>(h), g, v, pixels);
        }
        return frame;
      },
      py::arg("width") = 640, py::arg("height") = 480, py::arg("grad") = false,
      py::arg("vision") = false, kRenderDoc);
}

// ---------------------------------------------------------------------------
// Films

constexpr const char* kRecordGifDoc =
    R"(Runs up to `ticks` ticks and films them as the headless runner's --gif does.

A frame of the state now, one every `every` ticks and one of the last tick,
drawn as render() draws (trail: the robot's path since the start of the
recording), each shown for the simulated time until the next. The file appears
only when the recording is complete; Ctrl-C (taken within a frame or a few
tens of milliseconds) or an error leaves an old one as it was. Returns the
ticks run. ValueError for more than 100,000 frames; OSError when the file
cannot be written.)";

void bind_record_gif(simulation_class& c) {
  c.def(
      "record_gif",
      [](session& s, const py::object& path, const py::object& ticks, const py::object& every,
         const py::object& width, const py::object& height, const py::object& grad,
         const py::object& vision, const py::object& trail) {
        const std::string file = file_path(path, "path");
        const auto count = static_cast<std::uint64_t>(
            whole_number(ticks, "ticks", 0, static_cast<long long>(kMaxTicks)));
        const auto step = static_cast<std::uint64_t>(
            whole_number(every, "every", 1, static_cast<long long>(kMaxTicks)));
        const long long w = whole_number(width, "width", 1, kMaxImageSide);
        const long long h = whole_number(height, "height", 1, kMaxImageSide);
        check_image_size(w, h);
        const bool g = flag(grad, "grad");
        const bool v = flag(vision, "vision");
        const bool t = flag(trail, "trail");
        if (!film_frames_allowed(count, step)) {
          value_error(std::to_string(count) + " ticks with a frame every " + std::to_string(step) +
                      " make more than " + std::to_string(kMaxGifFrames) + " frames; use every=" +
                      std::to_string(smallest_gif_step(count)) + " or more");
        }
        const session_lock lock(s);
        s.require_open();
        // Ctrl-C raises KeyboardInterrupt from here; the file is left as it was.
        const py::gil_scoped_release release;
        return s.record_gif(file, count, step, static_cast<int>(w), static_cast<int>(h), g, v, t,
                            python_interrupted);
      },
      py::arg("path"), py::arg("ticks"), py::arg("every") = 10, py::arg("width") = 640,
      py::arg("height") = 480, py::arg("grad") = false, py::arg("vision") = false,
      py::arg("trail") = false, kRecordGifDoc);
}

// ---------------------------------------------------------------------------
// Statistics

std::string stats_doc() {
  std::string doc = "A dict of the run's counters and metrics since the simulation's start.\n\n";
  for (const run_metric& metric : run_metrics_table()) {
    doc += std::string(metric.name) + ": " + metric.description;
    if (*metric.unit != '\0') doc += std::string(" [") + metric.unit + "]";
    if (metric.none_when != nullptr) doc += std::string(" (None when ") + metric.none_when + ")";
    doc += "\n";
  }
  return doc +
         "console_messages: diagnostic messages written to the console\n"
         "console: the last 100 diagnostic lines";
}

py::object python_value(const metric_value& value) {
  if (const auto* count = std::get_if<std::uint64_t>(&value)) return py::int_(*count);
  if (const auto* real = std::get_if<double>(&value)) return py::float_(*real);
  return py::none();  // as the summary's null
}

py::dict stats_dict(const session_stats& s) {
  py::dict d;
  for (const run_metric& metric : run_metrics_table()) {
    d[metric.name] = python_value(metric_read(metric, s));
  }
  d["console_messages"] = s.console_messages;
  // The lines may name files whose names are not UTF-8.
  py::list console;
  for (const std::string& line : s.console) console.append(text_for_python(line));
  d["console"] = console;
  return d;
}

void bind_stats(simulation_class& c) {
  c.def_property_readonly("stats", locked([](session& s) { return stats_dict(s.stats()); }),
                          stats_doc().c_str());
}

}  // namespace

void bind_simulation_output(simulation_class& c) {
  bind_render(c);
  bind_record_gif(c);
  bind_stats(c);
}
