// Keyboard events of the browser turned into the virtual-key codes the key table
// uses (shell/virtual_key.h), from a KeyboardEvent's `code` (the physical key,
// such as "KeyA", "Digit1", "ArrowUp", "Numpad4") and `key` (what it types with
// the layout and modifiers, such as "a", "Q", "!", "End").
//
// A key typing a Latin letter is that letter, so that each letter key is the
// letter the layout prints on it (on an AZERTY keyboard the key typing "a" is A
// and the one typing "m" is M, as on the window); a letter key typing anything
// else (a Cyrillic layout, say) goes by its place. Digits of the top row go by their place whatever Shift or the layout
// do (Shift+2 is still the 2 key); the keypad's digits are 96..105 while Num Lock
// is on and the keys printed beside them (End, Down, ...) while it is off, as on
// the window. Every other key goes by its place.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The virtual-key code of a browser key; vk_unknown for a key without one.
unsigned virtual_key_from_browser(std::string_view code, std::string_view key);

// Alt combinations and F10 are the window system's own keys; they never reach
// the key table.
bool is_system_key(std::string_view code, bool alt_held);

// Pairs every release with its press, as the window does: a key's code is the
// one it got when it went down, even if the layout or the modifiers changed
// while it was held (press 1, press Shift, release: the 1 key comes up), and an
// auto-repeated press keeps it too.
class browser_key_tracker {
 public:
  // The code for key_down, or nothing for a key the key table must not see.
  std::optional<unsigned> press(std::string_view code, std::string_view key, bool alt_held);
  // The code for key_up, or nothing when the release is to be ignored.
  std::optional<unsigned> release(std::string_view code, std::string_view key, bool alt_held);
  // Forgets every held key and returns their codes, for key_up when the page
  // loses the keyboard (a release there never reaches the page).
  std::vector<unsigned> release_all();

 private:
  struct held_key {
    std::string code;
    unsigned virtual_key;
  };
  std::vector<held_key> held_;
};
