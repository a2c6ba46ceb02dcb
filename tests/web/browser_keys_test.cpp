// The browser's keys as the key table sees them.
#include "web/browser_keys.h"

#include <gtest/gtest.h>

#include "shell/virtual_key.h"

namespace {

struct key_case {
  const char* code;
  const char* key;
  unsigned expected;
};

TEST(BrowserKeys, EachKeyHasTheWindowsCode) {
  const key_case cases[] = {
      // Letters by what they type (an AZERTY keyboard's A and M), else by place.
      {"KeyA", "a", 'A'},
      {"KeyA", "A", 'A'},
      {"KeyQ", "a", 'A'},
      {"Semicolon", "m", 'M'},
      {"KeyW", "\xD1\x86", 'W'},
      {"KeyG", "", 'G'},
      // Digits by place, whatever Shift or the layout make them type.
      {"Digit1", "1", '1'},
      {"Digit2", "@", '2'},
      {"Digit1", "&", '1'},
      // The keypad: digits while Num Lock is on, the keys beside them while off.
      {"Numpad0", "0", vk_numpad_0},
      {"Numpad9", "9", vk_numpad_0 + 9},
      {"Numpad8", "ArrowUp", vk_up},
      {"Numpad1", "End", vk_end},
      {"Numpad5", "Clear", vk_clear},
      {"NumpadDecimal", ".", vk_decimal},
      {"NumpadDecimal", "Delete", vk_delete},
      {"NumpadEnter", "Enter", vk_return},
      {"NumpadAdd", "+", vk_add},
      // The key table's other keys and the driving keys' neighbours.
      {"Space", " ", vk_space},
      {"Escape", "Escape", vk_escape},
      {"ArrowUp", "ArrowUp", vk_up},
      {"ArrowDown", "ArrowDown", vk_down},
      {"ArrowLeft", "ArrowLeft", vk_left},
      {"ArrowRight", "ArrowRight", vk_right},
      {"Enter", "Enter", vk_return},
      {"Tab", "Tab", vk_tab},
      {"ShiftLeft", "Shift", vk_shift},
      {"ControlRight", "Control", vk_control},
      {"F1", "F1", vk_f1},
      {"F24", "F24", vk_f1 + 23},
      {"Equal", "=", vk_plus},
      {"Quote", "'", vk_apostrophe},
      // Without a place (synthetic events): by what the key types.
      {"", "g", 'G'},
      {"", "7", '7'},
      {"", " ", vk_space},
      {"", "Escape", vk_escape},
      // Keys without a code of their own.
      {"IntlBackslash", "<", vk_unknown},
      {"F25", "F25", vk_unknown},
      {"F0", "F0", vk_unknown},
      {"", "", vk_unknown},
      {"Unidentified", "Unidentified", vk_unknown},
  };
  for (const key_case& c : cases) {
    EXPECT_EQ(virtual_key_from_browser(c.code, c.key), c.expected) << c.code << " / " << c.key;
  }
}

TEST(BrowserKeys, AltCombinationsAndF10NeverReachTheTable) {
  browser_key_tracker keys;
  EXPECT_FALSE(keys.press("KeyG", "g", true));
  EXPECT_FALSE(keys.press("AltLeft", "Alt", false));
  EXPECT_FALSE(keys.press("F10", "F10", false));
  EXPECT_FALSE(keys.release("AltLeft", "Alt", false));
  EXPECT_FALSE(keys.release("F10", "F10", false));
  EXPECT_EQ(keys.press("KeyG", "g", false), 'G');
}

TEST(BrowserKeys, AReleaseHasTheCodeOfItsPress) {
  browser_key_tracker keys;
  // 1 pressed, then Shift: the release reports '!' but the 1 key comes up.
  EXPECT_EQ(keys.press("Digit1", "1", false), unsigned{'1'});
  EXPECT_EQ(keys.press("ShiftLeft", "Shift", false), unsigned{vk_shift});
  // A layout switched while A is held: its release is still A.
  EXPECT_EQ(keys.press("KeyQ", "a", false), unsigned{'A'});
  EXPECT_EQ(keys.press("KeyQ", "a", false), unsigned{'A'});  // auto-repeat
  EXPECT_EQ(keys.release("KeyQ", "q", false), unsigned{'A'});
  // Alt pressed meanwhile: the release of a key pressed before still counts.
  EXPECT_EQ(keys.release("Digit1", "!", true), unsigned{'1'});
  // A key pressed while the page had no keyboard: released by what it is.
  EXPECT_EQ(keys.release("KeyD", "d", false), unsigned{'D'});
  EXPECT_EQ(keys.release_all(), std::vector<unsigned>{vk_shift});
  EXPECT_TRUE(keys.release_all().empty());
}

}  // namespace
