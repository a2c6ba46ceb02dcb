#include "headless/completion.h"

namespace {

std::string case_arm(const option_row& row) {
  const std::string words = row.completion_words;
  std::string arm = "    --" + std::string(row.name) + ")\n";
  switch (row.completion) {
    case value_completion::files:
      arm += "      _robosim_files '" + words + "'\n";
      break;
    case value_completion::folders:
      arm += "      _robosim_folders\n";
      break;
    case value_completion::words:
      arm += "      _robosim_options \"" + words + "\"\n";
      break;
    case value_completion::prefixes:
      arm += "      compopt -o nospace 2>/dev/null\n      _robosim_options \"" + words + "\"\n";
      break;
    case value_completion::nothing:
      arm += "      COMPREPLY=()\n";
      break;
    case value_completion::none:
      return "";
  }
  return arm + "      return\n      ;;\n";
}

}  // namespace

std::string bash_completion_function(std::span<const option_row> options) {
  std::string text =
      "# Made from the runner's option table (src/headless/options.cpp); do not edit.\n"
      "_robot_simulator_headless() {\n"
      "  local cur prev\n"
      "  _robosim_words\n"
      "  case $prev in\n";
  std::string names;
  for (const option_row& row : options) {
    text += case_arm(row);
    names += (names.empty() ? "--" : " --") + std::string(row.name);
  }
  text += "  esac\n  _robosim_options \"" + names + "\"\n}\n";
  return text;
}

std::string fill_completion_template(const std::string& text, const std::string& marker,
                                     std::span<const option_row> options) {
  const std::string line = marker + "\n";
  std::size_t at = text.rfind(line, 0) == 0 ? 0 : text.find("\n" + line);
  if (at == std::string::npos) return {};
  if (at != 0) ++at;
  return text.substr(0, at) + bash_completion_function(options) + text.substr(at + line.size());
}
