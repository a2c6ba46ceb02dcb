// The program run as a user runs it: arguments, exit codes, standard streams and
// the files it leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "headless/options.h"
#include "headless/runner.h"
#include "run_program.h"
#include "wait_until.h"

namespace {

QByteArray read_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

void write_file(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

QStringList dir_entries(const QString& path) {
  auto list = QDir(path).entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  return list;
}

QJsonObject parse_json(const QByteArray& text) {
  QJsonParseError error;
  const auto doc = QJsonDocument::fromJson(text, &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
  return doc.object();
}

// The summary without the fields that measure the machine rather than the run.
QJsonObject without_measurements(QJsonObject o) {
  o.remove("wall_seconds");
  o.remove("ticks_per_wall_second");
  o.remove("peak_memory_kib");
  return o;
}

// Trace rows as lists of fields, header first.
QList<QByteArrayList> csv_rows(const QByteArray& text) {
  QList<QByteArrayList> rows;
  for (const QByteArray& line : text.split('\n')) {
    if (!line.isEmpty()) rows.append(line.split(','));
  }
  return rows;
}

// A world with the robot at (5, 5) facing +x and only the four boundary walls.
const QByteArray kOpenWorld =
    "5.000000\n5.000000\n0.000000\n4\n"
    "9.950000 0.000000 0.050000 10.000000\n"
    "0.000000 0.000000 0.050000 10.000000\n"
    "0.000000 9.950000 10.000000 0.050000\n"
    "0.000000 0.000000 10.000000 0.050000\n";

class Program : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString path(const QString& name) const { return dir_.filePath(name); }
  program_result run(const QStringList& args) { return run_program(args, dir_.path()); }
  QTemporaryDir dir_;
};

// ---------------------------------------------------------------- reproducibility

TEST_F(Program, SameSeedGivesByteIdenticalOutputs) {
  const QStringList args = {"--seed",  "12345",  "--ticks", "1500",   "--trace",
                            "t.csv",   "--png",  "p.png",   "--grad", "--vision",
                            "--stats", "--save", "w.dat",   "--json"};
  QTemporaryDir other;
  ASSERT_TRUE(other.isValid());
  const auto first = run_program(args, dir_.path());
  const auto second = run_program(args, other.path());
  ASSERT_EQ(first.exit_code, 0) << first.err.toStdString();
  ASSERT_EQ(second.exit_code, 0) << second.err.toStdString();

  for (const char* name : {"t.csv", "p.png", "w.dat"}) {
    const QByteArray a = read_file(path(name));
    ASSERT_FALSE(a.isEmpty()) << name;
    EXPECT_TRUE(a == read_file(other.filePath(name))) << name << " differs between the runs";
  }
  EXPECT_EQ(without_measurements(parse_json(first.out)),
            without_measurements(parse_json(second.out)));
  EXPECT_EQ(parse_json(first.out)["seed"].toInt(), 12345);

  // And the seed matters: another one drives another way.
  QTemporaryDir third;
  QStringList other_seed = args;
  other_seed[1] = "54321";
  ASSERT_EQ(run_program(other_seed, third.path()).exit_code, 0);
  EXPECT_FALSE(read_file(path("t.csv")) == read_file(third.filePath("t.csv")));
}

TEST_F(Program, PrintedSeedReproducesARunWithoutOne) {
  const auto first = run({"--ticks", "800", "--trace", "a.csv", "--json"});
  ASSERT_EQ(first.exit_code, 0) << first.err.toStdString();
  const QJsonObject summary = parse_json(first.out);
  ASSERT_TRUE(summary.contains("seed"));
  const QString seed = QString::number(static_cast<qint64>(summary["seed"].toDouble()));

  const auto second = run({"--ticks", "800", "--trace", "b.csv", "--json", "--seed", seed});
  ASSERT_EQ(second.exit_code, 0);
  EXPECT_TRUE(read_file(path("a.csv")) == read_file(path("b.csv")));
  EXPECT_EQ(without_measurements(summary), without_measurements(parse_json(second.out)));

  // The text summary prints it too.
  const auto text = run({"--ticks", "1"});
  EXPECT_TRUE(text.out.startsWith("seed: ")) << text.out.toStdString();
}

TEST_F(Program, DrawingOptionsDoNotChangeTheSimulation) {
  ASSERT_EQ(run({"--seed", "99", "--ticks", "1000", "--trace", "plain.csv"}).exit_code, 0);
  ASSERT_EQ(run({"--seed", "99", "--ticks", "1000", "--trace", "drawn.csv", "--png", "p.png",
                 "--grad", "--vision", "--stats", "--size", "200x150"})
                .exit_code,
            0);
  EXPECT_TRUE(read_file(path("plain.csv")) == read_file(path("drawn.csv")));
}

// ---------------------------------------------------------------- trace

TEST_F(Program, TraceColumnsAndRows) {
  const auto result = run({"--seed", "5", "--ticks", "100", "--period-ms", "20", "--trace", "t.csv",
                           "--trace-every", "7", "--json"});
  ASSERT_EQ(result.exit_code, 0) << result.err.toStdString();
  const auto rows = csv_rows(read_file(path("t.csv")));
  ASSERT_FALSE(rows.isEmpty());
  EXPECT_EQ(rows[0].join(','),
            "tick,time,x,y,heading,speed,turn,target_x,target_y,impacts,waypoints,"
            "current_waypoint,planning_runs");
  EXPECT_EQ(rows[0].join(','), QByteArray(kTraceHeader));

  // Tick 0 (after start-up), every 7th tick, and the last tick.
  QList<int> expected_ticks;
  for (int t = 0; t <= 100; t += 7) expected_ticks.append(t);
  expected_ticks.append(100);
  ASSERT_EQ(rows.size(), expected_ticks.size() + 1);

  qulonglong previous_runs = 0;
  for (int r = 1; r < rows.size(); ++r) {
    const QByteArrayList& row = rows[r];
    ASSERT_EQ(row.size(), 13) << "row " << r;
    bool ok = false;
    EXPECT_EQ(row[0].toInt(&ok), expected_ticks[r - 1]);
    EXPECT_TRUE(ok);
    // Simulated time: 20 ms a tick, exactly.
    EXPECT_EQ(row[1], QByteArray::number(expected_ticks[r - 1] * 0.02, 'f', 3));
    for (int c = 2; c <= 8; ++c) {
      const double value = row[c].toDouble(&ok);
      EXPECT_TRUE(ok && std::isfinite(value)) << "row " << r << " column " << c;
    }
    EXPECT_GE(row[2].toDouble(), 0.0);
    EXPECT_LE(row[2].toDouble(), 10.0);
    EXPECT_GE(row[3].toDouble(), 0.0);
    EXPECT_LE(row[3].toDouble(), 10.0);
    for (int c = 9; c <= 12; ++c) {
      row[c].toLongLong(&ok);
      EXPECT_TRUE(ok) << "row " << r << " column " << c << ": " << row[c].toStdString();
    }
    const qulonglong runs = row[12].toULongLong();
    EXPECT_GE(runs, previous_runs) << "planning runs only count up";
    previous_runs = runs;
  }

  // The last row and the summary describe the same moment.
  const QJsonObject summary = parse_json(result.out);
  const QJsonObject pose = summary["final_pose"].toObject();
  EXPECT_DOUBLE_EQ(rows.last()[2].toDouble(), pose["x"].toDouble());
  EXPECT_DOUBLE_EQ(rows.last()[3].toDouble(), pose["y"].toDouble());
  EXPECT_EQ(rows.last()[12].toInt(), summary["planning_runs"].toInt());
  EXPECT_EQ(summary["simulated_seconds"].toDouble(), 2.0);
}

// ---------------------------------------------------------------- picture

int count_pixels(const QImage& image, QRgb colour, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++count;
    }
  }
  return count;
}

