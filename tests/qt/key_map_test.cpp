// Qt key events to virtual-key codes, and the pairing of releases with presses.
#include "qt/key_map.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <memory>
#include <set>
#include <vector>

#include "qt/keyboard_layout.h"
#include "shell/virtual_key.h"

namespace {

QKeyEvent key_event(QEvent::Type type, int key, quint32 scan, bool repeat = false,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  return QKeyEvent(type, key, modifiers, scan, 0, 0, QString(), repeat);
}

TEST(VirtualKey, KeysOfTheKeyTableGetTheirCodes) {
  for (int key = Qt::Key_A; key <= Qt::Key_Z; ++key)
    EXPECT_EQ(virtual_key_from_qt(key, Qt::NoModifier),
              static_cast<unsigned>('A' + key - Qt::Key_A));
  for (int key = Qt::Key_0; key <= Qt::Key_9; ++key)
    EXPECT_EQ(virtual_key_from_qt(key, Qt::NoModifier),
              static_cast<unsigned>('0' + key - Qt::Key_0));
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Space, Qt::NoModifier), vk_space);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Escape, Qt::NoModifier), vk_escape);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Up, Qt::NoModifier), vk_up);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Down, Qt::NoModifier), vk_down);
  // Shift does not change a letter's code.
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_M, Qt::ShiftModifier), 77u);
}

TEST(VirtualKey, OtherKeysKeepClearOfTheTable) {
  // Keypad digits are not the digit row's keys.
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_2, Qt::KeypadModifier), 98u);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Left, Qt::NoModifier), 37u);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Right, Qt::NoModifier), 39u);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Return, Qt::NoModifier), 13u);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_F1, Qt::NoModifier), 112u);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_Exclam, Qt::ShiftModifier), vk_unknown);
  EXPECT_EQ(virtual_key_from_qt(Qt::Key_unknown, Qt::NoModifier), vk_unknown);
  const std::set<unsigned> table = {'N', 'V', 27,  40,  38, 'R', 'T', 'M', 'G', '1', '2',
                                    '3', '4', '5', '6', 32, 'P', 'W', 'S', 'A', 'D'};
  for (int key : {Qt::Key_Exclam, Qt::Key_Plus, Qt::Key_Minus, Qt::Key_Tab, Qt::Key_Shift,
                  Qt::Key_Control, Qt::Key_Home, Qt::Key_Delete, Qt::Key_unknown})
    EXPECT_EQ(table.count(virtual_key_from_qt(key, Qt::NoModifier)), 0u) << key;
}

TEST(VirtualKey, AltCombinationsAndF10BelongToTheWindowSystem) {
  EXPECT_TRUE(is_system_key(Qt::Key_F, Qt::AltModifier));
  EXPECT_TRUE(is_system_key(Qt::Key_Alt, Qt::NoModifier));
  EXPECT_TRUE(is_system_key(Qt::Key_F10, Qt::NoModifier));
  EXPECT_FALSE(is_system_key(Qt::Key_F, Qt::ShiftModifier | Qt::ControlModifier));
  key_tracker tracker;
  EXPECT_FALSE(tracker.press(key_event(QEvent::KeyPress, Qt::Key_F, 41, false, Qt::AltModifier)));
  EXPECT_FALSE(tracker.press(key_event(QEvent::KeyPress, Qt::Key_F10, 76)));
}

TEST(KeyTracker, AutoRepeatedReleasesAreDroppedAndEveryPressCounts) {
  key_tracker tracker;
  EXPECT_EQ(tracker.press(key_event(QEvent::KeyPress, Qt::Key_2, 11)), 50u);
  // X11's auto-repeat: release and press pairs, both marked as repeats.
  for (int k = 0; k < 3; ++k) {
    EXPECT_FALSE(tracker.release(key_event(QEvent::KeyRelease, Qt::Key_2, 11, true)));
    EXPECT_EQ(tracker.press(key_event(QEvent::KeyPress, Qt::Key_2, 11, true)), 50u);
  }
  EXPECT_EQ(tracker.release(key_event(QEvent::KeyRelease, Qt::Key_2, 11)), 50u);
}

TEST(KeyTracker, ReleaseGetsTheCodeOfItsPressWhenShiftChangedTheKey) {
  key_tracker tracker;
  EXPECT_EQ(tracker.press(key_event(QEvent::KeyPress, Qt::Key_1, 10)), 49u);
  // Shift went down while 1 was held: Qt reports the release as '!'.
  EXPECT_EQ(
      tracker.release(key_event(QEvent::KeyRelease, Qt::Key_Exclam, 10, false, Qt::ShiftModifier)),
      49u);
}

