#include "qt/key_map.h"

unsigned virtual_key_from_qt(int qt_key, Qt::KeyboardModifiers modifiers) {
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return static_cast<unsigned>(qt_key);
  if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) {
    if (modifiers & Qt::KeypadModifier) return 96u + static_cast<unsigned>(qt_key - Qt::Key_0);
    return static_cast<unsigned>(qt_key);
  }
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24)
    return 112u + static_cast<unsigned>(qt_key - Qt::Key_F1);
  switch (qt_key) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return 9;
    case Qt::Key_Clear:
      return 12;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_CapsLock:
      return 20;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Print:
      return 44;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    case Qt::Key_Meta:
      return 91;
    case Qt::Key_Menu:
      return 93;
    case Qt::Key_Asterisk:
      return (modifiers & Qt::KeypadModifier) ? 106 : kUnknownVirtualKey;
    case Qt::Key_Plus:
      return (modifiers & Qt::KeypadModifier) ? 107 : 187;
    case Qt::Key_Minus:
      return (modifiers & Qt::KeypadModifier) ? 109 : 189;
    case Qt::Key_Period:
      return (modifiers & Qt::KeypadModifier) ? 110 : 190;
    case Qt::Key_Slash:
      return (modifiers & Qt::KeypadModifier) ? 111 : 191;
    case Qt::Key_NumLock:
      return 144;
    case Qt::Key_ScrollLock:
      return 145;
    case Qt::Key_Semicolon:
      return 186;
    case Qt::Key_Comma:
      return 188;
    case Qt::Key_QuoteLeft:
      return 192;
    case Qt::Key_BracketLeft:
      return 219;
    case Qt::Key_Backslash:
      return 220;
    case Qt::Key_BracketRight:
      return 221;
    case Qt::Key_Apostrophe:
      return 222;
    default:
      return kUnknownVirtualKey;
  }
}

bool is_system_key(int qt_key, Qt::KeyboardModifiers modifiers) {
  return qt_key == Qt::Key_Alt || qt_key == Qt::Key_F10 || (modifiers & Qt::AltModifier);
}

std::optional<unsigned> key_tracker::press(const QKeyEvent& event) {
  if (is_system_key(event.key(), event.modifiers())) return std::nullopt;
  const quint32 scan = event.nativeScanCode();
  if (scan > 0 && scan < held_.size()) {
    // An auto-repeated press keeps the code of the first one.
    if (held_[scan] == kNone)
      held_[scan] = static_cast<std::uint16_t>(virtual_key_from_qt(event.key(), event.modifiers()));
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
      return virtual_key_from_qt(event.key(), event.modifiers());
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