TEST_F(Program, PictureSizeAndColours) {
  ASSERT_EQ(run({"--seed", "3", "--ticks", "50", "--png", "default.png"}).exit_code, 0);
  const QImage image(path("default.png"));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(640, 480));

  const QRgb white = qRgb(255, 255, 255);
  const QRgb wall = qRgb(0, 128, 200);
  const QRgb green = qRgb(0, 255, 0);
  // The boundary walls frame the picture in the wall colour...
  EXPECT_EQ(image.pixel(1, 240) & 0xFFFFFF, wall & 0xFFFFFF);
  EXPECT_EQ(image.pixel(638, 240) & 0xFFFFFF, wall & 0xFFFFFF);
  EXPECT_EQ(image.pixel(320, 1) & 0xFFFFFF, wall & 0xFFFFFF);
  EXPECT_EQ(image.pixel(320, 478) & 0xFFFFFF, wall & 0xFFFFFF);
  // ...around a mostly white floor, with the green target and robot on it.
  EXPECT_GT(count_pixels(image, white, image.rect()), 640 * 480 * 8 / 10);
  EXPECT_GT(count_pixels(image, green, image.rect()), 20);

  ASSERT_EQ(
      run({"--seed", "3", "--ticks", "50", "--png", "small.png", "--size", "320x200"}).exit_code,
      0);
  EXPECT_EQ(QImage(path("small.png")).size(), QSize(320, 200));
  ASSERT_EQ(run({"--seed", "3", "--ticks", "0", "--png", "tiny.png", "--size", "1x1"}).exit_code,
            0);
  EXPECT_EQ(QImage(path("tiny.png")).size(), QSize(1, 1));
}

TEST_F(Program, FieldLatticeFillsThePicture) {
  ASSERT_EQ(run({"--seed", "3", "--ticks", "50", "--png", "grad.png", "--grad"}).exit_code, 0);
  const QImage image(path("grad.png"));
  ASSERT_FALSE(image.isNull());
  // Lattice cells are pure red or pure blue of some level (or black); the white
  // floor is gone.
  int lattice = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c(image.pixel(x, y));
      if ((c.green() == 0) && (c.red() == 0 || c.blue() == 0)) ++lattice;
    }
  }
  EXPECT_GT(lattice, image.width() * image.height() / 3);
  EXPECT_LT(count_pixels(image, qRgb(255, 255, 255), image.rect()),
            image.width() * image.height() / 20);
}

TEST_F(Program, StatisticsLineIsDrawnTopLeft) {
  ASSERT_EQ(run({"--seed", "8", "--ticks", "300", "--png", "plain.png"}).exit_code, 0);
  ASSERT_EQ(run({"--seed", "8", "--ticks", "300", "--png", "stats.png", "--stats"}).exit_code, 0);
  const QImage plain(path("plain.png"));
  const QImage stats(path("stats.png"));
  ASSERT_EQ(plain.size(), stats.size());
  QRect changed;
  for (int y = 0; y < plain.height(); ++y) {
    for (int x = 0; x < plain.width(); ++x) {
      if (plain.pixel(x, y) != stats.pixel(x, y)) changed |= QRect(x, y, 1, 1);
    }
  }
  ASSERT_FALSE(changed.isEmpty()) << "the statistics line is missing";
  // One line of text starting at (1, 1), black on white.
  EXPECT_EQ(changed.topLeft(), QPoint(1, 1));
  EXPECT_LT(changed.height(), 40);
  EXPECT_GT(changed.width(), 200);
  int dark = 0;
  for (int y = changed.top(); y <= changed.bottom(); ++y) {
    for (int x = changed.left(); x <= changed.right(); ++x) {
      if (qGray(stats.pixel(x, y)) < 100) ++dark;
    }
  }
  EXPECT_GT(dark, 100);
}

TEST_F(Program, PicturesNeedNoWindowSystem) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("XDG_RUNTIME_DIR");
  env.insert("QT_QPA_PLATFORM", "xcb");  // would fail without a display if it were used
  const auto result =
      run_program({"--seed", "1", "--ticks", "10", "--png", "p.png", "--stats"}, dir_.path(), env);
  EXPECT_EQ(result.exit_code, 0) << result.err.toStdString();
  EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
  EXPECT_FALSE(QImage(path("p.png")).isNull());
}

// ---------------------------------------------------------------- summary

TEST_F(Program, TextSummaryAndQuietStandardError) {
  const auto result = run({"--seed", "2", "--ticks", "250", "--period-ms", "20"});
  ASSERT_EQ(result.exit_code, 0);
  const QString text = QString::fromUtf8(result.out);
  for (const char* line : {"seed: 2\n", "ticks: 250\n", "simulated seconds: 5.000\n",
                           "wall seconds: ", "ticks per wall second: ", "targets reached: ",
                           "planning runs: ", "planning failures: ", "walls: 4\n",
                           "impacts: ", "waypoints: ", "final pose: x ", "peak memory: "}) {
    EXPECT_TRUE(text.contains(line)) << line;
  }
  // No progress line when standard error is not a terminal, and nothing else either.
  EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
}

