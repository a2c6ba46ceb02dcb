// Animations from the program: the GIF decoded with giflib and compared with the
// PNG pictures of the same ticks, the trail, memory, bad input and the
// all-or-nothing outputs.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <string>

#include "../draw/gif_decode.h"
#include "draw/gif_writer.h"
#include "draw/trail_draw.h"
#include "run_program.h"
#include "wait_until.h"

namespace {

class Gif : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const QString& name) const { return dir_.filePath(name); }

  program_result run(const QStringList& args) {
    program_result r = run_program(args, dir_.path());
    EXPECT_FALSE(r.crashed);
    return r;
  }

  decoded_gif read_gif(const QString& name) const {
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return decode_gif(file.readAll().toStdString());
  }

  QStringList entries() const {
    return QDir(dir_.path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name);
  }

  void write(const QString& name, const QByteArray& bytes) const {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
  }

  QByteArray read(const QString& name) const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
};

// The GIF picture after frame `index`, as a viewer shows it.
std::vector<std::uint32_t> picture_after(const decoded_gif& gif, std::size_t index) {
  std::vector<std::uint32_t> shown;
  for_each_picture(gif, [&](std::size_t i, const std::vector<std::uint32_t>& picture) {
    if (i == index) shown = picture;
  });
  return shown;
}

// Pixels that differ from the PNG; tolerance per channel.
int differing_pixels(const std::vector<std::uint32_t>& picture, const QImage& png,
                     int tolerance = 0) {
  if (picture.size() != static_cast<std::size_t>(png.width()) * png.height()) return -1;
  int differing = 0;
  for (int y = 0; y < png.height(); ++y) {
    for (int x = 0; x < png.width(); ++x) {
      const QRgb want = png.pixel(x, y);
      const std::uint32_t have = picture[static_cast<std::size_t>(y) * png.width() + x];
      const int dr = std::abs(qRed(want) - int((have >> 16) & 0xFF));
      const int dg = std::abs(qGreen(want) - int((have >> 8) & 0xFF));
      const int db = std::abs(qBlue(want) - int(have & 0xFF));
      if (std::max({dr, dg, db}) > tolerance) ++differing;
    }
  }
  return differing;
}

int count_colour(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == colour;
  return n;
}

const QRgb kTrailRgb =
    qRgb(red_of(kTrailColour), green_of(kTrailColour), blue_of(kTrailColour)) & 0xFFFFFF;

// ---------------------------------------------------------------- the film

