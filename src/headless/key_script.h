// Key scripts: key presses and releases at given ticks, replayed by the headless
// runner so that a manual drive or a key sequence can be repeated exactly.
//
// One event per line: "TICK down|up KEY". TICK counts the ticks already run when
// the event arrives (0 = before the first tick). KEY is a letter or digit (case
// does not matter) or one of the names space, esc, up, down, left, right, enter,
// tab, backspace. Blank lines and text from '#' to the end of a line are ignored.
// Events of the same tick arrive in the order of the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shell/key_names.h"

struct key_event {
  std::uint64_t tick = 0;
  bool down = true;
  unsigned key_code = 0;
  friend bool operator==(const key_event&, const key_event&) = default;
};

// Scripts larger than this are refused rather than read into memory.
constexpr std::uintmax_t kMaxKeyScriptBytes = 64u * 1024 * 1024;

// Parses a script's text; on failure error tells the line and what is wrong and
// events is left unchanged. The events come out sorted by tick, file order kept
// within a tick.
bool parse_key_script(std::string_view text, std::vector<key_event>& events, std::string& error);

// Reads and parses a script file; error starts with the file's name.
bool read_key_script(const std::string& path, std::vector<key_event>& events, std::string& error);