TEST_F(Program, TargetsReachedAreCounted) {
  // A minute of automatic driving in the open default world reaches targets.
  const auto result = run({"--seed", "11", "--ticks", "6000", "--json"});
  ASSERT_EQ(result.exit_code, 0);
  const QJsonObject summary = parse_json(result.out);
  EXPECT_GT(summary["targets_reached"].toInt(), 0);
  // Every target reached starts a planning run, on top of the one at start-up.
  EXPECT_GE(summary["planning_runs"].toInt(), summary["targets_reached"].toInt() + 1);

  // In manual mode with no keys the robot never gets anywhere (the target starts
  // at the centre, away from the robot).
  QByteArray corner = kOpenWorld;
  corner.replace(0, 18, "2.000000\n2.000000\n");
  write_file(path("corner.dat"), corner);
  const auto still = run({"--manual", "--world", "corner.dat", "--ticks", "2000", "--json"});
  ASSERT_EQ(still.exit_code, 0);
  EXPECT_EQ(parse_json(still.out)["targets_reached"].toInt(), 0);
}

// ---------------------------------------------------------------- run metrics

TEST_F(Program, MetricsAreInTheSummaryAndTheEventsFile) {
  const auto result = run({"--seed", "11", "--ticks", "6000", "--json", "--events", "ev.csv"});
  ASSERT_EQ(result.exit_code, 0) << result.err.toStdString();
  const QJsonObject summary = parse_json(result.out);
  const double distance = summary["distance_travelled"].toDouble();
  EXPECT_GT(distance, 1.0);
  EXPECT_GE(summary["contacts"].toInt(-1), 0);
  EXPECT_TRUE(summary["least_push_distance"].isDouble());
  EXPECT_GE(summary["stuck_spells"].toInt(-1), 0);
  EXPECT_NEAR(summary["targets_per_minute"].toDouble(), summary["targets_reached"].toDouble(),
              1e-6);  // one simulated minute

  const auto rows = csv_rows(read_file(path("ev.csv")));
  ASSERT_FALSE(rows.isEmpty());
  EXPECT_EQ(rows[0].join(','), kEventsHeader);
  int targets = 0;
  int spells = 0;
  std::uint64_t ticks_summed = 0;
  std::uint64_t last_target_tick = 0;
  double distance_summed = 0.0;
  for (qsizetype r = 1; r < rows.size(); ++r) {
    ASSERT_EQ(rows[r].size(), rows[0].size()) << rows[r].join(',').toStdString();
    if (rows[r][0] == "target") {
      ++targets;
      ticks_summed += rows[r][3].toULongLong();
      distance_summed += rows[r][4].toDouble();
      last_target_tick = rows[r][1].toULongLong();
      EXPECT_GT(rows[r][5].toDouble(), 0.0);
    } else {
      ASSERT_EQ(rows[r][0], "stuck");
      ++spells;
      EXPECT_GE(rows[r][9].toDouble(), 5.0);
    }
  }
  EXPECT_EQ(targets, summary["targets_reached"].toInt());
  EXPECT_GT(targets, 0);
  EXPECT_EQ(spells, summary["stuck_spells"].toInt());
  // Ticks and distances since the previous target add up along the run.
  EXPECT_EQ(ticks_summed, last_target_tick);
  EXPECT_LE(distance_summed, distance + 1e-4);

  // The text summary carries the same figures.
  const auto text = run({"--seed", "11", "--ticks", "6000"});
  for (const char* line : {"distance travelled: ", "contacts: ", "least push-back distance: ",
                           "stuck spells: ", "targets per simulated minute: "}) {
    EXPECT_TRUE(text.out.contains(line)) << line;
  }
}

TEST_F(Program, ShortfallsExitWithThreeAfterWritingEverything) {
  // In manual mode with no keys the robot stands still: no target, one long spell.
  QByteArray corner = kOpenWorld;
  corner.replace(0, 18, "2.000000\n2.000000\n");
  write_file(path("corner.dat"), corner);
  const QStringList still = {"--manual", "--world", "corner.dat", "--ticks", "2000", "--json"};

  auto short_of_targets = run(still + QStringList{"--require-targets", "1", "--trace", "t.csv"});
  EXPECT_EQ(short_of_targets.exit_code, 3);
  EXPECT_EQ(short_of_targets.err, "robot-simulator-headless: 0 targets reached, 1 required\n");
  EXPECT_EQ(parse_json(short_of_targets.out)["stuck_seconds"].toDouble(), 20.0);
  EXPECT_EQ(csv_rows(read_file(path("t.csv"))).size(), 2002);

  const auto too_stuck = run(still + QStringList{"--max-stuck-seconds", "19.5"});
  EXPECT_EQ(too_stuck.exit_code, 3);
  EXPECT_EQ(too_stuck.err,
            "robot-simulator-headless: stuck for 20.000 s in all, at most 19.5 s allowed\n");

  EXPECT_EQ(
      run(still + QStringList{"--require-targets", "0", "--max-stuck-seconds", "20"}).exit_code, 0);
  // An automatic run that meets both.
  const auto met = run(
      {"--seed", "11", "--ticks", "6000", "--require-targets", "3", "--max-stuck-seconds", "1000"});
  EXPECT_EQ(met.exit_code, 0) << met.err.toStdString();
}

TEST_F(Program, GainsFromTheCommandLineSteerTheRun) {
  // The maze, so that impacts (and with them scale1) shape the field.
  const QStringList base = {
      "--seed", "5", "--ticks", "3000", "--json", "--world", ROBOSIM_SOURCE_DIR "/worlds/maze.dat"};
  const auto plain = run(base);
  ASSERT_EQ(plain.exit_code, 0);
  // The start-up gains given explicitly change nothing...
  const auto same =
      run(base + QStringList{"--scale1", "0.11", "--scale2", "0.86", "--scale3", "0.193"});
  EXPECT_EQ(without_measurements(parse_json(same.out)),
            without_measurements(parse_json(plain.out)));
  // ...other gains, without bounds, change the run after the world is loaded.
  for (const char* option : {"--scale1", "--scale2", "--scale3"}) {
    const auto other = run(base + QStringList{option, "-2.5"});
    ASSERT_EQ(other.exit_code, 0) << option;
    EXPECT_NE(without_measurements(parse_json(other.out)),
              without_measurements(parse_json(plain.out)))
        << option;
  }
}

TEST_F(Program, MemoryDoesNotGrowWithTicks) {
  const auto short_run = run({"--seed", "4", "--ticks", "20000", "--json"});
  const auto long_run = run({"--seed", "4", "--ticks", "300000", "--json"});
  ASSERT_EQ(short_run.exit_code, 0);
  ASSERT_EQ(long_run.exit_code, 0);
  const double small = parse_json(short_run.out)["peak_memory_kib"].toDouble();
  const double large = parse_json(long_run.out)["peak_memory_kib"].toDouble();
  ASSERT_GT(small, 0);
  EXPECT_LT(large - small, 1024.0)
      << "peak memory " << small << " KiB after 20000 ticks, " << large << " KiB after 300000";
}

// ---------------------------------------------------------------- key scripts and worlds

