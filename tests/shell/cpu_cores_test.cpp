// The machine's cores: the cores this process may use, from its affinity and its
// cgroup's CPU quota, and whether they are oversubscribed, from the system's CPU
// pressure figure.
#include "shell/cpu_cores.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <thread>

namespace {

TEST(CpuCoresTest, CoresOfACpuQuota) {
  const struct {
    const char* text;
    std::optional<std::size_t> cores;
  } kCases[] = {
      {"max 100000\n", std::nullopt}, {"200000 100000\n", 2},
      {"150000 100000", 2},           {"50000 100000", 1},
      {"-1 100000", std::nullopt},    {"", std::nullopt},
      {"100000", std::nullopt},       {"x 100000", std::nullopt},
      {"100000 0", std::nullopt},
  };
  for (const auto& c : kCases) EXPECT_EQ(cores_of_cpu_quota(c.text), c.cores) << c.text;
  EXPECT_GE(usable_cores(), 1u);
  EXPECT_LE(usable_cores(), std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_GE(online_cpus(), usable_cores());
}

TEST(CpuCoresTest, TheFiguresOfACpuPressureText) {
  const struct {
    const char* text;
    std::optional<cpu_pressure> figures;
  } kCases[] = {
      {"some avg10=50.73 avg60=27.34 avg300=8.80 total=31676859\n"
       "full avg10=0.00 avg60=0.00 avg300=0.00 total=0\n",
       cpu_pressure{0.5073, 31676859e3}},
      {"some avg10=0.00 avg60=0.00 avg300=0.00 total=0", cpu_pressure{0, 0}},
      {"some avg10=100.00 avg60=0.00 avg300=0.00 total=1", cpu_pressure{1, 1e3}},
      {"some avg10=7 total=3", cpu_pressure{0.07, 3e3}},
      // The line that counts is "some", wherever it is.
      {"full avg10=0.00 avg60=0.00 avg300=0.00 total=5\nsome avg10=1.50 total=7\n",
       cpu_pressure{0.015, 7e3}},
      {"", std::nullopt},
      {"full avg10=0.00 avg60=0.00 avg300=0.00 total=5\n", std::nullopt},
      {"some avg10=0.00 avg60=0.00 avg300=0.00\n", std::nullopt},
      {"some avg60=0.00 avg300=0.00 total=5\n", std::nullopt},
      {"some avg10=0.00 total=12x\n", std::nullopt},
      {"some avg10=0.00 total=-3\n", std::nullopt},
      {"some avg10=-1.00 total=3\n", std::nullopt},
      {"some avg10=1.-5 total=3\n", std::nullopt},
      {"some avg10=1. total=3\n", std::nullopt},
      {"some avg10=.5 total=3\n", std::nullopt},
      {"some avg10=1e3 total=3\n", std::nullopt},
      {"some avg10=0.00 total=\n", std::nullopt},
      {"somewhere avg10=0.00 total=5\n", std::nullopt},
  };
  for (const auto& c : kCases) {
    const auto figures = cpu_pressure_of(c.text);
    ASSERT_EQ(figures.has_value(), c.figures.has_value()) << c.text;
    if (!figures) continue;
    EXPECT_DOUBLE_EQ(figures->recent_share, c.figures->recent_share) << c.text;
    EXPECT_DOUBLE_EQ(figures->stall_ns, c.figures->stall_ns) << c.text;
  }
}

// A system whose tasks waited for a core `recent` of the time over its last ten
// seconds, and from now on `share` of the time; it counts the looks at it.
struct fake_system {
  double recent = 0;
  double share = 0;
  int looks = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  cpu_pressure_source source() {
    return [this] {
      ++looks;
      const auto elapsed = std::chrono::steady_clock::now() - start;
      return std::optional<cpu_pressure>(
          {recent, share * std::chrono::duration<double, std::nano>(elapsed).count()});
    };
  }
};

// Asks the watch until it has looked again, or for a minute.
bool judgement_after_a_window(oversubscription_watch& watch, const fake_system& system) {
  const int looks = system.looks;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  bool judged = watch.oversubscribed();
  while (system.looks == looks && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
    judged = watch.oversubscribed();
  }
  EXPECT_GT(system.looks, looks) << "the watch never looked again";
  return judged;
}

TEST(CpuCoresTest, AWatchJudgesTheRecentPastThenEachWholeWindow) {
  const struct {
    double recent, share;
    std::size_t cpus;
    bool at_first, after_a_window;
  } kCases[] = {
      {0.0, 0.0, 2, false, false},    // free cores
      {0.0, 0.1, 2, false, false},    // a task waiting now and then
      {0.5, 0.5, 2, true, true},      // one task more than 2 cores: one always waits
      {1.0, 1.0, 2, true, true},      // both cores with a task waiting
      {0.0, 0.5, 2, false, true},     // the load comes
      {0.5, 0.0, 2, true, false},     // the load goes
      {0.125, 0.125, 8, true, true},  // one task more than 8 cores
      {0.05, 0.05, 8, false, false},
  };
  for (const auto& c : kCases) {
    fake_system system{c.recent, c.share};
    oversubscription_watch watch(system.source(), c.cpus);
    EXPECT_EQ(watch.oversubscribed(), c.at_first) << c.recent << " of " << c.cpus;
    EXPECT_EQ(judgement_after_a_window(watch, system), c.after_a_window)
        << c.share << " of " << c.cpus;
  }
}

TEST(CpuCoresTest, AWatchOnASystemThatDoesNotTellNeverHoldsThreadsBack) {
  oversubscription_watch untold([] { return std::optional<cpu_pressure>(); });
  EXPECT_FALSE(untold.oversubscribed());
  oversubscription_watch none(nullptr);
  EXPECT_FALSE(none.oversubscribed());
  // A system that stops telling (its figures can no longer be read) frees them.
  fake_system system{1.0, 1.0};
  auto source = system.source();
  oversubscription_watch stops(
      [&]() -> std::optional<cpu_pressure> {
        if (system.looks >= 2) return std::nullopt;
        return source();
      },
      2);
  EXPECT_TRUE(stops.oversubscribed());
  EXPECT_TRUE(judgement_after_a_window(stops, system));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (stops.oversubscribed() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_FALSE(stops.oversubscribed());
}

TEST(CpuCoresTest, TheSystemsFigureIsHeardOnlyByAThreadThatMayRunOnEveryCpu) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  if (affinity_cpus() < online_cpus()) GTEST_SKIP() << "this process may not use every CPU";
  EXPECT_TRUE(static_cast<bool>(system_pressure_source()));
  if (online_cpus() < 2) GTEST_SKIP() << "one CPU: no mask holds fewer";
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &all)) {
      CPU_SET(cpu, &one);
      break;
    }
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const bool heard = static_cast<bool>(system_pressure_source());
  oversubscription_watch watch;
  const auto judged = watch.oversubscribed();
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
  EXPECT_FALSE(heard);
  EXPECT_FALSE(judged) << "a watch that hears nothing holds nothing back";
}

TEST(CpuCoresTest, ThisSystemsStallFigureNeverGoesBack) {
  const auto first = read_cpu_pressure();
  if (!first) GTEST_SKIP() << "this system keeps no CPU pressure figure";
  const auto second = read_cpu_pressure();
  ASSERT_TRUE(second.has_value());
  EXPECT_GE(second->stall_ns, first->stall_ns);
  EXPECT_GE(second->recent_share, 0);
  EXPECT_LE(second->recent_share, 1);
}

}  // namespace
