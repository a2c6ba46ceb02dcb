// The worker pool: every job of every batch runs once, a failure is passed on,
// threads are woken only for batches worth them and tried only on cores not
// oversubscribed, and a forked child and a process that may start no threads
// run their batches on the caller.
#include "shell/worker_pool.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// A watch on a system that tells nothing of its cores' load, where the pool's
// measurements alone choose the threads: for the tests that need a batch shared
// on a machine that other tests may load.
oversubscription_watch untold() {
  return oversubscription_watch([] { return std::optional<cpu_pressure>(); });
}

// Keeps a thread busy for about this long (a job worth another thread).
void work_for(std::chrono::microseconds time) {
  const auto until = std::chrono::steady_clock::now() + time;
  while (std::chrono::steady_clock::now() < until) {
  }
}

// The threads that ran the jobs of a batch. Each job only writes its own slot:
// a lock and an allocation per job would be work of their own, enough under
// ThreadSanitizer to make a batch of empty jobs worth another thread.
std::set<std::thread::id> threads_of_batch(worker_pool& pool, std::size_t count,
                                           std::chrono::microseconds each, batch_history& history) {
  std::vector<std::thread::id> ran_on(count);
  pool.run(
      count,
      [&](std::size_t k) {
        if (each.count() > 0) work_for(each);
        ran_on[k] = std::this_thread::get_id();
      },
      &history);
  return {ran_on.begin(), ran_on.end()};
}

TEST(ThreadsTest, APoolRunsEveryJobOfEveryBatchOnceAndPassesOnAFailure) {
  for (const std::size_t threads : {1u, 2u, 3u, 8u}) {
    worker_pool pool(threads);
    EXPECT_EQ(pool.threads(), threads);
    for (const std::size_t count : {0u, 1u, 2u, 7u, 64u, 1000u}) {
      // Jobs long enough, after the first batch, for the pool to share them.
      for (int batch = 0; batch < 3; ++batch) {
        std::vector<std::atomic<int>> runs(count);
        pool.run(count, [&](std::size_t k) {
          if (count <= 64) work_for(std::chrono::microseconds(30));
          runs[k].fetch_add(1);
        });
        for (std::size_t k = 0; k < count; ++k) {
          ASSERT_EQ(runs[k].load(), 1) << threads << "/" << count << "/" << k;
        }
      }
    }
    std::atomic<int> done{0};
    EXPECT_THROW(pool.run(50,
                          [&](std::size_t k) {
                            done.fetch_add(1);
                            if (k == 17) throw std::runtime_error("job 17");
                          }),
                 std::runtime_error);
    EXPECT_EQ(done.load(), 50) << "every job still ran";
  }
}

TEST(ThreadsTest, APoolWakesNoThreadForABatchOfShortJobs) {
  worker_pool pool(4);
  batch_history history;
  for (int batch = 0; batch < 200; ++batch) {
    const auto ids = threads_of_batch(pool, 8, std::chrono::microseconds(0), history);
    ASSERT_EQ(ids, std::set<std::thread::id>{std::this_thread::get_id()}) << batch;
  }
  EXPECT_EQ(pool.threads_for(8, history), 1u);
}

TEST(ThreadsTest, APoolSharesABatchOfLongJobs) {
  worker_pool pool(2, untold());
  batch_history history;
  // The first batch measures the jobs on the caller; the next is worth both.
  EXPECT_EQ(threads_of_batch(pool, 4, std::chrono::microseconds(200), history).size(), 1u);
  ASSERT_EQ(pool.threads_for(4, history), 2u);
  // Job 0 waits until another thread has taken a job: it could not end alone.
  std::atomic<bool> other{false};
  const auto caller = std::this_thread::get_id();
  bool shared = false;
  pool.run(
      4,
      [&](std::size_t k) {
        if (std::this_thread::get_id() != caller) other = true;
        if (k != 0) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!other && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        shared = other;
      },
      &history);
  EXPECT_TRUE(shared);
}