TEST_F(Program, KeyScriptDrivesInManualMode) {
  write_file(path("open.dat"), kOpenWorld);
  write_file(path("drive.keys"), "# forward for 50 ticks\n0 down W\n50 up W\n");
  const auto result = run({"--manual", "--world", "open.dat", "--keys", "drive.keys", "--ticks",
                           "100", "--trace", "t.csv"});
  ASSERT_EQ(result.exit_code, 0) << result.err.toStdString();
  const auto rows = csv_rows(read_file(path("t.csv")));
  ASSERT_EQ(rows.size(), 102);
  EXPECT_DOUBLE_EQ(rows[1][2].toDouble(), 5.0);
  EXPECT_EQ(rows[11][5], "0.030000");              // speed while W is held
  EXPECT_NEAR(rows[51][2].toDouble(), 6.5, 1e-5);  // 50 steps of 0.03 along +x
  EXPECT_NEAR(rows[51][3].toDouble(), 5.0, 1e-9);
  EXPECT_EQ(rows[61][5], "0.000000");
  EXPECT_EQ(rows[101][2], rows[51][2]) << "released, the robot stands";
}

TEST_F(Program, EscInAScriptEndsTheRun) {
  write_file(path("quit.keys"), "25 down esc\n");
  const auto result =
      run({"--keys", "quit.keys", "--ticks", "1000", "--trace", "t.csv", "--json", "--seed", "1"});
  ASSERT_EQ(result.exit_code, 0) << result.err.toStdString();
  const QJsonObject summary = parse_json(result.out);
  EXPECT_EQ(summary["ticks"].toInt(), 25);
  EXPECT_EQ(summary["ticks_requested"].toInt(), 1000);
  EXPECT_TRUE(summary["ended_by_escape"].toBool());
  const auto rows = csv_rows(read_file(path("t.csv")));
  EXPECT_EQ(rows.last()[0], "25");
}

TEST_F(Program, ArrowKeysRetuneTheTickPeriod) {
  write_file(path("slower.keys"), "0 down down\n0 up down\n10 down up\n10 down up\n");
  ASSERT_EQ(run({"--keys", "slower.keys", "--ticks", "12", "--trace", "t.csv"}).exit_code, 0);
  const auto rows = csv_rows(read_file(path("t.csv")));
  ASSERT_EQ(rows.size(), 14);
  // 11 ms a tick after Down; Up held and pressed again twice (each key-down runs
  // the held key's action) takes it to 9 ms for the last two ticks.
  EXPECT_EQ(rows[2][1], "0.011");
  EXPECT_EQ(rows[11][1], "0.110");
  EXPECT_EQ(rows[12][1], "0.119");
  EXPECT_EQ(rows[13][1], "0.128");
}

TEST_F(Program, KeysAfterTheLastTickShapeThePicture) {
  write_file(path("stats.keys"), "40 down space\n40 up space\n");
  ASSERT_EQ(
      run({"--seed", "6", "--ticks", "40", "--keys", "stats.keys", "--png", "keys.png"}).exit_code,
      0);
  ASSERT_EQ(run({"--seed", "6", "--ticks", "40", "--stats", "--png", "option.png"}).exit_code, 0);
  EXPECT_TRUE(read_file(path("keys.png")) == read_file(path("option.png")));

  write_file(path("late.keys"), "41 down space\n");
  const auto late = run({"--ticks", "40", "--keys", "late.keys"});
  EXPECT_EQ(late.exit_code, 0);
  EXPECT_TRUE(late.err.contains("1 key events fall after the last tick")) << late.err.toStdString();
}

TEST_F(Program, WorldIsLoadedAndSavedAsTheMenuDoes) {
  const QByteArray world =
      "2.000000\n3.000000\n0.500000\n5\n"
      "4.000000 4.000000 1.000000 2.000000\n"
      "9.950000 0.000000 0.050000 10.000000\n"
      "0.000000 0.000000 0.050000 10.000000\n"
      "0.000000 9.950000 10.000000 0.050000\n"
      "0.000000 0.000000 10.000000 0.050000\n";
  write_file(path("in.dat"), world);
  const auto first = run({"--world", "in.dat", "--ticks", "0", "--save", "once.dat", "--json"});
  ASSERT_EQ(first.exit_code, 0) << first.err.toStdString();
  const QJsonObject summary = parse_json(first.out);
  EXPECT_EQ(summary["walls"].toInt(), 5);
  EXPECT_EQ(summary["final_pose"].toObject()["x"].toDouble(), 2.0);
  EXPECT_EQ(summary["final_pose"].toObject()["heading"].toDouble(), 0.5);
  // Loading puts each wall at the head of the list, so a save lists them reversed,
  // and a second round trip restores the file.
  const QByteArray once = read_file(path("once.dat"));
  EXPECT_TRUE(once.startsWith("2.000000\n3.000000\n0.500000\n5\n0.000000 0.000000 10.000000"))
      << once.toStdString();
  ASSERT_EQ(run({"--world", "once.dat", "--ticks", "0", "--save", "twice.dat"}).exit_code, 0);
  EXPECT_EQ(read_file(path("twice.dat")), world);

  // --world and --save may name the same file: it is read first and replaced at the end.
  ASSERT_EQ(run({"--world", "in.dat", "--ticks", "0", "--save", "in.dat"}).exit_code, 0);
  EXPECT_EQ(read_file(path("in.dat")), once);
}

// ---------------------------------------------------------------- errors

void expect_one_line_error(const program_result& result, int code, const char* what) {
  EXPECT_FALSE(result.crashed) << what;
  EXPECT_EQ(result.exit_code, code) << what << ": " << result.err.toStdString();
  EXPECT_TRUE(result.out.isEmpty()) << what << ": " << result.out.toStdString();
  EXPECT_TRUE(result.err.startsWith("robot-simulator-headless: ")) << what;
  EXPECT_TRUE(result.err.endsWith('\n')) << what;
  EXPECT_EQ(result.err.count('\n'), 1) << what << ": " << result.err.toStdString();
}

