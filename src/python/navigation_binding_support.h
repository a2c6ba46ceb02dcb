// What the bindings of robosim.env's environments (navigation_binding.h,
// vector_navigation_binding.h) share: their arguments read from Python (the
// action, the placement, the world, the settings) and the image arrays they fill.
#pragma once

#include <pybind11/numpy.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "python/binding_support.h"
#include "python/navigation_episode.h"

// Refuses an array whose values are not real numbers (bools, complex numbers,
// text, objects), which numpy would otherwise cast without a word.
void check_real_dtype(const py::handle& array, const char* what);

// The action (a, b) of one step: a numpy array of shape (2,) of a real dtype,
// or a sequence of two real numbers (not bools); finite.
std::array<double, 2> action_values(const py::handle& action);

// The placement and the world of a new episode; None for each is "not given".
std::optional<std::array<double, 3>> pose_of(const py::handle& value);
std::optional<std::array<double, 2>> target_of(const py::handle& value);
std::optional<std::string> world_of(const py::handle& value);

bool has_vector(navigation_view view);
bool has_image(navigation_view view);

// The settings an environment is made with; observation is "vector", "image"
// or "both".
navigation_settings settings_of(const py::object& world, std::uint64_t max_ticks,
                                std::uint64_t frame_skip, const std::string& observation,
                                int image_width, int image_height);
navigation_action_range action_range_of(double speed_low, double speed_high, double turn_low,
                                        double turn_high, bool normalized);

// An array for top views: image_height x image_width x 3, or count of them
// when count is not negative.
py::array_t<std::uint8_t> image_array(py::ssize_t count, const navigation_settings& settings);
