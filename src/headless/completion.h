// The bash completion of robot-simulator-headless, written from its option table
// (headless/options.h), so that it offers exactly the options --help lists.
#pragma once

#include <span>
#include <string>

#include "headless/options.h"

// The bash function _robot_simulator_headless: after an option with a value it
// offers what the table says (files matching a pattern, words, nothing), else
// the long options. It uses the helpers _robosim_words, _robosim_files and
// _robosim_options of packaging/completions/robot-simulator.bash.in.
std::string bash_completion_function(std::span<const option_row> options);

// The template with the line that holds only `marker` replaced by the function;
// empty when the template has no such line.
std::string fill_completion_template(const std::string& text, const std::string& marker,
                                     std::span<const option_row> options);