TEST_F(Program, BadArgumentsExitWithTwo) {
  const QList<QStringList> cases = {
      {"--ticks", "-5"},
      {"--ticks", "many"},
      {"--png", "p.png", "--size", "0x0"},
      {"--png", "p.png", "--size", "100000x100000"},
      {"--png", "p.png", "--size", "wide"},
      {"--seed", "4294967296"},
      {"--period-ms", "0"},
      {"--trace", "t.csv", "--trace-every", "0"},
      {"--stats"},
      {"--trace", "same", "--png", "same"},
      {"--frobnicate"},
      {"stray"},
      {"--ticks"},
      {"--events", "same", "--trace", "same"},
      {"--events", ""},
      {"--scale1", "nan"},
      {"--scale2", "inf"},
      {"--scale3", "-infinity"},
      {"--scale1", "0.1x"},
      {"--scale1", ""},
      {"--scale2", "1e999"},
      {"--require-targets", "-1"},
      {"--require-targets", "two"},
      {"--max-stuck-seconds", "-0.5"},
      {"--max-stuck-seconds", "NaN"},
  };
  for (const QStringList& args : cases) {
    const std::string what = args.join(' ').toStdString();
    expect_one_line_error(run(args), 2, what.c_str());
    EXPECT_TRUE(dir_entries(dir_.path()).isEmpty()) << what << " left files behind";
  }
}

TEST_F(Program, FileProblemsExitWithOneAndLeaveNothingBehind) {
  write_file(path("old.csv"), "old trace");
  write_file(path("bad.dat"), "1.0\n2.0\nthree\n");
  write_file(path("bad.keys"), "0 down W\n1 sideways W\n");
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder"));
  ASSERT_EQ(::mkfifo(path("pipe").toLocal8Bit().constData(), 0600), 0);  // not a world file
  const QStringList before = dir_entries(dir_.path());

  const QList<QStringList> cases = {
      {"--world", "missing.dat", "--trace", "old.csv", "--png", "p.png"},
      {"--world", "bad.dat", "--trace", "old.csv", "--save", "s.dat"},
      {"--world", "folder", "--trace", "t.csv"},
      {"--keys", "missing.keys", "--trace", "old.csv"},
      {"--keys", "bad.keys", "--trace", "t.csv"},
      {"--keys", "folder"},
      {"--trace", "old.csv", "--png", "no/such/dir/p.png"},
      {"--trace", "no/such/dir/t.csv", "--png", "p.png"},
      {"--png", "folder"},
      {"--trace", "t.csv", "--save", "no/such/dir/w.dat"},
      {"--trace", "t.csv", "--save", "folder"},
      {"--trace", "bad.dat/t.csv"},
      {"--trace", "t.csv", "--save", "pipe"},
      {"--world", "missing.dat", "--events", "old.csv"},
      {"--events", "no/such/dir/e.csv", "--trace", "old.csv"},
      {"--events", "folder"},
  };
  for (const QStringList& args : cases) {
    const std::string what = args.join(' ').toStdString();
    expect_one_line_error(run(args), 1, what.c_str());
    EXPECT_EQ(dir_entries(dir_.path()), before) << what << " changed the directory";
    EXPECT_EQ(read_file(path("old.csv")), "old trace") << what;
    EXPECT_TRUE(dir_entries(path("folder")).isEmpty()) << what;
  }
}

TEST_F(Program, ReadOnlyDirectoryIsReportedUpFront) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  ASSERT_TRUE(QDir(dir_.path()).mkdir("locked"));
  ASSERT_TRUE(QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::ExeOwner));
  const auto result = run({"--ticks", "10", "--trace", "locked/t.csv"});
  QFile::setPermissions(path("locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  expect_one_line_error(result, 1, "read-only directory");
  EXPECT_TRUE(result.err.contains("Permission denied"));
}

TEST_F(Program, APipeIsWrittenDirectly) {
  // A trace sent into a pipe (or a device such as /dev/null) is written into it,
  // never renamed over it.
  const QString fifo = path("pipe");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  QByteArray received;
  std::thread reader([&] { received = read_file(fifo); });
  const auto result = run({"--ticks", "20", "--trace", "pipe"});
  // Should the program never have opened the pipe, release the waiting reader.
  const int release = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
  if (release >= 0) ::close(release);
  reader.join();
  EXPECT_EQ(result.exit_code, 0) << result.err.toStdString();
  EXPECT_TRUE(received.startsWith(kTraceHeader));
  EXPECT_EQ(received.count('\n'), 22);
  struct stat info {};
  ASSERT_EQ(::stat(fifo.toLocal8Bit().constData(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(Program, EveryStopSignalEndsTheRunWithNothingWritten) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
    SCOPED_TRACE(signal_number);
    write_file(path("t.csv"), "old trace\n");
    write_file(path("w.dat"), "old world\n");
    QProcess process;
    process.setProgram(HEADLESS_PROGRAM);
    process.setArguments(
        {"--ticks", "1000000000000", "--trace", "t.csv", "--png", "p.png", "--save", "w.dat"});
    process.setWorkingDirectory(dir_.path());
    process.start();
    ASSERT_TRUE(process.waitForStarted(10000));
    // The run is under way once its three temporary files exist: the program
    // takes the stop signals before it prepares its outputs.
    ASSERT_TRUE(wait_until([this] { return dir_entries(dir_.path()).size() == 5; }))
        << dir_entries(dir_.path()).join(' ').toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(process.processId()), signal_number), 0);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), kExitSignalBase + signal_number);
    EXPECT_TRUE(process.readAllStandardError().contains("no files written"));
    EXPECT_EQ(dir_entries(dir_.path()), (QStringList{"t.csv", "w.dat"}));
    EXPECT_EQ(read_file(path("t.csv")), "old trace\n");
    EXPECT_EQ(read_file(path("w.dat")), "old world\n");
  }
}

TEST_F(Program, AnOutputThatFailsLeavesEveryOtherOldFile) {
  write_file(path("t.csv"), "old trace\n");
  write_file(path("p.png"), "old picture\n");
  // A save into a loop of symbolic links: refused before the run.
  ASSERT_EQ(::symlink("b", path("a").toLocal8Bit().constData()), 0);
  ASSERT_EQ(::symlink("a", path("b").toLocal8Bit().constData()), 0);
  const auto looped = run({"--ticks", "50", "--trace", "t.csv", "--png", "p.png", "--save", "a"});
  EXPECT_EQ(looped.exit_code, kExitFileError);
  EXPECT_TRUE(looped.err.contains("Too many levels of symbolic links")) << looped.err.toStdString();
  EXPECT_EQ(read_file(path("t.csv")), "old trace\n");
  EXPECT_EQ(read_file(path("p.png")), "old picture\n");

  // A summary that cannot be written: no output replaces its old file.
  QProcess process;
  process.setProgram(HEADLESS_PROGRAM);
  process.setArguments({"--ticks", "50", "--trace", "t.csv", "--png", "p.png", "--save", "w.dat"});
  process.setWorkingDirectory(dir_.path());
  process.setStandardOutputFile("/dev/full");
  process.start();
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitCode(), kExitFileError);
  EXPECT_TRUE(process.readAllStandardError().contains("cannot write the summary"));
  EXPECT_EQ(read_file(path("t.csv")), "old trace\n");
  EXPECT_EQ(read_file(path("p.png")), "old picture\n");
  EXPECT_FALSE(QFile::exists(path("w.dat")));
  EXPECT_EQ(dir_entries(dir_.path()), (QStringList{"a", "b", "p.png", "t.csv"}));
}

