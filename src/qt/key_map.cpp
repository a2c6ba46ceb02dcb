#include "qt/key_map.h"

#include "qt/keyboard_layout.h"

unsigned virtual_key_from_qt(int qt_key, Qt::KeyboardModifiers modifiers) {
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return static_cast<unsigned>(qt_key);
  if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) {
    if (modifiers & Qt::KeypadModifier)
      return vk_numpad_0 + static_cast<unsigned>(qt_key - Qt::Key_0);
    return static_cast<unsigned>(qt_key);
  }
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24)
    return vk_f1 + static_cast<unsigned>(qt_key - Qt::Key_F1);
  switch (qt_key) {
    case Qt::Key_Backspace:
      return vk_backspace;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return vk_tab;
    case Qt::Key_Clear:
      return vk_clear;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return vk_return;
    case Qt::Key_Shift:
      return vk_shift;
    case Qt::Key_Control:
      return vk_control;
    case Qt::Key_Alt:
      return vk_alt;
    case Qt::Key_Pause:
      return vk_pause;
    case Qt::Key_CapsLock:
      return vk_caps_lock;
    case Qt::Key_Escape:
      return vk_escape;
    case Qt::Key_Space:
      return vk_space;
    case Qt::Key_PageUp:
      return vk_page_up;
    case Qt::Key_PageDown:
      return vk_page_down;
    case Qt::Key_End:
      return vk_end;
    case Qt::Key_Home:
      return vk_home;
    case Qt::Key_Left:
      return vk_left;
    case Qt::Key_Up:
      return vk_up;
    case Qt::Key_Right:
      return vk_right;
    case Qt::Key_Down:
      return vk_down;
    case Qt::Key_Print:
      return vk_print;
    case Qt::Key_Insert:
      return vk_insert;
    case Qt::Key_Delete:
      return vk_delete;
    case Qt::Key_Meta:
      return vk_meta;
    case Qt::Key_Menu:
      return vk_menu;
    case Qt::Key_Asterisk:
      return (modifiers & Qt::KeypadModifier) ? vk_multiply : vk_unknown;
    case Qt::Key_Plus:
      return (modifiers & Qt::KeypadModifier) ? vk_add : vk_plus;
    case Qt::Key_Minus:
      return (modifiers & Qt::KeypadModifier) ? vk_subtract : vk_minus;
    case Qt::Key_Period:
      return (modifiers & Qt::KeypadModifier) ? vk_decimal : vk_period;
    case Qt::Key_Slash:
      return (modifiers & Qt::KeypadModifier) ? vk_divide : vk_slash;
    case Qt::Key_NumLock:
      return vk_num_lock;
    case Qt::Key_ScrollLock:
      return vk_scroll_lock;
    case Qt::Key_Semicolon:
      return vk_semicolon;
    case Qt::Key_Comma:
      return vk_comma;
    case Qt::Key_QuoteLeft:
      return vk_backquote;
    case Qt::Key_BracketLeft:
      return vk_bracket_left;
    case Qt::Key_Backslash:
      return vk_backslash;
    case Qt::Key_BracketRight:
      return vk_bracket_right;
    case Qt::Key_Apostrophe:
      return vk_apostrophe;
    default:
      return vk_unknown;
  }
}

bool is_system_key(int qt_key, Qt::KeyboardModifiers modifiers) {
  return qt_key == Qt::Key_Alt || qt_key == Qt::Key_F10 || (modifiers & Qt::AltModifier);
}

unsigned key_tracker::code_of(const QKeyEvent& event) const {
  const quint32 scan = event.nativeScanCode();
  if (layout_ != nullptr && scan > 0 && !(event.modifiers() & Qt::KeypadModifier)) {
    if (const std::optional<unsigned> code = layout_->unshifted_key(scan, event.nativeModifiers()))
      return *code;
  }
  return virtual_key_from_qt(event.key(), event.modifiers());
}

std::optional<unsigned> key_tracker::press(const QKeyEvent& event) {
  if (is_system_key(event.key(), event.modifiers())) return std::nullopt;
  const quint32 scan = event.nativeScanCode();
  if (scan > 0 && scan < held_.size()) {
    // An auto-repeated press keeps the code of the first one.
    if (held_[scan] == kNone) held_[scan] = static_cast<std::uint16_t>(code_of(event));
    return held_[scan];
  }
  const unsigned code = virtual_key_from_qt(event.key(), event.modifiers());
  held_codes_[code & 0xFFu] = true;
  return code;
}

std::optional<unsigned> key_tracker::release(const QKeyEvent& event) {
  if (event.isAutoRepeat()) return std::nullopt;
  const quint32 scan = event.nativeScanCode();
  if (scan > 0 && scan < held_.size()) {
    if (held_[scan] == kNone) {
      // Pressed while another window had the keyboard, or a system key.
      if (is_system_key(event.key(), event.modifiers())) return std::nullopt;
      return code_of(event);
    }
    const unsigned code = held_[scan];
    held_[scan] = kNone;
    return code;
  }
  const unsigned code = virtual_key_from_qt(event.key(), event.modifiers()) & 0xFFu;
  if (held_codes_[code]) {
    held_codes_[code] = false;
    return code;
  }
  if (is_system_key(event.key(), event.modifiers())) return std::nullopt;
  return code;
}