// A history of jobs worth two threads by their cost, with the time per job
// measured on the caller alone and on two threads, at batch `batches`, the next
// trial of the slower way at batch `next_trial`.
batch_history measured_history(double alone_ns, double shared_ns, std::uint32_t batches,
                               std::uint32_t next_trial) {
  batch_history history;
  history.job_ns = 1e6;
  history.alone_ns_per_job = alone_ns;
  history.shared_ns_per_job = shared_ns;
  history.batches = batches;
  history.next_trial = next_trial;
  return history;
}

TEST(ThreadsTest, APoolKeepsToTheFasterWayAndTriesTheOtherNowAndThen) {
  worker_pool pool(2);
  batch_history history = measured_history(1000, 3000, 1, 100);  // slower on two threads
  EXPECT_EQ(pool.threads_for(64, history), 1u);
  history.batches = 100;
  EXPECT_EQ(pool.threads_for(64, history), 2u) << "the trial of the slower way";
  history.shared_ns_per_job = 500;
  history.batches = 1;
  EXPECT_EQ(pool.threads_for(64, history), 2u);
  EXPECT_EQ(pool.threads_for(1, history), 1u) << "one job needs no other thread";
}

TEST(ThreadsTest, ATrialOfTheOtherWayMeasuresItAfresh) {
  worker_pool pool(2);
  if (pool.threads() < 2) GTEST_SKIP() << "no second thread here";
  // The caller alone measured long ago, under a heavy load.
  batch_history history = measured_history(1e9, 1e6, 100, 100);
  ASSERT_EQ(pool.threads_for(64, history), 1u) << "the trial of the caller alone";
  pool.run(
      64, [](std::size_t) {}, &history);
  EXPECT_LT(history.alone_ns_per_job, 1e6);
  EXPECT_EQ(pool.threads_for(64, history), 1u) << "one trial shows the caller alone is faster now";
}

TEST(ThreadsTest, ABatchHeldUpCountsInFull) {
  worker_pool pool(2);
  if (pool.threads() < 2) GTEST_SKIP() << "no second thread here";
  batch_history history = measured_history(1500, 1000, 1, 100);
  ASSERT_EQ(pool.threads_for(4, history), 2u);
  // A hundred times the figure, as when a thread is descheduled inside a job.
  pool.run(
      4, [](std::size_t) { work_for(std::chrono::microseconds(200)); }, &history);
  EXPECT_GT(history.shared_ns_per_job, 1500);
  EXPECT_EQ(pool.threads_for(4, history), 1u);
}

// A system on which a task waits for a core `waiting` of the time (the share of
// the CPUs with a task waiting), lately and from now on; it counts the looks.
struct fake_system {
  double waiting = 0;
  int looks = 0;
  double stall_ns = 0;
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();

  oversubscription_watch watch(std::size_t cpus) {
    return oversubscription_watch(
        [this] {
          const auto now = std::chrono::steady_clock::now();
          stall_ns += waiting * std::chrono::duration<double, std::nano>(now - last).count();
          last = now;
          ++looks;
          return std::optional<cpu_pressure>({waiting, stall_ns});
        },
        cpus);
  }
};

TEST(ThreadsTest, APoolTriesNoThreadWhileTheCoresAreOversubscribed) {
  fake_system system;
  system.waiting = 0.5;  // 2 CPUs, one with a task waiting: one task more than the cores
  worker_pool pool(2, system.watch(2));
  if (pool.threads() < 2) GTEST_SKIP() << "no second thread here";
  batch_history history;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  // From the first batch, through the watch's looks: every batch on the caller.
  while (system.looks < 4 && std::chrono::steady_clock::now() < deadline) {
    ASSERT_EQ(threads_of_batch(pool, 4, std::chrono::microseconds(200), history).size(), 1u);
  }
  ASSERT_GE(system.looks, 4) << "the watch never looked";
  EXPECT_EQ(pool.threads_for(4, history), 2u) << "the batches are worth two threads";
  // The other task ends: the next look frees the threads.
  system.waiting = 0;
  std::size_t threads = 1;
  while (threads == 1 && std::chrono::steady_clock::now() < deadline) {
    threads = threads_of_batch(pool, 4, std::chrono::microseconds(200), history).size();
  }
  EXPECT_EQ(threads, 2u);
}