// Runs the program with arguments as raw bytes (QProcess takes only text).
int run_with_bytes(const std::vector<std::string>& args, const std::string& dir) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> argv{const_cast<char*>(HEADLESS_PROGRAM)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(HEADLESS_PROGRAM, argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(Program, FileNamesAreUsedByteForByte) {
  const std::string dir = dir_.path().toStdString();
  const std::string latin1 = "caf\xe9.dat";  // not UTF-8
  const std::string longest(255, 'w');
  const std::string trace = "\xff" + std::string(243, 't');
  ASSERT_EQ(run_with_bytes({"--ticks", "20", "--seed", "3", "--save", latin1, "--trace", trace,
                            "--png", std::string(250, 'p')},
                           dir),
            0);
  ASSERT_EQ(run_with_bytes({"--ticks", "20", "--world", latin1, "--save=" + longest}, dir), 0);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected = {latin1, longest, trace, std::string(250, 'p')};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);

  // A dangling symbolic link is written through: its target appears.
  ASSERT_EQ(::symlink("made.dat", (dir + "/link.dat").c_str()), 0);
  ASSERT_EQ(run_with_bytes({"--ticks", "5", "--save", "link.dat"}, dir), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.dat"));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir + "/made.dat")));
}

// A stop signal that comes in any phase of a run (the ticks, the picture, the
// film, the save, making or importing a world) ends it with 128 + the signal and
// no file written.
TEST_F(Program, AStopInAnyPhaseWritesNothing) {
  const QString maps = QString(ROBOSIM_SOURCE_DIR) + "/maps/";
  const QStringList cases[] = {
      {"--ticks", "0", "--png", "p.png"},
      {"--ticks", "0", "--gif", "g.gif", "--save", "w.dat"},
      {"--ticks", "20", "--trace", "t.csv", "--events", "e.csv"},
      {"--generate", "maze:30x30:2", "--save", "w.dat"},
      {"--import-map", maps + "floor-plan.yaml", "--save", "w.dat"},
  };
  for (const QStringList& arguments : cases) {
    run_options options;
    std::string message;
    ASSERT_EQ(parse_options(QStringList{"robot-simulator-headless"} + arguments, options, message),
              parse_outcome::run)
        << message;
    for (std::string* name : {&options.png_path, &options.gif_path, &options.save_path,
                              &options.trace_path, &options.events_path}) {
      if (!name->empty()) *name = path(QString::fromStdString(*name)).toStdString();
    }
    const volatile std::sig_atomic_t stop = SIGTERM;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(run_headless(options, out, err, &stop), kExitSignalBase + SIGTERM)
        << arguments.join(' ').toStdString();
    std::fclose(out);
    std::fclose(err);
    EXPECT_TRUE(dir_entries(dir_.path()).isEmpty()) << arguments.join(' ').toStdString();
  }
  // And as a user sends it, to a picture that takes a while to draw: sent once
  // the program has used a second of processor time, where its start-up and the
  // tick take a fraction of that and the picture several.
  QProcess process;
  process.setWorkingDirectory(dir_.path());
  process.start(HEADLESS_PROGRAM,
                {"--ticks", "1", "--size", "16000x4000", "--grad", "--png", "big.png"});
  ASSERT_TRUE(process.waitForStarted());
  const auto pid = static_cast<pid_t>(process.processId());
  ASSERT_TRUE(wait_until([pid] {
    const double used = cpu_seconds(pid);
    return used < 0 || used >= 1.0;  // or it has ended, and the test fails below
  }));
  ::kill(pid, SIGINT);
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitCode(), kExitSignalBase + SIGINT);
  EXPECT_TRUE(dir_entries(dir_.path()).isEmpty());
}

TEST_F(Program, ARobotPlacedOutsideTheWorldTravelsOnlyItsOwnSteps) {
  for (const char* x : {"1000000", "-1e300", "1e308"}) {
    QByteArray world = kOpenWorld;
    world.replace(0, 8, QByteArray(x) + "\n");  // the robot's x, the first line
    write_file(path("far.dat"), world);
    const auto result = run({"--world", "far.dat", "--seed", "2", "--ticks", "10", "--json"});
    ASSERT_EQ(result.exit_code, 0) << x << ": " << result.err.toStdString();
    const double travelled = parse_json(result.out)["distance_travelled"].toDouble(-1);
    EXPECT_GE(travelled, 0.0) << x;
    EXPECT_LE(travelled, 10 * 0.05 + 1e-9) << x << ": the clamp's jump counted as travel";
  }
}

TEST_F(Program, AnOverflowingRunStopsWithItsSummaryAndWritesNothing) {
  const QString maze = QString(ROBOSIM_SOURCE_DIR) + "/worlds/maze.dat";
  const auto result =
      run({"--world", maze, "--seed", "1", "--ticks", "3000", "--scale1", "1e308", "--scale2",
           "1e308", "--scale3", "1e308", "--save", "w.dat", "--trace", "t.csv", "--json"});
  EXPECT_EQ(result.exit_code, kExitNotFinite) << result.err.toStdString();
  EXPECT_TRUE(result.err.contains("is no longer a finite number after tick "))
      << result.err.toStdString();
  const QJsonObject summary = parse_json(result.out);
  EXPECT_LT(summary["ticks"].toInt(), 3000);
  EXPECT_FALSE(summary["ended_by_escape"].toBool());
  EXPECT_TRUE(dir_entries(dir_.path()).isEmpty());
}

TEST_F(Program, ANamedPipeOutputIsRefusedWithoutAReaderAndWrittenWithOne) {
  const std::string fifo = path("pipe").toStdString();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const char* option : {"--trace", "--png", "--gif", "--events"}) {
    // Without a reader: refused at once, where open() used to wait for good.
    const auto alone = run({"--ticks", "10", option, "pipe"});
    EXPECT_EQ(alone.exit_code, kExitFileError) << option;
    EXPECT_TRUE(alone.err.contains("no program is reading the named pipe")) << option;
  }
  // With one, the output streams through the pipe.
  std::string got;
  std::thread reader([&] {
    std::ifstream in(fifo, std::ios::binary);
    got.assign(std::istreambuf_iterator<char>(in), {});
  });
  // Refused until the reader has opened its end.
  const bool written = wait_until([&] {
    return run({"--ticks", "10", "--trace", "pipe"}).exit_code == 0;
  });
  if (!written) ::close(::open(fifo.c_str(), O_WRONLY));  // lets the reader go
  reader.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 12);  // header, tick 0 and 10 ticks
}

