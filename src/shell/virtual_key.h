// The virtual-key codes of the keys the program knows, numbered as Windows
// numbers them. Letters are their upper-case ASCII codes ('A'..'Z') and digits
// '0'..'9'; those have no names here. The key table, the headless runner's key
// scripts and the window's key map all take their codes from this one table.
#pragma once

enum virtual_key : unsigned {
  vk_backspace = 8,
  vk_tab = 9,
  vk_clear = 12,
  vk_return = 13,
  vk_shift = 16,
  vk_control = 17,
  vk_alt = 18,
  vk_pause = 19,
  vk_caps_lock = 20,
  vk_escape = 27,
  vk_space = 32,
  vk_page_up = 33,
  vk_page_down = 34,
  vk_end = 35,
  vk_home = 36,
  vk_left = 37,
  vk_up = 38,
  vk_right = 39,
  vk_down = 40,
  vk_print = 44,
  vk_insert = 45,
  vk_delete = 46,
  vk_meta = 91,
  vk_menu = 93,
  vk_numpad_0 = 96,  // the keypad's digits are 96..105
  vk_multiply = 106,
  vk_add = 107,
  vk_subtract = 109,
  vk_decimal = 110,
  vk_divide = 111,
  vk_f1 = 112,  // F1..F24 are 112..135
  vk_num_lock = 144,
  vk_scroll_lock = 145,
  vk_semicolon = 186,
  vk_plus = 187,
  vk_comma = 188,
  vk_minus = 189,
  vk_period = 190,
  vk_slash = 191,
  vk_backquote = 192,
  vk_bracket_left = 219,
  vk_backslash = 220,
  vk_bracket_right = 221,
  vk_apostrophe = 222,
  // A key without a code of its own; it has no action.
  vk_unknown = 255,
};
