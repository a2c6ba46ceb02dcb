// Scenarios as a teacher hands them out: a world file with the robot's pose and
// a target placed from the command line, random placements drawn from the seed,
// the frames of a run as pictures of their own, and the refusals.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "run_program.h"

namespace {

// A U of three walls open toward the robot (at (5, 4), facing down the screen),
// with the four boundary walls: a target at (5, 8.5) lies behind the U's bottom.
const QByteArray kTrapWorld =
    "5.000000\n4.000000\n1.570796\n7\n"
    "9.950000 0.000000 0.050000 10.000000\n"
    "0.000000 0.000000 0.050000 10.000000\n"
    "0.000000 9.950000 10.000000 0.050000\n"
    "0.000000 0.000000 10.000000 0.050000\n"
    "3.000000 3.000000 0.100000 4.000000\n"
    "6.900000 3.000000 0.100000 4.000000\n"
    "3.000000 7.000000 4.000000 0.100000\n";

class Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    QFile world(path("trap.dat"));
    ASSERT_TRUE(world.open(QIODevice::WriteOnly));
    world.write(kTrapWorld);
  }

  QString path(const QString& name) const { return dir_.filePath(name); }

  program_result run(const QStringList& args) { return run_program(args, dir_.path()); }

  QByteArray read(const QString& name) const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // The events file's first target row: tick, x, y.
  QByteArrayList first_target(const QString& events) const {
    for (const QByteArray& line : read(events).split('\n')) {
      if (line.startsWith("target,")) return line.split(',');
    }
    return {};
  }

  QTemporaryDir dir_;
};

TEST_F(Scenario, TheAutomaticRobotEscapesATrapToTheTargetBehindIt) {
  for (const char* seed : {"1", "2", "3"}) {
    SCOPED_TRACE(seed);
    const program_result r = run({"--world", "trap.dat", "--target", "5,8.5", "--seed", seed,
                                  "--ticks", "3000", "--events", "events.csv", "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err.toStdString();
    const QByteArrayList first = first_target("events.csv");
    ASSERT_EQ(first.size(), 10) << read("events.csv").toStdString();
    // The first target reached is the one placed behind the trap.
    EXPECT_EQ(first[6], "5.000000");
    EXPECT_EQ(first[7], "8.500000");
    EXPECT_GT(first[4].toDouble(), 4.5) << "a detour around the trap, not the straight line";
  }
  // Without --target the world file's run starts with the target at the centre,
  // inside the trap.
  ASSERT_EQ(
      run({"--world", "trap.dat", "--seed", "1", "--ticks", "3000", "--events", "e.csv"}).exit_code,
      0);
  const QByteArrayList first = first_target("e.csv");
  ASSERT_EQ(first.size(), 10);
  EXPECT_EQ(first[6], "5.000000");
  EXPECT_EQ(first[7], "5.000000");
}

// With a strong impact repulsion (scale1 0.8) the robot circles inside the U for
// a while before it finds its way out: the trapped time sees it, and the time to
// the first target is when it got out. With the world's own gains it goes round
// at once and is never trapped.
TEST_F(Scenario, TrappedTimeSeesTheRobotCaughtInTheTrapUntilItEscapes) {
  for (const char* seed : {"1", "2"}) {
    SCOPED_TRACE(seed);
    const QStringList trap = {"--world", "trap.dat", "--target", "5,8.5", "--scale1", "0.8",
                              "--seed", seed, "--json"};
    const program_result caught = run(trap + QStringList{"--ticks", "1500"});
    ASSERT_EQ(caught.exit_code, 0) << caught.err.toStdString();
    const QJsonObject inside = QJsonDocument::fromJson(caught.out).object();
    EXPECT_TRUE(inside["time_to_first_target"].isNull());
    EXPECT_GT(inside["trapped_seconds"].toDouble(), 10.0);

    const program_result escaped = run(trap + QStringList{"--ticks", "3000", "--events", "e.csv"});
    ASSERT_EQ(escaped.exit_code, 0) << escaped.err.toStdString();
    const QJsonObject out = QJsonDocument::fromJson(escaped.out).object();
    const QByteArrayList first = first_target("e.csv");
    ASSERT_EQ(first.size(), 10);
    EXPECT_EQ(first.mid(6, 2), (QByteArrayList{"5.000000", "8.500000"}));
    EXPECT_EQ(out["time_to_first_target"].toDouble(-1), first[2].toDouble());
    EXPECT_GT(out["time_to_first_target"].toDouble(), 15.0);
    EXPECT_GE(out["trapped_seconds"].toDouble(), inside["trapped_seconds"].toDouble());
  }
  const program_result plain =
      run({"--world", "trap.dat", "--target", "5,8.5", "--seed", "1", "--ticks", "3000", "--json"});
  ASSERT_EQ(plain.exit_code, 0);
  const QJsonObject out = QJsonDocument::fromJson(plain.out).object();
  EXPECT_EQ(out["trapped_seconds"].toDouble(-1), 0.0);
  EXPECT_LT(out["time_to_first_target"].toDouble(99), 10.0);
  EXPECT_GT(out["targets_reached"].toInt(), 5);
}

TEST_F(Scenario, APlacedPoseAndTargetAreTheTracesFirstRow) {
  ASSERT_EQ(run({"--world", "trap.dat", "--pose", "8,2,3.5", "--target", "1.5,9", "--seed", "4",
                 "--ticks", "1", "--trace", "t.csv"})
                .exit_code,
            0);
  const QByteArrayList rows = read("t.csv").split('\n');
  ASSERT_GE(rows.size(), 2);
  const QByteArrayList start = rows[1].split(',');
  EXPECT_EQ(start.mid(2, 3), (QByteArrayList{"8.000000", "2.000000", "3.500000"}));
  EXPECT_EQ(start.mid(7, 2), (QByteArrayList{"1.500000", "9.000000"}));
}

TEST_F(Scenario, RandomPlacementsFollowTheSeed) {
  const auto first_row = [this](const char* seed) {
    EXPECT_EQ(run({"--world", "trap.dat", "--pose", "random", "--target", "random", "--seed", seed,
                   "--ticks", "0", "--trace", "t.csv"})
                  .exit_code,
              0);
    return read("t.csv").split('\n').value(1);
  };
  const QByteArray one = first_row("1");
  EXPECT_EQ(first_row("1"), one);
  EXPECT_NE(first_row("2"), one);
  // Neither the world file's pose nor the centre.
  EXPECT_FALSE(one.startsWith("0,0.000,5.000000,4.000000"));
  EXPECT_EQ(one.split(',').mid(7, 2).contains("5.000000"), false) << one.toStdString();
}

TEST_F(Scenario, PlacementsThatCannotBeAreRefusedWithTwoAndWriteNothing) {
  struct refused {
    QStringList args;
    const char* says;
  };
  const refused cases[] = {
      {{"--target", "5,7.05"}, "the target (5, 7.05) lies on a wall"},
      {{"--target", "10.5,5"}, "the target's x must be from 0 to 10"},
      {{"--pose", "0.1,5,0"},
       "the pose's x must be from 0.25 to 9.75 (where a tick keeps the robot), got 0.1"},
      {{"--pose", "5,12,0"}, "the pose's y must be from 0.25 to 9.75"},
  };
  for (const refused& c : cases) {
    SCOPED_TRACE(c.says);
    const program_result r = run(QStringList{"--world", "trap.dat", "--frames", "frames", "--trace",
                                             "t.csv", "--save", "out.dat"} +
                                 c.args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.err.startsWith(QByteArray("robot-simulator-headless: ") + c.says))
        << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"trap.dat"});
  }
}