TEST_F(Program, EveryFileOptionTakesANameThatIsNotUtf8ByteForByte) {
  const std::string dir = dir_.path().toStdString();
  const std::string world = "w\xe9.dat";
  const std::string keys = "k\xff.keys";
  const std::string map = "m\xfe.yaml";
  write_file(path("w.dat"), read_file(QString(ROBOSIM_SOURCE_DIR) + "/worlds/maze.dat"));
  ASSERT_EQ(::rename((dir + "/w.dat").c_str(), (dir + "/" + world).c_str()), 0);
  write_file(path("k.keys"), "5 down space\n6 up space\n");
  ASSERT_EQ(::rename((dir + "/k.keys").c_str(), (dir + "/" + keys).c_str()), 0);
  const std::string source = std::string(ROBOSIM_SOURCE_DIR) + "/maps/floor-plan.";
  for (const char* part : {"yaml", "pgm"}) {
    std::filesystem::copy_file(source + part, dir + "/floor-plan." + part);
  }
  ASSERT_EQ(::rename((dir + "/floor-plan.yaml").c_str(), (dir + "/" + map).c_str()), 0);
  // Two runs whose names differ only in bytes that are not UTF-8 must not meet.
  for (const char* mark : {"\xe9", "\xfe"}) {
    const std::vector<std::string> outputs = {"t", "p", "g", "e", "s"};
    std::vector<std::string> args = {"--ticks", "20",     "--seed", "3",      "--world",
                                     world,     "--keys", keys,     "--size", "40x30"};
    const char* options[] = {"--trace", "--png", "--gif", "--events", "--save"};
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      args.push_back(options[k]);
      args.push_back(outputs[k] + mark + ".out");
    }
    ASSERT_EQ(run_with_bytes(args, dir), 0) << mark;
    for (const std::string& o : outputs) {
      EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + o + mark + ".out")) << o << mark;
    }
    const std::string made = std::string("made") + mark + ".dat";
    ASSERT_EQ(run_with_bytes({"--import-map", map, "--save", made}, dir), 0) << mark;
    EXPECT_TRUE(std::filesystem::is_regular_file(dir + "/" + made)) << mark;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    EXPECT_EQ(entry.path().filename().string().find("raw-argument"), std::string::npos);
  }
}

