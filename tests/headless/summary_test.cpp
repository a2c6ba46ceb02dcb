#include "headless/summary.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>

namespace {

run_summary sample() {
  run_summary s;
  s.seed = 4000000000u;
  s.ticks = 6000;
  s.ticks_requested = 6000;
  s.simulated_seconds = 60.0;
  s.wall_seconds = 0.5;
  s.targets_reached = 12;
  s.planning_runs = 40;
  s.planning_failures = 2;
  s.planning_gave_up = 1;
  s.walls = 4;
  s.impacts = 17;
  s.waypoints = 9;
  s.x = 1.25;
  s.y = 2.5;
  s.heading = -0.5;
  s.peak_memory_kib = 2048;
  return s;
}

TEST(HeadlessSummary, TextHoldsEveryFigure) {
  const std::string text = format_summary_text(sample());
  for (const char* line :
       {"seed: 4000000000\n", "ticks: 6000\n", "simulated seconds: 60.000\n",
        "wall seconds: 0.500\n", "ticks per wall second: 12000\n", "targets reached: 12\n",
        "planning runs: 40\n", "planning failures: 2\n", "planning gave up: 1\n", "walls: 4\n",
        "impacts: 17\n", "waypoints: 9\n", "final pose: x 1.250000 y 2.500000 heading -0.500000\n",
        "peak memory: 2048 KiB\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  run_summary stopped = sample();
  stopped.ticks = 10;
  stopped.ended_by_escape = true;
  stopped.peak_memory_kib = -1;
  const std::string short_text = format_summary_text(stopped);
  EXPECT_NE(short_text.find("ticks: 10 of 6000 (ended by Esc)\n"), std::string::npos);
  EXPECT_NE(short_text.find("peak memory: unknown\n"), std::string::npos);
  run_summary overflowed = sample();
  overflowed.ticks = 12;
  overflowed.not_finite = "the robot's heading";
  EXPECT_NE(format_summary_text(overflowed)
                .find("ticks: 12 of 6000 (the robot's heading stopped being finite)\n"),
            std::string::npos);
  EXPECT_NE(format_summary_json(overflowed).find("\"ended_by_escape\":false"), std::string::npos);
}

TEST(HeadlessSummary, JsonIsOneValidObject) {
  const std::string text = format_summary_json(sample());
  ASSERT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  QJsonParseError error;
  const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  const QJsonObject o = doc.object();
  EXPECT_EQ(o["seed"].toDouble(), 4000000000.0);
  EXPECT_EQ(o["ticks"].toInt(), 6000);
  EXPECT_EQ(o["ended_by_escape"].toBool(), false);
  EXPECT_DOUBLE_EQ(o["ticks_per_wall_second"].toDouble(), 12000.0);
  EXPECT_EQ(o["targets_reached"].toInt(), 12);
  EXPECT_EQ(o["planning_failures"].toInt(), 2);
  EXPECT_DOUBLE_EQ(o["final_pose"].toObject()["heading"].toDouble(), -0.5);
  EXPECT_EQ(o["peak_memory_kib"].toInt(), 2048);
}

TEST(HeadlessSummary, JsonStaysValidForNonFiniteValues) {
  run_summary s = sample();
  s.x = std::numeric_limits<double>::quiet_NaN();
  s.heading = std::numeric_limits<double>::infinity();
  s.wall_seconds = 0.0;
  s.peak_memory_kib = -1;
  QJsonParseError error;
  const auto doc =
      QJsonDocument::fromJson(QByteArray::fromStdString(format_summary_json(s)), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError);
  const QJsonObject o = doc.object();
  EXPECT_TRUE(o["final_pose"].toObject()["x"].isNull());
  EXPECT_TRUE(o["final_pose"].toObject()["heading"].isNull());
  EXPECT_TRUE(o["peak_memory_kib"].isNull());
  EXPECT_EQ(o["ticks_per_wall_second"].toDouble(), 0.0);
}

TEST(HeadlessSummary, PeakMemoryIsReported) {
  const auto kib = peak_memory_kib();
  EXPECT_GT(kib, 0);
}

}  // namespace