// A key event as Qt's X11 platform delivers it: the X key code, the keysym with
// the modifiers applied and the X modifier state (Shift 1, group in bits 13-14).
QKeyEvent x11_event(QEvent::Type type, int key, quint32 key_code, quint32 keysym, quint32 state,
                    Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  return QKeyEvent(type, key, modifiers, key_code, keysym, state, QString(), false);
}

TEST(KeyTracker, ShiftedDigitsAndLettersKeepTheirKeysOnTheLayout) {
  const std::unique_ptr<keyboard_layout> us = keyboard_layout::named("us");
  ASSERT_NE(us, nullptr);
  key_tracker tracker;
  tracker.use_layout(us.get());
  // Shift held, then 2: Qt names the key '@' (keysym "at", 0x40); it is the 2 key.
  EXPECT_EQ(tracker.press(x11_event(QEvent::KeyPress, Qt::Key_At, 11, 0x40, 1, Qt::ShiftModifier)),
            50u);
  // Shift let go first: the release comes as a plain 2 and releases the same key.
  EXPECT_EQ(tracker.release(x11_event(QEvent::KeyRelease, Qt::Key_2, 11, 0x32, 0)), 50u);
  // Shift+1 is the 1 key, Shift+W the W key.
  EXPECT_EQ(
      tracker.press(x11_event(QEvent::KeyPress, Qt::Key_Exclam, 10, 0x21, 1, Qt::ShiftModifier)),
      49u);
  EXPECT_EQ(tracker.release(
                x11_event(QEvent::KeyRelease, Qt::Key_Exclam, 10, 0x21, 1, Qt::ShiftModifier)),
            49u);
  EXPECT_EQ(tracker.press(x11_event(QEvent::KeyPress, Qt::Key_W, 25, 0x57, 1, Qt::ShiftModifier)),
            87u);
  // Keys that are no letter or digit keep Qt's key: the keypad, space, arrows.
  EXPECT_EQ(
      tracker.press(x11_event(QEvent::KeyPress, Qt::Key_2, 88, 0xffb2, 0x10, Qt::KeypadModifier)),
      98u);
  EXPECT_EQ(tracker.press(x11_event(QEvent::KeyPress, Qt::Key_Space, 65, 0x20, 1)), vk_space);
  EXPECT_EQ(tracker.press(x11_event(QEvent::KeyPress, Qt::Key_Up, 111, 0xff52, 0)), vk_up);
}

TEST(KeyTracker, KeysFollowTheirPlaceOnOtherLayouts) {
  const std::unique_ptr<keyboard_layout> fr = keyboard_layout::named("fr");
  const std::unique_ptr<keyboard_layout> de = keyboard_layout::named("de");
  ASSERT_NE(fr, nullptr);
  ASSERT_NE(de, nullptr);
  // French digit row: alone the key makes 'é', with Shift '2'; it is the 2 key.
  key_tracker french;
  french.use_layout(fr.get());
  EXPECT_EQ(french.press(x11_event(QEvent::KeyPress, Qt::Key_Eacute, 11, 0xe9, 0)), 50u);
  // The key where US keyboards have Q makes A in French.
  EXPECT_EQ(french.press(x11_event(QEvent::KeyPress, Qt::Key_A, 24, 0x61, 0)), 65u);
  // German: the key where US keyboards have Y makes Z, Shift+3 ('§') is the 3 key.
  key_tracker german;
  german.use_layout(de.get());
  EXPECT_EQ(german.press(x11_event(QEvent::KeyPress, Qt::Key_Z, 29, 0x7a, 0)), 90u);
  EXPECT_EQ(
      german.press(x11_event(QEvent::KeyPress, Qt::Key_paragraph, 12, 0xa7, 1, Qt::ShiftModifier)),
      51u);
}

TEST(KeyTracker, ReleaseAllLetsGoOfEveryHeldKeyOnce) {
  key_tracker tracker;
  tracker.press(key_event(QEvent::KeyPress, Qt::Key_W, 25));
  tracker.press(key_event(QEvent::KeyPress, Qt::Key_A, 38));
  tracker.press(key_event(QEvent::KeyPress, Qt::Key_D, 0));  // synthetic: no scan code
  tracker.release(key_event(QEvent::KeyRelease, Qt::Key_A, 38));
  std::multiset<unsigned> released;
  tracker.release_all([&](unsigned code) { released.insert(code); });
  EXPECT_EQ(released, (std::multiset<unsigned>{'D', 'W'}));
  released.clear();
  tracker.release_all([&](unsigned code) { released.insert(code); });
  EXPECT_TRUE(released.empty());
}

TEST(KeyTracker, ReleaseOfAKeyPressedElsewhereStillClearsIt) {
  key_tracker tracker;
  EXPECT_EQ(tracker.release(key_event(QEvent::KeyRelease, Qt::Key_W, 25)), 87u);
  EXPECT_EQ(tracker.release(key_event(QEvent::KeyRelease, Qt::Key_W, 0)), 87u);
}

}  // namespace
