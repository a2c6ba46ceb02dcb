#include "headless/options.h"

#include <gtest/gtest.h>

namespace {

parse_outcome parse(QStringList args, run_options& options, std::string& message) {
  args.prepend("robot-simulator-headless");
  return parse_options(args, options, message);
}

TEST(HeadlessOptions, DefaultsWithoutArguments) {
  run_options options;
  std::string message;
  ASSERT_EQ(parse({}, options, message), parse_outcome::run);
  EXPECT_EQ(options.ticks, 6000u);
  EXPECT_FALSE(options.seed.has_value());
  EXPECT_EQ(options.period_ms, 10);
  EXPECT_EQ(options.width, 640);
  EXPECT_EQ(options.height, 480);
  EXPECT_EQ(options.trace_every, 1u);
  EXPECT_FALSE(options.manual || options.grad || options.vision || options.stats || options.json);
}

TEST(HeadlessOptions, EveryOptionReachesTheRecord) {
  run_options options;
  std::string message;
  ASSERT_EQ(parse({"--ticks",  "123",     "--seed",        "4294967295", "--period-ms",
                   "20",       "--world", "in.dat",        "--save",     "out.dat",
                   "--manual", "--keys",  "k.txt",         "--png",      "p.png",
                   "--size",   "320X200", "--grad",        "--vision",   "--stats",
                   "--trace",  "t.csv",   "--trace-every", "5",          "--json"},
                  options, message),
            parse_outcome::run)
      << message;
  EXPECT_EQ(options.ticks, 123u);
  EXPECT_EQ(options.seed, 4294967295u);
  EXPECT_EQ(options.period_ms, 20);
  EXPECT_EQ(options.world_path, "in.dat");
  EXPECT_EQ(options.save_path, "out.dat");
  EXPECT_EQ(options.keys_path, "k.txt");
  EXPECT_EQ(options.png_path, "p.png");
  EXPECT_EQ(options.width, 320);
  EXPECT_EQ(options.height, 200);
  EXPECT_EQ(options.trace_path, "t.csv");
  EXPECT_EQ(options.trace_every, 5u);
  EXPECT_TRUE(options.manual && options.grad && options.vision && options.stats && options.json);
  // The equals form works as well.
  ASSERT_EQ(parse({"--ticks=7"}, options, message), parse_outcome::run);
  EXPECT_EQ(options.ticks, 7u);
}

TEST(HeadlessOptions, HelpAndVersion) {
  run_options options;
  std::string message;
  ASSERT_EQ(parse({"--help"}, options, message), parse_outcome::help);
  EXPECT_EQ(message.rfind("Usage: robot-simulator-headless [options]", 0), 0u);
  for (const char* name :
       {"--ticks", "--seed", "--period-ms", "--world", "--save", "--manual", "--keys", "--png",
        "--size", "--grad", "--vision", "--stats", "--trace", "--trace-every", "--json"}) {
    EXPECT_NE(message.find(name), std::string::npos) << name;
  }
  ASSERT_EQ(parse({"--version"}, options, message), parse_outcome::version);
  EXPECT_EQ(message.rfind("robot-simulator-headless ", 0), 0u);
}

TEST(HeadlessOptions, BadValuesAreRefusedWithAReason) {
  struct bad_case {
    QStringList args;
    const char* expected;
  };
  const bad_case cases[] = {
      {{"--ticks", "-5"}, "--ticks: expected a whole number"},
      {{"--ticks", "1e3"}, "--ticks"},
      {{"--ticks", ""}, "--ticks"},
      {{"--ticks", "1000000000001"}, "--ticks"},
      {{"--ticks", "99999999999999999999999"}, "--ticks"},
      {{"--seed", "4294967296"}, "--seed"},
      {{"--seed", "-1"}, "--seed"},
      {{"--period-ms", "0"}, "--period-ms"},
      {{"--period-ms", "60001"}, "--period-ms"},
      {{"--png", "a.png", "--size", "0x0"}, "at least 1x1"},
      {{"--png", "a.png", "--size", "640x0"}, "at least 1x1"},
      {{"--png", "a.png", "--size", "100000x100000"}, "too large"},
      {{"--png", "a.png", "--size", "16384x16384"}, "too large"},
      {{"--png", "a.png", "--size", "640"}, "WIDTHxHEIGHT"},
      {{"--png", "a.png", "--size", "640x480x2"}, "WIDTHxHEIGHT"},
      {{"--png", "a.png", "--size", "-640x480"}, "WIDTHxHEIGHT"},
      {{"--trace", "t.csv", "--trace-every", "0"}, "--trace-every"},
      {{"--trace-every", "3"}, "needs --trace"},
      {{"--stats"}, "give --png"},
      {{"--grad"}, "give --png"},
      {{"--size", "10x10"}, "give --png"},
      {{"--png", ""}, "empty"},
      {{"--trace", "same.out", "--png", "./same.out"}, "name the same file"},
      {{"--bogus"}, "bogus"},
      {{"extra"}, "unexpected argument 'extra'"},
      {{"--ticks"}, "ticks"},
  };
  for (const auto& c : cases) {
    run_options options;
    options.ticks = 99;
    std::string message;
    EXPECT_EQ(parse(c.args, options, message), parse_outcome::error)
        << c.args.join(' ').toStdString();
    EXPECT_NE(message.find(c.expected), std::string::npos)
        << c.args.join(' ').toStdString() << " -> " << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << "one line: " << message;
    EXPECT_EQ(options.ticks, 99u) << "the record stays as it was on error";
  }
}

TEST(HeadlessOptions, LargestAcceptedPicture) {
  int w = 0;
  int h = 0;
  std::string problem;
  EXPECT_TRUE(parse_size("16384x4096", w, h, problem)) << problem;
  EXPECT_EQ(w, 16384);
  EXPECT_EQ(h, 4096);
  EXPECT_TRUE(parse_size("1x1", w, h, problem));
  EXPECT_FALSE(parse_size("16385x1", w, h, problem));
  EXPECT_FALSE(parse_size("x", w, h, problem));
}

}  // namespace
