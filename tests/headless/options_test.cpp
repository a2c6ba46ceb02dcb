#include "headless/options.h"

#include <gtest/gtest.h>

#include "headless/completion.h"

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
  EXPECT_EQ(options.frame_every, 10u);
  EXPECT_EQ(options.gif_speed, 1.0);
  EXPECT_FALSE(options.manual || options.grad || options.vision || options.stats || options.trail ||
               options.json);
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
  ASSERT_EQ(parse({"--gif", "a.gif", "--frame-every", "3", "--gif-speed", "2.5", "--trail"},
                  options, message),
            parse_outcome::run)
      << message;
  EXPECT_EQ(options.gif_path, "a.gif");
  EXPECT_EQ(options.frame_every, 3u);
  EXPECT_EQ(options.gif_speed, 2.5);
  EXPECT_TRUE(options.trail);
  // The picture options shape the film as they shape the PNG.
  ASSERT_EQ(parse({"--gif", "a.gif", "--size", "32x24", "--grad", "--stats"}, options, message),
            parse_outcome::run)
      << message;
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
        "--gif", "--frame-every", "--gif-speed", "--size", "--grad", "--vision", "--stats",
        "--trail", "--trace", "--trace-every", "--json"}) {
    EXPECT_NE(message.find(name), std::string::npos) << name;
  }
  ASSERT_EQ(parse({"--version"}, options, message), parse_outcome::version);
  EXPECT_EQ(message.rfind("robot-simulator-headless ", 0), 0u);
}

// Every row of the table is read one way: a switch by its flag, a value by its
// reader or as a file name, so no option can be listed without being read.
TEST(HeadlessOptions, EveryRowOfTheTableIsReadOneWay) {
  run_options options;
  std::string message;
  ASSERT_EQ(parse({"--help"}, options, message), parse_outcome::help);
  for (const option_row& row : option_table()) {
    SCOPED_TRACE(row.name);
    const bool is_switch = *row.value_name == '\0';
    const int readers = (row.flag != nullptr) + (row.take != nullptr) + (row.path != nullptr);
    EXPECT_EQ(readers, row.scope == option_scope::info ? 0 : 1);
    EXPECT_EQ(is_switch, row.take == nullptr && row.path == nullptr);
    EXPECT_EQ(is_switch, row.completion == value_completion::none);
    EXPECT_EQ(row.path != nullptr, row.completion == value_completion::files ||
                                       row.completion == value_completion::folders);
    EXPECT_TRUE(row.path != nullptr || !row.output);
    EXPECT_NE(message.find(std::string("--") + row.name), std::string::npos);
  }
}

TEST(HeadlessOptions, CompletionTakesThePlaceOfItsMarkerLineOnly) {
  const std::string filled =
      fill_completion_template("head # @M@ here\n@M@\ntail\n", "@M@", option_table());
  EXPECT_EQ(filled.rfind("head # @M@ here\n# Made from", 0), 0u) << filled;
  EXPECT_NE(filled.find("    --world)\n      _robosim_files '*.dat'\n"), std::string::npos);
  EXPECT_NE(filled.find("}\ntail\n"), std::string::npos);
  EXPECT_EQ(fill_completion_template("no marker @M@\n", "@M@", option_table()), "");
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
      {{"--trail"}, "give --png FILE, --gif FILE or --frames DIR"},
      {{"--pose", "1,2"}, "--pose: expected X,Y,HEADING (three numbers) or random, got '1,2'"},
      {{"--pose", "1,2,x"}, "--pose: expected X,Y,HEADING"},
      {{"--pose", "1,2,nan"}, "--pose: expected X,Y,HEADING"},
      {{"--target", "five,5"}, "--target: expected X,Y (two numbers) or random"},
      {{"--target", "5,5,5"}, "--target: expected X,Y"},
      {{"--target", ""}, "--target: expected X,Y"},
      {{"--frames", ""}, "--frames: the folder name is empty"},
      {{"--frames", "f", "--ticks", "1000000"}, "--frames: 100001 frames"},
      {{"--generate", "maze:4x4:1", "--save", "w.dat", "--target", "5,5"}, "does not go with it"},
      {{"--frame-every", "2"}, "needs --gif"},
      {{"--gif", "a.gif", "--frame-every", "0"}, "--frame-every"},
      {{"--gif", "a.gif", "--gif-speed", "0"}, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "0.0"}, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "."}, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "1.2.3"}, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "+2"}, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "inf"}, "--gif-speed"},
      {{"--gif", "a.gif", "--ticks", "1000000"}, "use --frame-every 11 or more"},
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

TEST(HeadlessOptions, FramesOfAnAnimation) {
  EXPECT_EQ(gif_frame_count(0, 10), 1u);
  EXPECT_EQ(gif_frame_count(6000, 10), 601u);
  EXPECT_EQ(gif_frame_count(6005, 10), 602u);  // and the last tick
  EXPECT_EQ(gif_frame_count(9, 10), 2u);
  EXPECT_EQ(gif_frame_count(kMaxTicks, 1), kMaxTicks + 1);
  // The step the refusal suggests is the smallest that fits.
  run_options options;
  std::string message;
  for (std::uint64_t ticks : {100000ULL, 199998ULL, 199999ULL, 1000000000000ULL}) {
    ASSERT_EQ(parse({"--gif", "a.gif", "--ticks", QString::number(ticks)}, options, message),
              ticks <= 999990 ? parse_outcome::run : parse_outcome::error)
        << ticks;
    ASSERT_EQ(parse({"--gif", "a.gif", "--ticks", QString::number(ticks), "--frame-every", "1"},
                    options, message),
              parse_outcome::error);
    const auto at = message.find("--frame-every ");
    ASSERT_NE(at, std::string::npos) << message;
    const std::uint64_t step = std::stoull(message.substr(at + 14));
    EXPECT_LE(gif_frame_count(ticks, step), kMaxGifFrames) << ticks;
    EXPECT_GT(gif_frame_count(ticks, step - 1), kMaxGifFrames) << ticks;
  }
  // Exactly 100,000 frames fit: ticks 0 to 99,999.
  EXPECT_EQ(parse({"--gif", "a.gif", "--ticks", "99999", "--frame-every", "1"}, options, message),
            parse_outcome::run);
  EXPECT_EQ(parse({"--gif", "a.gif", "--ticks", "100000", "--frame-every", "1"}, options, message),
            parse_outcome::error);
  double speed = 0;
  EXPECT_TRUE(parse_positive("0.001", kMaxGifSpeed, speed));
  EXPECT_EQ(speed, 0.001);
  EXPECT_TRUE(parse_positive("1000000", kMaxGifSpeed, speed));
  EXPECT_TRUE(parse_positive("3.", kMaxGifSpeed, speed));
  EXPECT_EQ(speed, 3.0);
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
