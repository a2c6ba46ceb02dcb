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

TEST(CpuCoresTest, TheStallOfACpuPressureText) {
  const struct {
    const char* text;
    std::optional<double> stall_ns;
  } kCases[] = {
      {"some avg10=50.73 avg60=27.34 avg300=8.80 total=31676859\n"
       "full avg10=0.00 avg60=0.00 avg300=0.00 total=0\n",
       31676859e3},
      {"some avg10=0.00 avg60=0.00 avg300=0.00 total=0", 0},
      // The line that counts is "some", wherever it is.
      {"full avg10=0.00 avg60=0.00 avg300=0.00 total=5\nsome avg10=1.00 total=7\n", 7e3},
      {"", std::nullopt},
      {"full avg10=0.00 avg60=0.00 avg300=0.00 total=5\n", std::nullopt},
      {"some avg10=0.00 avg60=0.00 avg300=0.00\n", std::nullopt},
      {"some avg10=0.00 total=12x\n", std::nullopt},
      {"some avg10=0.00 total=-3\n", std::nullopt},
      {"some avg10=0.00 total=\n", std::nullopt},
      {"somewhere total=5\n", std::nullopt},
  };
  for (const auto& c : kCases) EXPECT_EQ(cpu_stall_ns_of_pressure(c.text), c.stall_ns) << c.text;
}

// Looks at the watch until it has judged a window, or for a minute.
std::optional<bool> judgement_of(oversubscription_watch& watch) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  std::optional<bool> judged = watch.oversubscribed();
  while (!judged && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
    judged = watch.oversubscribed();
  }
  return judged;
}

TEST(CpuCoresTest, AWatchJudgesTheWaitingCoresOfAWholeWindow) {
  // A stall figure growing `share` times as fast as the clock: the share of the
  // CPUs' time with a task waiting, as the system reports it.
  const struct {
    double share;
    std::size_t cpus;
    bool oversubscribed;
  } kCases[] = {
      {0.0, 2, false},   // free cores
      {0.1, 2, false},   // a task waiting now and then
      {0.5, 2, true},    // one task more than 2 cores: one always waits
      {1.0, 2, true},    // both cores with a task waiting
      {0.125, 8, true},  // one task more than 8 cores
      {0.05, 8, false},
  };
  for (const auto& c : kCases) {
    const auto start = std::chrono::steady_clock::now();
    oversubscription_watch watch(
        [&] {
          const auto elapsed = std::chrono::steady_clock::now() - start;
          return std::optional<double>(c.share *
                                       std::chrono::duration<double, std::nano>(elapsed).count());
        },
        c.cpus);
    EXPECT_EQ(watch.oversubscribed(), std::nullopt) << "no window has passed yet";
    EXPECT_EQ(judgement_of(watch), c.oversubscribed) << c.share << " of " << c.cpus;
  }
}

TEST(CpuCoresTest, AWatchOnASystemThatDoesNotTellNeverHoldsThreadsBack) {
  oversubscription_watch untold([] { return std::optional<double>(); });
  EXPECT_EQ(untold.oversubscribed(), false) << "at once, with no window to wait for";
  oversubscription_watch none(nullptr);
  EXPECT_EQ(none.oversubscribed(), false);
  // A system that stops telling (its figure can no longer be read) frees them.
  int looks = 0;
  const auto start = std::chrono::steady_clock::now();
  oversubscription_watch stops(
      [&]() -> std::optional<double> {
        if (++looks > 2) return std::nullopt;
        return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
            .count();
      },
      2);
  EXPECT_EQ(judgement_of(stops), true);
  while (looks <= 2) (void)stops.oversubscribed();
  EXPECT_EQ(stops.oversubscribed(), false);
}

TEST(CpuCoresTest, TheSystemsFigureIsHeardOnlyByAThreadThatMayRunOnEveryCpu) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  if (affinity_cpus() < online_cpus()) GTEST_SKIP() << "this process may not use every CPU";
  EXPECT_TRUE(static_cast<bool>(system_stall_source()));
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
  const bool heard = static_cast<bool>(system_stall_source());
  oversubscription_watch watch;
  const auto judged = watch.oversubscribed();
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
  EXPECT_FALSE(heard);
  EXPECT_EQ(judged, false) << "a watch that hears nothing holds nothing back";
}

TEST(CpuCoresTest, ThisSystemsStallFigureNeverGoesBack) {
  const auto first = cpu_stall_ns();
  if (!first) GTEST_SKIP() << "this system keeps no CPU pressure figure";
  const auto second = cpu_stall_ns();
  ASSERT_TRUE(second.has_value());
  EXPECT_GE(*second, *first);
}

}  // namespace
