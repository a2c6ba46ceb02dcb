// Keyboard events of Qt turned into the virtual-key codes the key table uses.
#pragma once

#include <QKeyEvent>
#include <array>
#include <cstdint>
#include <optional>

#include "shell/virtual_key.h"

class keyboard_layout;

// The virtual-key code (shell/virtual_key.h) of a Qt key: letters as their
// upper-case ASCII code, digits as '0'..'9', the keypad's digits 96..105, the
// other common keys as the table names them. Keys without a code of their own get
// vk_unknown, which has no action.
unsigned virtual_key_from_qt(int qt_key, Qt::KeyboardModifiers modifiers);

// Alt combinations and F10 are the window system's own keys (menu access); they
// never reach the key table.
bool is_system_key(int qt_key, Qt::KeyboardModifiers modifiers);

// Pairs every release with its press and names keys by what they are alone. With
// a keyboard layout, a letter or digit key gets its letter or digit whatever the
// modifiers (Shift+2 is the 2 key, not '@'); without one, Qt's key decides.
// A key's text can change while it is held
// (press 1, press Shift, release: Qt reports '!'), so the code of a release is
// the one its physical key got when it went down. Auto-repeated releases are
// dropped: a held key stays down from its first press to its real release.
class key_tracker {
 public:
  // The layout that names keys by their X11 key codes; null for none. Not owned.
  void use_layout(const keyboard_layout* layout) { layout_ = layout; }
  // The code for key_down, or nothing for a key the key table must not see.
  std::optional<unsigned> press(const QKeyEvent& event);
  // The code for key_up, or nothing when the release is to be ignored.
  std::optional<unsigned> release(const QKeyEvent& event);
  // Forgets every held key and returns their codes (for key_up on focus loss).
  template <typename F>
  void release_all(F&& on_release) {
    for (std::size_t scan = 0; scan < held_.size(); ++scan) {
      if (held_[scan] != kNone) {
        const unsigned code = held_[scan];
        held_[scan] = kNone;
        on_release(code);
      }
    }
    for (std::size_t code = 0; code < held_codes_.size(); ++code) {
      if (held_codes_[code]) {
        held_codes_[code] = false;
        on_release(static_cast<unsigned>(code));
      }
    }
  }

 private:
  static constexpr std::uint16_t kNone = 0xFFFF;
  unsigned code_of(const QKeyEvent& event) const;

  const keyboard_layout* layout_ = nullptr;
  // Code of the key held under each hardware scan code (X11 key codes are 8..255).
  std::array<std::uint16_t, 256> held_ = [] {
    std::array<std::uint16_t, 256> a{};
    a.fill(kNone);
    return a;
  }();
  // Keys held that came without a scan code (synthetic events).
  std::array<bool, 256> held_codes_{};
};
