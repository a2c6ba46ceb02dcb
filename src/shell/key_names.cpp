#include "shell/key_names.h"

#include <cctype>

#include "shell/virtual_key.h"

namespace {

struct named_key {
  std::string_view name;
  unsigned code;
};

constexpr named_key kNamedKeys[] = {
    {"space", vk_space},   {"esc", vk_escape}, {"escape", vk_escape},       {"up", vk_up},
    {"down", vk_down},     {"left", vk_left},  {"right", vk_right},         {"enter", vk_return},
    {"return", vk_return}, {"tab", vk_tab},    {"backspace", vk_backspace},
};

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

int key_code_of(std::string_view name) {
  if (name.size() == 1) {
    const auto c = static_cast<unsigned char>(name[0]);
    if (std::isalpha(c)) return std::toupper(c);
    if (std::isdigit(c)) return c;
    return -1;
  }
  for (const auto& key : kNamedKeys) {
    if (equal_ignoring_case(name, key.name)) return static_cast<int>(key.code);
  }
  return -1;
}
