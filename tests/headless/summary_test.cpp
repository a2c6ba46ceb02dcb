#include "headless/summary.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <variant>

namespace {

run_summary sample() {
  run_summary s;
  s.seed = 4000000000u;
  s.ticks = 6000;
  s.ticks_requested = 6000;
  s.simulated_seconds = 60.0;
  s.wall_seconds = 0.5;
  s.metrics.targets_reached = 12;
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

// Every run metric with a value of its own.
run_summary with_metrics() {
  run_summary s = sample();
  run_metrics_record& m = s.metrics;
  m.distance = 123.4567891;
  m.contacts = 7;
  m.least_push_distance = 0.0123456789;
  m.largest_step = 0.0987654321;
  m.wall_crossings_prevented = 3;
  m.steps_shortened = 4;
  m.stuck_spells = 2;
  m.stuck_ms = 12345;
  m.longest_stuck_ms = 9000;
  m.first_target_ms = 4250;
  m.trapped_ms = 31020;
  return s;
}

TEST(HeadlessSummary, TheRunMetricsAsTheyAreWritten) {
  const std::string text = format_summary_text(with_metrics());
  for (const char* line :
       {"targets per simulated minute: 12.000\n", "distance travelled: 123.456789\n",
        "contacts: 7\n", "least push-back distance: 0.012346\n", "largest step: 0.098765\n",
        "wall crossings prevented: 3\n", "steps shortened: 4\n",
        "stuck spells: 2, 12.345 s in all, longest 9.000 s\n",
        "time to first target: 4.250 s\n", "trapped: 31.020 s\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  const std::string json = format_summary_json(with_metrics());
  for (const char* field :
       {"\"targets_per_minute\":12.000000,", "\"distance_travelled\":123.456789,",
        "\"least_push_distance\":0.012346,", "\"wall_crossings_prevented\":3,",
        "\"stuck_seconds\":12.345,\"longest_stuck_seconds\":9.000,",
        "\"time_to_first_target\":4.250,\"trapped_seconds\":31.020,"}) {
    EXPECT_NE(json.find(field), std::string::npos) << field;
  }
  run_summary untouched = sample();  // no push-back ray met a wall
  untouched.metrics.least_push_distance = std::numeric_limits<double>::infinity();
  EXPECT_NE(format_summary_text(untouched).find("least push-back distance: none\n"),
            std::string::npos);
  EXPECT_NE(format_summary_json(untouched).find("\"least_push_distance\":null,"),
            std::string::npos);
  // No target reached: no time to the first one.
  untouched.metrics.targets_reached = 0;
  EXPECT_NE(format_summary_text(untouched).find("time to first target: none\n"),
            std::string::npos);
  EXPECT_NE(format_summary_json(untouched).find("\"time_to_first_target\":null,"),
            std::string::npos);
}

// Each row of the table, in its order, after the run's time and rate and before
// the world's counts, with its value (text) or its value to its decimals (JSON).
TEST(HeadlessSummary, BothSummariesGoThroughTheTableOfRunMetrics) {
  const run_summary s = with_metrics();
  const std::string text = format_summary_text(s);
  const std::string json = format_summary_json(s);
  const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
  std::size_t text_at = text.find("ticks per wall second: ");
  std::size_t json_at = json.find("\"ticks_per_wall_second\":");
  for (const run_metric& metric : run_metrics_table()) {
    const std::size_t next_json = json.find(std::string("\"") + metric.name + "\":");
    ASSERT_TRUE(next_json != std::string::npos && next_json > json_at) << metric.name;
    json_at = next_json;
    const metric_value value = metric_read(metric, s);
    if (const auto* count = std::get_if<std::uint64_t>(&value)) {
      EXPECT_EQ(o[metric.name].toInteger(), static_cast<qint64>(*count)) << metric.name;
    } else {
      const double scale = std::pow(10.0, metric.decimals);
      EXPECT_EQ(std::round(o[metric.name].toDouble() * scale),
                std::round(std::get<double>(value) * scale))
          << metric.name;
    }
    if (metric.label == nullptr) continue;
    const std::string line =
        std::string("\n") + metric.label + ": " + metric_text(metric, s) + "\n";
    const std::size_t next_text = text.find(line);
    ASSERT_TRUE(next_text != std::string::npos && next_text > text_at) << line;
    text_at = next_text;
  }
  EXPECT_LT(json_at, json.find("\"walls\":"));
  EXPECT_LT(text_at, text.find("\nwalls: "));
}

TEST(HeadlessSummary, PeakMemoryIsReported) {
  const auto kib = peak_memory_kib();
  EXPECT_GT(kib, 0);
}

}  // namespace