TEST_F(Program, HelpAndVersionExitWithZero) {
  const auto help = run({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(help.out.startsWith("Usage: robot-simulator-headless"));
  EXPECT_TRUE(help.out.contains("--trace-every"));
  const auto version = run({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_TRUE(version.out.startsWith("robot-simulator-headless "));
}

}  // namespace

// ---------------------------------------------------------------- making worlds

namespace {

TEST_F(Program, GeneratedWorldsAreWrittenReproduciblyAndLoad) {
  for (const char* description : {"maze:6x4:2", "pillars:300:9"}) {
    const auto first = run({"--generate", description, "--save", "a.dat"});
    ASSERT_EQ(first.exit_code, 0) << description << ": " << first.err.toStdString();
    EXPECT_TRUE(first.err.isEmpty()) << description;
    EXPECT_TRUE(first.out.startsWith("wrote a.dat: ")) << first.out.toStdString();
    ASSERT_EQ(run({"--generate", description, "--save", "b.dat"}).exit_code, 0);
    EXPECT_EQ(read_file(path("a.dat")), read_file(path("b.dat"))) << description;
    const auto loaded = run({"--world", "a.dat", "--ticks", "50", "--seed", "1", "--json"});
    ASSERT_EQ(loaded.exit_code, 0) << loaded.err.toStdString();
    const QJsonObject summary = parse_json(loaded.out);
    EXPECT_EQ(summary["walls"].toInt(), read_file(path("a.dat")).split('\n')[3].toInt())
        << description;
  }
  EXPECT_EQ(read_file(path("a.dat")).split('\n')[3], "304");
}

TEST_F(Program, ShippedMapImportsToTheShippedWorld) {
  const QString source = ROBOSIM_SOURCE_DIR;
  const auto result = run({"--import-map", source + "/maps/floor-plan.yaml", "--save", "f.dat"});
  ASSERT_EQ(result.exit_code, 0) << result.err.toStdString();
  EXPECT_EQ(read_file(path("f.dat")), read_file(source + "/worlds/floor-plan.dat"));
}

// A map of 100 x 50 pixels of 10 cm (10 x 5 m) in the test's folder: free floor
// with one black pixel at the top left.
void write_small_map(const QString& dir, const char* origin = "[0.0, 0.0, 0.0]") {
  QByteArray pgm = "P5 100 50 255\n" + QByteArray(100 * 50, '\xFE');
  pgm[pgm.size() - 100 * 50] = '\0';
  write_file(dir + "/m.pgm", pgm);
  write_file(dir + "/m.yaml", QByteArray("image: m.pgm\nresolution: 0.1\norigin: ") + origin +
                                  "\nnegate: 0\noccupied_thresh: 0.65\nfree_thresh: 0.196\n");
}

TEST_F(Program, ImportingAMapTellsItsScaleFrameAndStart) {
  const QString source = ROBOSIM_SOURCE_DIR;
  const auto result = run({"--import-map", source + "/maps/warehouse.yaml", "--save", "w.dat"});
  ASSERT_EQ(result.exit_code, 0) << result.err.toStdString();
  EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
  const QList<QByteArray> lines = result.out.trimmed().split('\n');
  ASSERT_EQ(lines.size(), 7) << result.out.toStdString();
  EXPECT_EQ(lines[0], "wrote w.dat: " + read_file(path("w.dat")).split('\n')[3] + " walls");
  EXPECT_EQ(lines[2], "region: x -15 to 15 m, y -7.5 to 7.5 m of the map's frame");
  EXPECT_EQ(lines[3], "scale: 1 world unit is 3 m; the robot, 0.5 units across, stands for 1.5 m");
  EXPECT_TRUE(lines[4].startsWith("transform: x = 5 + X / 3, y = 5 - Y / 3 ")) << lines[4].data();
  EXPECT_TRUE(lines[6].startsWith("robot: starts at (")) << lines[6].data();
  EXPECT_EQ(read_file(path("w.dat")), read_file(source + "/worlds/warehouse.dat"));

  // A region 5 m across makes the robot 0.25 m; a negative corner may follow a space.
  for (const QStringList& region : {QStringList{"--map-region", "-2.5,-2.5,2.5,2.5"},
                                    QStringList{"--map-region=-2.5,-2.5,2.5,2.5"}}) {
    const auto part = run(QStringList{"--import-map", source + "/maps/warehouse.yaml", "--save",
                                      "part.dat", "--unknown", "wall"} +
                          region);
    ASSERT_EQ(part.exit_code, 0) << part.err.toStdString();
    EXPECT_TRUE(part.out.contains(
        "scale: 1 world unit is 0.5 m; the robot, 0.5 units across, stands for 0.25 m\n"))
        << part.out.toStdString();
  }
}

TEST_F(Program, ImportMessagesNameTheYamlFileAndTheImage) {
  write_small_map(dir_.path());
  write_file(path("no-image.yaml"),
             "image: nothing.pgm\nresolution: 0.1\norigin: [0, 0, 0]\nnegate: 0\n"
             "occupied_thresh: 0.65\nfree_thresh: 0.196\n");
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.yaml"));
  const QList<QPair<QStringList, QByteArray>> cases = {
      {{"--import-map", "no-image.yaml", "--save", "a.dat"},
       "cannot import the map no-image.yaml: image nothing.pgm: No such file or directory"},
      {{"--import-map", "folder.yaml", "--save", "a.dat"},
       "cannot import the map folder.yaml: Is a directory"},
      {{"--import-map", "m.yaml", "--map-region", "20,20,30,30", "--save", "a.dat"},
       "cannot import the map m.yaml: the region holds no part of the image"},
  };
  for (const auto& [args, message] : cases) {
    const auto result = run(args);
    expect_one_line_error(result, 1, message.constData());
    EXPECT_EQ(result.err, "robot-simulator-headless: " + message + "\n");
  }
  // A yaw is warned of on standard error; the world is written all the same.
  write_small_map(dir_.path(), "[0.0, 0.0, -1.25]");
  const auto turned = run({"--import-map", "m.yaml", "--save", "t.dat"});
  EXPECT_EQ(turned.exit_code, 0);
  EXPECT_EQ(turned.err,
            "robot-simulator-headless: warning: m.yaml: the origin's yaw of -1.25 radians is "
            "ignored: the map is imported without rotation\n");
  EXPECT_TRUE(QFile::exists(path("t.dat")));
}

TEST_F(Program, AnImportNeverOverwritesItsOwnInputs) {
  write_small_map(dir_.path());
  ASSERT_TRUE(QDir(dir_.path()).mkdir("x"));
  ASSERT_EQ(::symlink("../m.pgm", path("x/image-link").toLocal8Bit().constData()), 0);
  ASSERT_EQ(::link(path("m.yaml").toLocal8Bit().constData(),
                   path("x/yaml-hard").toLocal8Bit().constData()),
            0);
  const QByteArray image = read_file(path("m.pgm"));
  const QByteArray yaml = read_file(path("m.yaml"));
  for (const char* output : {"m.pgm", "./m.yaml", "x/../m.pgm", "x/image-link", "x/yaml-hard"}) {
    const auto result = run({"--import-map", "m.yaml", "--save", output});
    expect_one_line_error(result, 2, output);
    EXPECT_TRUE(result.err.contains("nothing written")) << result.err.toStdString();
    EXPECT_EQ(read_file(path("m.pgm")), image) << output;
    EXPECT_EQ(read_file(path("m.yaml")), yaml) << output;
  }
}

TEST_F(Program, AReadOnlyFileSystemIsCalledSo) {
  // A file system mounted read-only in a mount namespace of the test's own.
  write_small_map(dir_.path());
  ASSERT_TRUE(QDir(dir_.path()).mkdir("ro"));
  const QString script = QString(
                             "mount -t tmpfs -o ro tmpfs '%1' 2>/dev/null || exit 99; "
                             "exec '%2' \"$@\"")
                             .arg(path("ro"), HEADLESS_PROGRAM);
  for (const char* kind : {"--import-map", "--generate"}) {
    const QStringList making = QString(kind) == "--import-map" ? QStringList{kind, "m.yaml"}
                                                               : QStringList{kind, "maze:3x3:1"};
    QProcess process;
    process.setWorkingDirectory(dir_.path());
    process.start("unshare", QStringList{"-m", "sh", "-c", script, "sh"} + making +
                                 QStringList{"--save", "ro/new.dat"});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() == 99 || (process.exitCode() != 1 && process.exitCode() != 0)) {
      GTEST_SKIP() << "no read-only file system can be mounted here";
    }
    EXPECT_EQ(process.exitCode(), 1) << kind;
    EXPECT_EQ(process.readAllStandardError(),
              "robot-simulator-headless: cannot save \"ro/new.dat\": Read-only file system\n")
        << kind;
  }
}

TEST_F(Program, BadWorldMakingExitsWithTwoOrOneAndWritesNothing) {
  write_file(path("old.dat"), kOpenWorld);
  write_file(path("bad.yaml"), "image: nothing.pgm\nresolution: 0.05\n");
  const QStringList before = dir_entries(dir_.path());
  const QList<QPair<int, QStringList>> cases = {
      {2, {"--generate", "maze:0x3:1", "--save", "old.dat"}},
      {2, {"--generate", "towers:3:1", "--save", "old.dat"}},
      {2, {"--generate", "pillars:10:1"}},
      {2, {"--generate", "pillars:10:1", "--save", "old.dat", "--ticks", "5"}},
      {2, {"--generate", "pillars:10:1", "--save", "old.dat", "--world", "old.dat"}},
      {2, {"--import-map", "bad.yaml", "--save", "old.dat", "--scale1", "0.2"}},
      {2, {"--generate", "pillars:10:1", "--import-map", "bad.yaml", "--save", "old.dat"}},
      {2, {"--import-map", "bad.yaml"}},
      {1, {"--import-map", "bad.yaml", "--save", "old.dat"}},
      {1, {"--import-map", "missing.yaml", "--save", "new.dat"}},
      {2, {"--map-region", "0,0,1,1", "--save", "old.dat"}},
      {2, {"--generate", "pillars:10:1", "--unknown", "wall", "--save", "old.dat"}},
      {2, {"--import-map", "bad.yaml", "--map-region", "0,0,1", "--save", "old.dat"}},
      {2, {"--import-map", "bad.yaml", "--map-region", "1,0,0,1", "--save", "old.dat"}},
      {2, {"--import-map", "bad.yaml", "--map-region", "0,0,1,nan", "--save", "old.dat"}},
      {2, {"--import-map", "bad.yaml", "--unknown", "maybe", "--save", "old.dat"}},
  };
  for (const auto& [code, args] : cases) {
    const std::string what = args.join(' ').toStdString();
    expect_one_line_error(run(args), code, what.c_str());
    EXPECT_EQ(dir_entries(dir_.path()), before) << what << " changed the directory";
    EXPECT_EQ(read_file(path("old.dat")), kOpenWorld) << what;
  }
}

}  // namespace
