// Key names, as the headless runner's key scripts and the Python module take
// them: a letter or digit (its own virtual-key code, whatever the case) or one of
// the names below, in any case.
#pragma once

#include <string_view>

// The names there are, for messages.
constexpr const char* kKeyNameList =
    "a letter, a digit, space, esc, up, down, left, right, enter, tab or backspace";

// The virtual-key code of a key name, or -1 if the name is unknown.
int key_code_of(std::string_view name);

// Whether two words are equal when ASCII case is ignored (key names and the
// words around them are matched this way).
bool equal_ignoring_case(std::string_view a, std::string_view b);