TEST_F(Gif, FramesSizeDelaysAndPalette) {
  // 95 ticks, a frame every 10: ticks 0, 10, ..., 90 and the last, 95.
  const program_result r =
      run({"--seed", "5", "--ticks", "95", "--size", "160x120", "--gif", "a.gif", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err.toStdString();
  const decoded_gif gif = read_gif("a.gif");
  ASSERT_TRUE(gif.ok) << gif.error;
  EXPECT_EQ(gif.version, "GIF89a");
  EXPECT_EQ(gif.width, 160);
  EXPECT_EQ(gif.height, 120);
  EXPECT_TRUE(gif.loops_forever);
  ASSERT_EQ(gif.frames.size(), 11u);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(gif.frames[i].delay_cs, 10) << i;  // 100 ms
  EXPECT_EQ(gif.frames[9].delay_cs, 5);                                            // ticks 90 to 95
  EXPECT_EQ(gif.frames[10].delay_cs, 10);  // the last: one frame interval
  const gif_palette palette;
  ASSERT_EQ(gif.palette.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(gif.palette[i], palette.colour(i)) << i;
  for (const decoded_frame& f : gif.frames) {
    EXPECT_FALSE(f.local_palette);
    EXPECT_LE(f.left + f.width, 160);
    EXPECT_LE(f.top + f.height, 120);
  }
  EXPECT_EQ(gif.frames[0].width * gif.frames[0].height, 160 * 120);
}

TEST_F(Gif, DelaysFollowThePeriodAndTheSpeedWithoutDrift) {
  // 15 ms ticks played twice as fast: 7.5 ms a frame, GIF's unit is 10 ms.
  const program_result r =
      run({"--seed", "5", "--ticks", "40", "--period-ms", "15", "--size", "40x30", "--gif", "a.gif",
           "--frame-every", "1", "--gif-speed", "2"});
  ASSERT_EQ(r.exit_code, 0) << r.err.toStdString();
  const decoded_gif gif = read_gif("a.gif");
  ASSERT_TRUE(gif.ok) << gif.error;
  ASSERT_EQ(gif.frames.size(), 41u);
  int total = 0;
  for (std::size_t i = 0; i < gif.frames.size(); ++i) {
    EXPECT_TRUE(gif.frames[i].delay_cs == 0 || gif.frames[i].delay_cs == 1) << i;
    total += gif.frames[i].delay_cs;
  }
  EXPECT_EQ(total, 31);  // 41 frames of 7.5 ms: 307.5 ms, rounded to 310
  // And slowed down: 10 ticks of 10 ms, 4 times slower, 400 ms a frame.
  ASSERT_EQ(run({"--seed", "5", "--ticks", "20", "--size", "40x30", "--gif", "b.gif", "--gif-speed",
                 "0.25"})
                .exit_code,
            0);
  const decoded_gif slow = read_gif("b.gif");
  ASSERT_EQ(slow.frames.size(), 3u);
  for (const decoded_frame& f : slow.frames) EXPECT_EQ(f.delay_cs, 40);
}

TEST_F(Gif, FirstAndLastFramesEqualThePicturesOfTheirTicks) {
  const QStringList common = {
      "--seed", "21",      "--world",  ROBOSIM_SOURCE_DIR "/worlds/maze.dat",
      "--size", "320x240", "--vision", "--trail"};
  ASSERT_EQ(run(common + QStringList{"--ticks", "0", "--png", "first.png"}).exit_code, 0);
  const program_result r =
      run(common + QStringList{"--ticks", "777", "--png", "last.png", "--gif", "a.gif"});
  ASSERT_EQ(r.exit_code, 0) << r.err.toStdString();
  const decoded_gif gif = read_gif("a.gif");
  ASSERT_TRUE(gif.ok) << gif.error;
  ASSERT_EQ(gif.frames.size(), 79u);
  const QImage first(path("first.png"));
  const QImage last(path("last.png"));
  ASSERT_FALSE(first.isNull() || last.isNull());
  EXPECT_EQ(differing_pixels(picture_after(gif, 0), first), 0);
  EXPECT_EQ(differing_pixels(picture_after(gif, gif.frames.size() - 1), last), 0);
  EXPECT_NE(differing_pixels(picture_after(gif, 0), last), 0) << "the robot moved";
}

TEST_F(Gif, LatticeAndTextLevelsAreQuantisedWithinTheirBounds) {
  const program_result r =
      run({"--seed", "8", "--ticks", "300", "--size", "320x240", "--grad", "--stats", "--png",
           "last.png", "--gif", "a.gif", "--frame-every", "100"});
  ASSERT_EQ(r.exit_code, 0) << r.err.toStdString();
  const decoded_gif gif = read_gif("a.gif");
  ASSERT_TRUE(gif.ok) << gif.error;
  const QImage last(path("last.png"));
  const auto shown = picture_after(gif, gif.frames.size() - 1);
  EXPECT_EQ(differing_pixels(shown, last, 8), 0);
  // Outside the statistics line only the lattice is quantised: at most 1 off.
  const QImage below = last.copy(0, 30, 320, 210);
  std::vector<std::uint32_t> shown_below(shown.begin() + 30 * 320, shown.end());
  EXPECT_EQ(differing_pixels(shown_below, below, 1), 0);
  EXPECT_GT(differing_pixels(shown_below, below, 0), 0) << "some levels are not kept";
}

TEST_F(Gif, SameSeedSameFilmAndTheSimulationIsUnchanged) {
  const QStringList args = {"--seed", "3", "--ticks", "500", "--trace", "t.csv", "--json"};
  const QStringList film = {"--gif", "a.gif", "--size", "200x150", "--trail", "--grad"};
  ASSERT_EQ(run(args).exit_code, 0);
  const QByteArray trace_without = read("t.csv");
  ASSERT_EQ(run(args + film).exit_code, 0);
  EXPECT_EQ(read("t.csv"), trace_without);
  const QByteArray first_film = read("a.gif");
  ASSERT_EQ(run(args + film).exit_code, 0);
  EXPECT_EQ(read("a.gif"), first_film);
  EXPECT_FALSE(first_film.isEmpty());
}

TEST_F(Gif, EscEndsTheFilmAtItsTick) {
  write("keys.txt", "37 down esc\n");
  const program_result r = run({"--seed", "3", "--ticks", "500", "--size", "80x60", "--keys",
                                "keys.txt", "--gif", "a.gif", "--png", "last.png"});
  ASSERT_EQ(r.exit_code, 0) << r.err.toStdString();
  const decoded_gif gif = read_gif("a.gif");
  ASSERT_EQ(gif.frames.size(), 5u);  // 0, 10, 20, 30, 37
  EXPECT_EQ(gif.frames[3].delay_cs, 7);
  EXPECT_EQ(differing_pixels(picture_after(gif, 4), QImage(path("last.png"))), 0);
}

// ---------------------------------------------------------------- the trail

TEST_F(Gif, TrailFollowsTheRobotInThePictureAndTheFrames) {
  // Straight ahead from (5, 5) along +x in manual mode: 0.03 a tick.
  write("open.dat",
        "2.000000\n5.000000\n0.000000\n4\n"
        "9.950000 0.000000 0.050000 10.000000\n0.000000 0.000000 0.050000 10.000000\n"
        "0.000000 9.950000 10.000000 0.050000\n0.000000 0.000000 10.000000 0.050000\n");
  write("keys.txt", "0 down W\n");
  const QStringList drive = {"--seed", "1",        "--world", "open.dat", "--manual",
                             "--keys", "keys.txt", "--ticks", "150"};
  ASSERT_EQ(run(drive + QStringList{"--png", "plain.png"}).exit_code, 0);
  ASSERT_EQ(run(drive + QStringList{"--png", "trail.png", "--trail", "--gif", "a.gif"}).exit_code,
            0);
  const QImage plain(path("plain.png"));
  const QImage trail(path("trail.png"));
  EXPECT_EQ(count_colour(plain, kTrailRgb), 0);
  // From x = 2 to about x = 6.5 on the row of y = 5 (pixel row 240), behind the
  // robot, whose body covers its own last stretch.
  for (int x = 130; x < 380; x += 10) {
    EXPECT_EQ(trail.pixel(x, 240) & 0xFFFFFF, kTrailRgb) << x;
  }
  EXPECT_NE(trail.pixel(100, 240) & 0xFFFFFF, kTrailRgb) << "no trail before the start";

  // Every frame shows the trail so far: it grows.
  const decoded_gif gif = read_gif("a.gif");
  ASSERT_TRUE(gif.ok) << gif.error;
  int previous = -1;
  for_each_picture(gif, [&](std::size_t i, const std::vector<std::uint32_t>& picture) {
    int count = 0;
    for (std::uint32_t p : picture) count += p == kTrailRgb;
    if (i >= 2) {
      EXPECT_GT(count, previous) << i;
    }
    previous = count;
  });
}

// ---------------------------------------------------------------- memory

TEST_F(Gif, MemoryDoesNotGrowWithTheFrames) {
  auto peak_kib = [this](const QString& ticks) {
    const program_result r = run({"--seed", "2", "--ticks", ticks, "--frame-every", "1", "--size",
                                  "160x120", "--gif", "a.gif", "--json"});
    EXPECT_EQ(r.exit_code, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out).object().value("peak_memory_kib").toInteger();
  };
  const qint64 short_film = peak_kib("60");
  const qint64 long_film = peak_kib("6000");
  ASSERT_GT(short_film, 0);
  EXPECT_LT(long_film - short_film, 5 * 1024) << short_film << " KiB, then " << long_film;
  EXPECT_EQ(read_gif("a.gif").frames.size(), 6001u);
}

// ---------------------------------------------------------------- bad input

TEST_F(Gif, BadInputIsRefusedAndNothingIsWritten) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder"));
  struct bad_case {
    QStringList args;
    int exit_code;
    const char* message;
  };
  const bad_case cases[] = {
      {{"--gif", "a.gif", "--frame-every", "0"}, 2, "--frame-every"},
      {{"--gif", "a.gif", "--frame-every", "-3"}, 2, "--frame-every"},
      {{"--gif", "a.gif", "--gif-speed", "0"}, 2, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "-2"}, 2, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "nan"}, 2, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "1e3"}, 2, "--gif-speed"},
      {{"--gif", "a.gif", "--gif-speed", "2000000"}, 2, "--gif-speed"},
      {{"--gif", "a.gif", "--size", "0x10"}, 2, "at least 1x1"},
      {{"--gif", "a.gif", "--size", "20000x10"}, 2, "too large"},
      {{"--gif", "a.gif", "--ticks", "1000000", "--frame-every", "1"},
       2,
       "use --frame-every 11 or more"},
      {{"--frame-every", "5"}, 2, "needs --gif"},
      {{"--gif-speed", "2"}, 2, "needs --gif"},
      {{"--trail"}, 2, "give --png FILE, --gif FILE or --frames DIR"},
      {{"--gif", "same", "--png", "./same"}, 2, "name the same file"},
      {{"--gif", "a.gif", "--trace", "a.gif"}, 2, "name the same file"},
      {{"--gif", ""}, 2, "empty"},
      {{"--gif", "folder"}, 1, "it is a folder"},
      {{"--gif", "missing/a.gif"}, 1, "No such file or directory"},
  };
  for (const bad_case& c : cases) {
    const program_result r = run(QStringList{"--seed", "1", "--ticks", "20"} + c.args);
    const std::string what = c.args.join(' ').toStdString();
    EXPECT_EQ(r.exit_code, c.exit_code) << what;
    EXPECT_NE(r.err.indexOf(c.message), -1) << what << " -> " << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << what;
    EXPECT_EQ(entries(), QStringList{"folder"}) << what;
  }
  // The limit itself (100,000 frames) is accepted: HeadlessOptions.FramesOfAnAnimation.
}

