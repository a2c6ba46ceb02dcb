#include "headless/key_script.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <random>

#include "shell/virtual_key.h"

namespace {

std::vector<key_event> parse_ok(std::string_view text) {
  std::vector<key_event> events;
  std::string error;
  EXPECT_TRUE(parse_key_script(text, events, error)) << error;
  return events;
}

std::string parse_error(std::string_view text) {
  std::vector<key_event> events{{1, true, 'W'}};
  std::string error;
  EXPECT_FALSE(parse_key_script(text, events, error)) << "accepted: " << text;
  // A failed parse leaves the caller's events alone.
  EXPECT_EQ(events.size(), 1u);
  return error;
}

TEST(KeyScript, KeyNamesMapToTheDriversKeyCodes) {
  EXPECT_EQ(key_code_of("w"), 'W');
  EXPECT_EQ(key_code_of("W"), 'W');
  EXPECT_EQ(key_code_of("7"), '7');
  EXPECT_EQ(key_code_of("space"), static_cast<int>(vk_space));
  EXPECT_EQ(key_code_of("ESC"), static_cast<int>(vk_escape));
  EXPECT_EQ(key_code_of("Escape"), static_cast<int>(vk_escape));
  EXPECT_EQ(key_code_of("up"), static_cast<int>(vk_up));
  EXPECT_EQ(key_code_of("down"), static_cast<int>(vk_down));
  EXPECT_EQ(key_code_of(""), -1);
  EXPECT_EQ(key_code_of("?"), -1);
  EXPECT_EQ(key_code_of("ww"), -1);
  EXPECT_EQ(key_code_of("f1"), -1);
}

TEST(KeyScript, ReadsEventsCommentsAndBlankLines) {
  const auto events = parse_ok(
      "# drive forward, then turn\n"
      "\n"
      "0 down W\n"
      "  120\tUP  w   # release\r\n"
      "120 down d\n"
      "200 up D");  // no final line break
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0], (key_event{0, true, 'W'}));
  EXPECT_EQ(events[1], (key_event{120, false, 'W'}));
  EXPECT_EQ(events[2], (key_event{120, true, 'D'}));
  EXPECT_EQ(events[3], (key_event{200, false, 'D'}));
  EXPECT_TRUE(parse_ok("").empty());
  EXPECT_TRUE(parse_ok("# only a comment\n\n   \n").empty());
}

TEST(KeyScript, SortsByTickAndKeepsFileOrderWithinATick) {
  const auto events = parse_ok("50 down M\n10 down 1\n50 up M\n10 up 1\n0 down space\n");
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0], (key_event{0, true, vk_space}));
  EXPECT_EQ(events[1], (key_event{10, true, '1'}));
  EXPECT_EQ(events[2], (key_event{10, false, '1'}));
  EXPECT_EQ(events[3], (key_event{50, true, 'M'}));
  EXPECT_EQ(events[4], (key_event{50, false, 'M'}));
}

TEST(KeyScript, RefusesMalformedLinesNamingTheLine) {
  EXPECT_EQ(parse_error("0 down W\n-1 down W\n").rfind("line 2: the tick", 0), 0u);
  EXPECT_NE(parse_error("x down W").find("line 1"), std::string::npos);
  EXPECT_NE(parse_error("1.5 down W").find("tick"), std::string::npos);
  EXPECT_NE(parse_error("99999999999999999999999 down W").find("tick"), std::string::npos);
  EXPECT_NE(parse_error("3 press W").find("expected down or up"), std::string::npos);
  EXPECT_NE(parse_error("3 down F1").find("unknown key 'F1'"), std::string::npos);
  EXPECT_NE(parse_error("3 down").find("got 2 words"), std::string::npos);
  EXPECT_NE(parse_error("3 down W extra").find("got 4 words"), std::string::npos);
  EXPECT_NE(parse_error("\n\n3 down W 4\n").find("line 3"), std::string::npos);
  EXPECT_NE(parse_error(std::string_view("3 down W\0", 9)).find("zero byte"), std::string::npos);
  // Unprintable bytes are not echoed into the message.
  const std::string message = parse_error("3 down \x01\x02");
  EXPECT_EQ(message.find('\x01'), std::string::npos);
}

TEST(KeyScript, FileErrorsNameTheFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string base = dir.path().toStdString();
  std::vector<key_event> events;
  std::string error;

  EXPECT_FALSE(read_key_script(base + "/missing.keys", events, error));
  EXPECT_NE(error.find("missing.keys"), std::string::npos);
  EXPECT_FALSE(read_key_script(base, events, error));
  EXPECT_NE(error.find("directory"), std::string::npos);

  const std::string bad = base + "/bad.keys";
  std::ofstream(bad) << "0 down W\n5 hold W\n";
  EXPECT_FALSE(read_key_script(bad, events, error));
  EXPECT_NE(error.find("bad.keys: line 2"), std::string::npos) << error;

  const std::string good = base + "/good.keys";
  std::ofstream(good) << "0 down W\n5 up W\n";
  ASSERT_TRUE(read_key_script(good, events, error)) << error;
  EXPECT_EQ(events.size(), 2u);
}

}  // namespace

namespace {

// Random text made of script words, numbers, blanks, line breaks and stray bytes:
// the parser either accepts it or names a line, and never crashes or loops.
TEST(KeyScript, ArbitraryTextIsAcceptedOrRefusedCleanly) {
  std::mt19937 random(20240601);
  const std::vector<std::string> pieces = {"0",
                                           "17",
                                           "18446744073709551615",
                                           "18446744073709551616",
                                           "-3",
                                           "down",
                                           "up",
                                           "DOWN",
                                           "w",
                                           "esc",
                                           "space",
                                           "#",
                                           " ",
                                           "\t",
                                           "\n",
                                           "\r\n",
                                           "x",
                                           "\xff",
                                           std::string(1, '\0'),
                                           "down W\n",
                                           "5 up 1\n"};
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int i = length(random); i > 0; --i) text += pieces[pick(random)];
    std::vector<key_event> events;
    std::string error;
    if (parse_key_script(text, events, error)) {
      for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_LE(events[i - 1].tick, events[i].tick);
      }
    } else {
      EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
      EXPECT_TRUE(events.empty());
    }
  }
}

}  // namespace