TEST_F(Scenario, FramesAreTheRunsPicturesAtTheirTicks) {
  const program_result r =
      run({"--world", "trap.dat", "--target", "5,8.5", "--seed", "3", "--ticks", "25", "--frames",
           "frames", "--frame-every", "10", "--trail", "--size", "200x150"});
  ASSERT_EQ(r.exit_code, 0) << r.err.toStdString();
  EXPECT_EQ(
      QDir(path("frames")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
      (QStringList{"tick-000000.png", "tick-000010.png", "tick-000020.png", "tick-000025.png"}));
  // Each frame is the picture a run that ends at its tick draws.
  for (const char* tick : {"10", "25"}) {
    SCOPED_TRACE(tick);
    ASSERT_EQ(run({"--world", "trap.dat", "--target", "5,8.5", "--seed", "3", "--ticks", tick,
                   "--png", "end.png", "--trail", "--size", "200x150"})
                  .exit_code,
              0);
    const QImage frame(path(QString("frames/tick-0000%1.png").arg(tick)));
    const QImage end(path("end.png"));
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(frame.size(), QSize(200, 150));
    EXPECT_EQ(frame.convertToFormat(QImage::Format_RGB32),
              end.convertToFormat(QImage::Format_RGB32));
  }
  // A second run into the same folder replaces the frames of the same names.
  ASSERT_EQ(run({"--world", "trap.dat", "--ticks", "5", "--frames", "frames"}).exit_code, 0);
  EXPECT_EQ(
      QDir(path("frames")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
      5);
}

TEST_F(Scenario, AFramesFolderThatCannotBeMadeIsReportedBeforeTheRun) {
  const program_result r = run({"--ticks", "100000", "--frames", "no/such/folder"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.err.startsWith("robot-simulator-headless: cannot write no/such/folder: "))
      << r.err.toStdString();
}

}  // namespace
