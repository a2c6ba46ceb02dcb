#include "web/browser_keys.h"

#include <algorithm>

#include "shell/virtual_key.h"

namespace {

struct named_key {
  std::string_view name;
  unsigned code;
};

// Keys by their KeyboardEvent.code, which for these is also their
// KeyboardEvent.key where they type nothing ("Escape", "ArrowUp", "End", ...).
constexpr named_key kKeysByName[] = {
    {"Backspace", vk_backspace},
    {"Tab", vk_tab},
    {"Clear", vk_clear},
    {"NumpadClear", vk_clear},
    {"Enter", vk_return},
    {"NumpadEnter", vk_return},
    {"Shift", vk_shift},
    {"ShiftLeft", vk_shift},
    {"ShiftRight", vk_shift},
    {"Control", vk_control},
    {"ControlLeft", vk_control},
    {"ControlRight", vk_control},
    {"Alt", vk_alt},
    {"AltLeft", vk_alt},
    {"AltRight", vk_alt},
    {"Pause", vk_pause},
    {"CapsLock", vk_caps_lock},
    {"Escape", vk_escape},
    {"Space", vk_space},
    {" ", vk_space},
    {"PageUp", vk_page_up},
    {"PageDown", vk_page_down},
    {"End", vk_end},
    {"Home", vk_home},
    {"ArrowLeft", vk_left},
    {"ArrowUp", vk_up},
    {"ArrowRight", vk_right},
    {"ArrowDown", vk_down},
    {"PrintScreen", vk_print},
    {"Insert", vk_insert},
    {"Delete", vk_delete},
    {"Meta", vk_meta},
    {"MetaLeft", vk_meta},
    {"MetaRight", vk_meta},
    {"OSLeft", vk_meta},
    {"OSRight", vk_meta},
    {"ContextMenu", vk_menu},
    {"NumpadMultiply", vk_multiply},
    {"NumpadAdd", vk_add},
    {"NumpadSubtract", vk_subtract},
    {"NumpadDivide", vk_divide},
    {"NumLock", vk_num_lock},
    {"ScrollLock", vk_scroll_lock},
    {"Semicolon", vk_semicolon},
    {"Equal", vk_plus},
    {"Comma", vk_comma},
    {"Minus", vk_minus},
    {"Period", vk_period},
    {"Slash", vk_slash},
    {"Backquote", vk_backquote},
    {"BracketLeft", vk_bracket_left},
    {"Backslash", vk_backslash},
    {"BracketRight", vk_bracket_right},
    {"Quote", vk_apostrophe},
};

std::optional<unsigned> by_name(std::string_view name) {
  for (const named_key& entry : kKeysByName) {
    if (entry.name == name) return entry.code;
  }
  return std::nullopt;
}

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
unsigned upper(char c) {
  return static_cast<unsigned>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

// "F1".."F24".
std::optional<unsigned> function_key(std::string_view code) {
  if (code.size() < 2 || code.size() > 3 || code[0] != 'F') return std::nullopt;
  unsigned number = 0;
  for (char c : code.substr(1)) {
    if (!is_digit(c)) return std::nullopt;
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  if (number < 1 || number > 24 || code[1] == '0') return std::nullopt;
  return vk_f1 + number - 1;
}

// The keypad's digit and decimal keys type a digit while Num Lock is on and act
// as the key printed beside them while it is off.
std::optional<unsigned> keypad_key(std::string_view code, std::string_view key) {
  constexpr std::string_view kDigitPrefix = "Numpad";
  if (code == "NumpadDecimal") {
    if (key == "." || key == ",") return vk_decimal;
    return by_name(key).value_or(vk_delete);
  }
  if (code.size() != kDigitPrefix.size() + 1 || code.substr(0, kDigitPrefix.size()) != kDigitPrefix ||
      !is_digit(code.back())) {
    return std::nullopt;
  }
  if (key.size() == 1 && is_digit(key[0])) return vk_numpad_0 + static_cast<unsigned>(key[0] - '0');
  return by_name(key).value_or(vk_unknown);
}

}  // namespace

unsigned virtual_key_from_browser(std::string_view code, std::string_view key) {
  if (key.size() == 1 && is_letter(key[0]) && code.substr(0, 6) != "Numpad") return upper(key[0]);
  if (code.size() == 4 && code.substr(0, 3) == "Key" && is_letter(code[3])) return upper(code[3]);
  if (code.size() == 6 && code.substr(0, 5) == "Digit" && is_digit(code[5])) {
    return static_cast<unsigned>(code[5]);
  }
  if (const auto keypad = keypad_key(code, key)) return *keypad;
  if (const auto function = function_key(code)) return *function;
  if (const auto named = by_name(code)) return *named;
  // Without a place (synthetic events, some on-screen keyboards): by what it types.
  if (code.empty()) {
    if (key.size() == 1 && is_digit(key[0])) return static_cast<unsigned>(key[0]);
    if (const auto function = function_key(key)) return *function;
    if (const auto named = by_name(key)) return *named;
  }
  return vk_unknown;
}

bool is_system_key(std::string_view code, bool alt_held) {
  return alt_held || code == "AltLeft" || code == "AltRight" || code == "F10";
}

std::optional<unsigned> browser_key_tracker::press(std::string_view code, std::string_view key,
                                                   bool alt_held) {
  const std::string_view place = code.empty() ? key : code;
  const auto found = std::find_if(held_.begin(), held_.end(),
                                  [place](const held_key& held) { return held.code == place; });
  if (found != held_.end()) return found->virtual_key;
  if (is_system_key(code, alt_held)) return std::nullopt;
  const unsigned virtual_key = virtual_key_from_browser(code, key);
  held_.push_back({std::string(place), virtual_key});
  return virtual_key;
}

std::optional<unsigned> browser_key_tracker::release(std::string_view code, std::string_view key,
                                                     bool alt_held) {
  const std::string_view place = code.empty() ? key : code;
  const auto found = std::find_if(held_.begin(), held_.end(),
                                  [place](const held_key& held) { return held.code == place; });
  if (found != held_.end()) {
    const unsigned virtual_key = found->virtual_key;
    held_.erase(found);
    return virtual_key;
  }
  // Pressed while the page did not have the keyboard, or a system key.
  if (is_system_key(code, alt_held)) return std::nullopt;
  return virtual_key_from_browser(code, key);
}

std::vector<unsigned> browser_key_tracker::release_all() {
  std::vector<unsigned> codes;
  for (const held_key& held : held_) codes.push_back(held.virtual_key);
  held_.clear();
  return codes;
}
