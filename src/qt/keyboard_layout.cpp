#include "qt/keyboard_layout.h"

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <QGuiApplication>

namespace {

// The letter or digit a keysym stands for, as a virtual-key code.
std::optional<unsigned> letter_or_digit(xkb_keysym_t sym) {
  if (sym >= XKB_KEY_a && sym <= XKB_KEY_z) return static_cast<unsigned>('A' + (sym - XKB_KEY_a));
  if (sym >= XKB_KEY_A && sym <= XKB_KEY_Z) return static_cast<unsigned>('A' + (sym - XKB_KEY_A));
  if (sym >= XKB_KEY_0 && sym <= XKB_KEY_9) return static_cast<unsigned>('0' + (sym - XKB_KEY_0));
  return std::nullopt;
}

std::optional<xkb_keysym_t> keysym_at(xkb_keymap* keymap, xkb_keycode_t key,
                                      xkb_layout_index_t layout, xkb_level_index_t level) {
  const xkb_keysym_t* syms = nullptr;
  if (xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) != 1) return std::nullopt;
  return syms[0];
}

}  // namespace

keyboard_layout::keyboard_layout(xkb_context* context, xkb_keymap* keymap)
    : context_(context), keymap_(keymap) {}

keyboard_layout::~keyboard_layout() {
  xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

std::unique_ptr<keyboard_layout> keyboard_layout::of_x11_server() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return nullptr;
  xcb_connection_t* connection = x11->connection();
  if (!xkb_x11_setup_xkb_extension(
          connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
    return nullptr;
  const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
  if (device < 0) return nullptr;
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (context == nullptr) return nullptr;
  xkb_keymap* keymap =
      xkb_x11_keymap_new_from_device(context, connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) {
    xkb_context_unref(context);
    return nullptr;
  }
  return std::unique_ptr<keyboard_layout>(new keyboard_layout(context, keymap));
}

std::unique_ptr<keyboard_layout> keyboard_layout::named(const std::string& layout,
                                                        const std::string& variant) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (context == nullptr) return nullptr;
  const xkb_rule_names names{nullptr, nullptr, layout.c_str(), variant.c_str(), nullptr};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) {
    xkb_context_unref(context);
    return nullptr;
  }
  return std::unique_ptr<keyboard_layout>(new keyboard_layout(context, keymap));
}

std::optional<unsigned> keyboard_layout::unshifted_key(std::uint32_t key_code,
                                                       std::uint32_t x11_state) const {
  const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap_, key_code);
  if (layouts == 0) return std::nullopt;
  // Out-of-range groups wrap, as XKB's default group handling does.
  const xkb_layout_index_t layout = ((x11_state >> 13) & 3u) % layouts;
  const std::optional<xkb_keysym_t> alone = keysym_at(keymap_, key_code, layout, 0);
  // Keypad keys keep Qt's key: alone they are movement keys, not digits.
  if (alone && *alone >= XKB_KEY_KP_Space && *alone <= XKB_KEY_KP_Equal) return std::nullopt;
  if (alone) {
    if (const std::optional<unsigned> code = letter_or_digit(*alone)) return code;
  }
  const std::optional<xkb_keysym_t> shifted = keysym_at(keymap_, key_code, layout, 1);
  if (shifted && *shifted >= XKB_KEY_0 && *shifted <= XKB_KEY_9) return letter_or_digit(*shifted);
  return std::nullopt;
}
