#include "python/navigation_binding_support.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::string shape_text(const py::detail::PyArray_Proxy* array) {
  std::string text = "(";
  for (int i = 0; i < array->nd; ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(array->dimensions[i]);
  }
  return text + (array->nd == 1 ? ",)" : ")");
}

navigation_view view_of(const std::string& name) {
  if (name == "vector") return navigation_view::vector;
  if (name == "image") return navigation_view::image;
  if (name == "both") return navigation_view::both;
  value_error("observation must be \"vector\", \"image\" or \"both\", got \"" + name + "\"");
}

}  // namespace

void check_real_dtype(const py::handle& array, const char* what) {
  const auto* descr =
      py::detail::array_descriptor_proxy(py::detail::array_proxy(array.ptr())->descr);
  if (descr->kind != 'f' && descr->kind != 'i' && descr->kind != 'u') {
    type_error(std::string(what) + " must hold real numbers, not " +
               std::string(py::str(array.attr("dtype"))));
  }
}

std::array<double, 2> action_values(const py::handle& action) {
  std::array<double, 2> values{};
  if (py::isinstance<py::array>(action)) {
    const auto* array = py::detail::array_proxy(action.ptr());
    check_real_dtype(action, "the action");
    if (array->nd != 1 || array->dimensions[0] != 2) {
      value_error("the action must be (speed, turn), an array of shape (2,), not of shape " +
                  shape_text(array));
    }
    const auto* descr = py::detail::array_descriptor_proxy(array->descr);
    const char* data = array->data;
    const py::ssize_t stride = array->strides[0];
    using api = py::detail::npy_api;
    if (descr->byteorder != '>' && descr->type_num == api::NPY_DOUBLE_) {
      std::memcpy(&values[0], data, sizeof(double));
      std::memcpy(&values[1], data + stride, sizeof(double));
    } else if (descr->byteorder != '>' && descr->type_num == api::NPY_FLOAT_) {
      float pair[2];
      std::memcpy(&pair[0], data, sizeof(float));
      std::memcpy(&pair[1], data + stride, sizeof(float));
      values = {pair[0], pair[1]};
    } else {
      const auto converted = py::array_t<double, py::array::forcecast>::ensure(action);
      if (!converted) throw py::error_already_set();
      values = {converted.at(0), converted.at(1)};
    }
    if (!std::isfinite(values[0]) || !std::isfinite(values[1])) {
      value_error("the action must be two finite numbers, got " + std::string(py::repr(action)));
    }
    return values;
  }
  if (PyUnicode_Check(action.ptr()) || PyBytes_Check(action.ptr()) ||
      !PySequence_Check(action.ptr())) {
    type_error("the action must be (speed, turn), two numbers, not " + type_name(action));
  }
  const py::sequence items = py::reinterpret_borrow<py::sequence>(action);
  if (items.size() != 2) {
    value_error("the action must be (speed, turn), two numbers, got " +
                std::to_string(items.size()));
  }
  values[0] = real_number(items[0], "the action's first value");
  values[1] = real_number(items[1], "the action's second value");
  return values;
}

std::optional<std::array<double, 3>> pose_of(const py::handle& value) {
  if (value.is_none()) return std::nullopt;
  const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
  return std::array<double, 3>{real_number(items[0], "the pose's x"),
                               real_number(items[1], "the pose's y"),
                               real_number(items[2], "the pose's heading")};
}

std::optional<std::array<double, 2>> target_of(const py::handle& value) {
  if (value.is_none()) return std::nullopt;
  const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
  return std::array<double, 2>{real_number(items[0], "the target's x"),
                               real_number(items[1], "the target's y")};
}

std::optional<std::string> world_of(const py::handle& value) {
  if (value.is_none()) return std::nullopt;
  return file_path(value, "world");
}

bool has_vector(navigation_view view) {
  return view != navigation_view::image;
}

bool has_image(navigation_view view) {
  return view != navigation_view::vector;
}

navigation_settings settings_of(const py::object& world, std::uint64_t max_ticks,
                                std::uint64_t frame_skip, const std::string& observation,
                                int image_width, int image_height) {
  navigation_settings settings;
  settings.world = world_of(world);
  settings.max_ticks = max_ticks;
  settings.frame_skip = frame_skip;
  settings.view = view_of(observation);
  settings.image_width = image_width;
  settings.image_height = image_height;
  return settings;
}

navigation_action_range action_range_of(double speed_low, double speed_high, double turn_low,
                                        double turn_high, bool normalized) {
  return {speed_low, speed_high, turn_low, turn_high, normalized};
}

py::array_t<std::uint8_t> image_array(py::ssize_t count, const navigation_settings& settings) {
  std::vector<py::ssize_t> shape{settings.image_height, settings.image_width, 3};
  if (count >= 0) shape.insert(shape.begin(), count);
  return py::array_t<std::uint8_t>(shape);
}
