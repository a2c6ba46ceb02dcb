// The keyboard's layout, to tell what a key means without its modifiers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct xkb_context;
struct xkb_keymap;

// An XKB keymap: for the key under an X11 key code it gives the letter or digit
// the key stands for when pressed alone, so Shift+2 is still the 2 key and
// Shift+W the W key, as the key table wants them.
class keyboard_layout {
 public:
  // The layout of the X server the program shows on, or nothing when the
  // program is not on X11 (Qt's offscreen platform, Wayland) or it cannot be read.
  static std::unique_ptr<keyboard_layout> of_x11_server();
  // A layout by its XKB names ("us", "fr", "de"; an empty variant is the default).
  static std::unique_ptr<keyboard_layout> named(const std::string& layout,
                                                const std::string& variant = {});

  ~keyboard_layout();
  keyboard_layout(const keyboard_layout&) = delete;
  keyboard_layout& operator=(const keyboard_layout&) = delete;

  // The virtual-key code ('A'..'Z', '0'..'9') of the letter or digit the key with
  // this X11 key code makes without modifiers in the layout group the X11
  // modifier state names (bits 13 and 14); nothing for other keys, which keep the
  // code Qt's key gives them. Where the key alone makes no letter or digit but
  // with Shift a digit (the digit row of French layouts), it is that digit.
  std::optional<unsigned> unshifted_key(std::uint32_t key_code, std::uint32_t x11_state) const;

 private:
  keyboard_layout(xkb_context* context, xkb_keymap* keymap);

  xkb_context* context_;
  xkb_keymap* keymap_;
};