TEST_F(Gif, UnwritablePlaceIsReportedBeforeTheRun) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  ASSERT_TRUE(QDir(dir_.path()).mkdir("locked"));
  QFile::setPermissions(path("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  const program_result r = run({"--ticks", "1000000", "--gif", "locked/a.gif"});
  QFile::setPermissions(path("locked"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.indexOf("Permission denied"), -1) << r.err.toStdString();
}

// ---------------------------------------------------------------- all or nothing

TEST_F(Gif, AFailingFilmLeavesEveryOldFileAsItWas) {
  write("p.png", "old picture");
  write("t.csv", "old trace");
  write("w.dat", "old world");
  // /dev/full takes the writes and fails them: the film cannot be written.
  const program_result r = run({"--seed", "1", "--ticks", "3000", "--gif", "/dev/full", "--png",
                                "p.png", "--trace", "t.csv", "--save", "w.dat"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.indexOf("No space left on device"), -1) << r.err.toStdString();
  EXPECT_EQ(read("p.png"), "old picture");
  EXPECT_EQ(read("t.csv"), "old trace");
  EXPECT_EQ(read("w.dat"), "old world");
  EXPECT_EQ(entries(), (QStringList{"p.png", "t.csv", "w.dat"})) << "no temporary file left";
}

TEST_F(Gif, AFailingOtherOutputLeavesTheOldFilm) {
  write("a.gif", "old film");
  // The trace goes to a full device, the film to a file: neither is replaced.
  const program_result r =
      run({"--seed", "1", "--ticks", "200", "--gif", "a.gif", "--trace", "/dev/full"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(read("a.gif"), "old film");
  EXPECT_EQ(entries(), QStringList{"a.gif"});
}

TEST_F(Gif, AnInterruptedRunWritesNoFilm) {
  write("a.gif", "old film");
  QProcess process;
  process.setProgram(HEADLESS_PROGRAM);
  process.setArguments({"--ticks", "100000000", "--frame-every", "10000", "--gif", "a.gif"});
  process.setWorkingDirectory(dir_.path());
  process.start();
  ASSERT_TRUE(process.waitForStarted(10000));
  // Sent once the film is under way: its temporary file holds the first frame.
  ASSERT_TRUE(wait_until([this] {
    for (const QFileInfo& entry : QDir(dir_.path()).entryInfoList(QDir::Files | QDir::Hidden)) {
      if (entry.fileName() != "a.gif" && entry.size() > 0) return true;
    }
    return false;
  }));
  ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
  ASSERT_TRUE(process.waitForFinished(30000));
  EXPECT_EQ(process.exitCode(), 128 + SIGTERM);
  EXPECT_EQ(read("a.gif"), "old film");
  EXPECT_EQ(entries(), QStringList{"a.gif"});
}

}  // namespace