// Runs `child` in a forked process and returns its exit status, or -1 when it
// has not ended within a minute (then it is killed): a hung child fails the test.
template <typename Child>
int in_child_process(Child child) {
  const pid_t pid = fork();
  if (pid == 0) {
    int status = 1;
    try {
      status = child();
    } catch (...) {
    }
    _exit(status);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// Every job of a batch of long jobs, run on the pool; 0 when all ran once.
int run_batch(worker_pool& pool) {
  std::vector<std::atomic<int>> runs(16);
  for (int batch = 0; batch < 3; ++batch) {
    pool.run(16, [&](std::size_t k) {
      work_for(std::chrono::microseconds(100));
      runs[k].fetch_add(1);
    });
  }
  for (auto& r : runs) {
    if (r.load() != 3) return 3;
  }
  return 0;
}

// Returns once another of the pool's threads has run a job, or false after a
// minute. A test forks only then: a thread still starting up may hold a lock of
// the sanitizers' run-time at the fork, which the child would then wait for.
bool another_thread_ran_a_job(worker_pool& pool) {
  const auto caller = std::this_thread::get_id();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  std::atomic<bool> other{false};
  batch_history history;
  while (!other && std::chrono::steady_clock::now() < deadline) {
    pool.run(
        2 * pool.threads(),
        [&](std::size_t) {
          work_for(std::chrono::microseconds(200));
          if (std::this_thread::get_id() != caller) other = true;
        },
        &history);
  }
  return other;
}

TEST(PoolProcessTest, AForkedChildRunsBatchesAndEnds) {
  worker_pool pool(3, untold());
  ASSERT_EQ(run_batch(pool), 0);
  ASSERT_TRUE(another_thread_ran_a_job(pool));
  // The child has none of the pool's threads; it starts its own, and its pool
  // is destroyed at the end of the lambda without waiting for the parent's.
  EXPECT_EQ(in_child_process([&] {
              const int status = run_batch(pool);
              return status != 0 ? status : pool.threads() == 3 ? 0 : 4;
            }),
            0);
  EXPECT_EQ(run_batch(pool), 0) << "the parent's pool goes on";
  EXPECT_EQ(in_child_process([] {
              worker_pool in_child(2);
              return run_batch(in_child);
            }),
            0);
}

// In the child: no process or thread may start any more (as root, whom the
// limit does not bind, as the user nobody). Returns false when that cannot be
// arranged.
bool forbid_new_threads() {
  const rlimit none{0, 0};
  if (setrlimit(RLIMIT_NPROC, &none) != 0) return false;
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
  std::thread probe;
  try {
    probe = std::thread([] {});
  } catch (const std::system_error&) {
    return true;
  }
  probe.join();
  return false;
}

TEST(PoolProcessTest, APoolThatMayStartNoThreadRunsOnTheCaller) {
  worker_pool pool(2, untold());
  ASSERT_TRUE(another_thread_ran_a_job(pool));
  const int status = in_child_process([&] {
    if (!forbid_new_threads()) return 77;
    worker_pool limited(4);
    if (limited.threads() != 1 || limited.threads_asked() != 4) return 5;
    const int mine = run_batch(limited);
    if (mine != 0) return mine;
    // A pool inherited from the parent cannot start its threads here either.
    return run_batch(pool) != 0 ? 6 : pool.threads() == 1 ? 0 : 7;
  });
  if (status == 77) GTEST_SKIP() << "cannot forbid new threads here";
  EXPECT_EQ(status, 0);
}

}  // namespace
