// A pool of threads that runs one batch of jobs at a time: run(count, job) calls
// job(0) ... job(count - 1) spread over the calling thread and as many of the
// pool's threads as the batch is worth, and returns when all are done.
//
// It never loses to running the batch on the caller alone, quiet or under load:
// - Nothing waits busily. An idle thread sleeps until a batch asks for it by its
//   own wake-up word, so a busy machine's cores are left to their work.
// - The caller never waits for a thread that has not begun on the batch: the
//   jobs are cut into one block per thread, each thread takes the numbers of its
//   own block from that block's atomic counter and then helps with the others'
//   blocks, so the caller takes the jobs of a thread that is late (not yet
//   scheduled on a loaded machine) and closes the batch. A thread that comes
//   later finds it closed and sleeps again. The caller waits only for jobs that
//   have begun.
// - Threads are woken only for a batch worth their cost: the pool measures what
//   a job costs, wakes no thread for a batch shorter than a few wake-ups, and for
//   the batches that could go either way keeps the time per job on the caller
//   alone and on several threads and uses the faster, trying the other now and
//   then (less and less often while it keeps losing), since the machine's load
//   comes and goes; a try measures the other way afresh.
// - Threads are not tried while the cores are oversubscribed (tasks already wait
//   for a core). Another thread would then only take turns with them, and each
//   try moves the caller off a core it may have had to itself, which costs it
//   for long after. A try put off waits for the cores to be free again. Where
//   the system does not tell, the measurements alone decide.
// Environment k runs on the same thread batch after batch (its memory stays in
// that core's cache) unless that thread falls behind.
//
// A thread the system refuses to start (a limit on processes or on memory) is no
// error: the pool runs on the threads it has, the caller alone if need be. In a
// process forked from the one that made the pool, whose threads stayed behind,
// the pool starts threads of its own on its first batch.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "shell/cpu_cores.h"

// What the pool learnt of one kind of batch, to choose how many threads it is
// worth. A caller that runs batches of different kinds (long resets, short
// steps) keeps one for each.
struct batch_history {
  double job_ns = 0;             // what a job costs on one thread (0: not measured yet)
  double alone_ns_per_job = 0;   // the wall time per job on the caller alone ...
  double shared_ns_per_job = 0;  // ... and on several threads, when tried
  std::uint32_t batches = 0;
  std::uint32_t next_trial = 8;      // the batch that tries the other way next
  std::uint32_t trial_interval = 8;  // batches between two tries of the slower way
};

class worker_pool {
 public:
  // threads counts the calling thread: 1 runs every job on the caller. The
  // threads start now; threads() says how many the system let start. The watch
  // tells whether the cores are oversubscribed (the system's own by default).
  explicit worker_pool(std::size_t threads,
                       oversubscription_watch watch = oversubscription_watch());
  ~worker_pool();
  worker_pool(const worker_pool&) = delete;
  worker_pool& operator=(const worker_pool&) = delete;

  std::size_t threads() const { return workers_.size() + 1; }
  // The threads asked for, whether or not they could start.
  std::size_t threads_asked() const { return asked_; }

  // Runs the batch; the first exception a job threw is thrown again here, once
  // every job has run. One batch at a time (callers serialise). While the caller
  // waits for the jobs other threads began, it calls `waiting` (when given) about
  // every kWaitingInterval; that must not throw. The history (the pool's own
  // when none is given) chooses the threads.
  void run(std::size_t count, const std::function<void(std::size_t)>& job,
           batch_history* history = nullptr, const std::function<void()>* waiting = nullptr);

  // The threads the next batch of `count` jobs will use by the history alone,
  // before the cores' load is looked at (for the tests).
  std::size_t threads_for(std::size_t count, const batch_history& history) const;

  static constexpr auto kWaitingInterval = std::chrono::milliseconds(20);

 private:
  struct alignas(64) worker {
    std::atomic<std::uint32_t> call{0};  // the batch asked of it, or kStop
    std::thread thread;
  };
  struct alignas(64) block_counter {
    std::atomic<std::size_t> next{0};
    std::size_t end = 0;
  };

  void start_workers(std::size_t wanted);
  void forget_workers();
  void adopt_after_fork();
  void work(worker& self, std::size_t index);
  bool enter(std::uint32_t batch);
  void leave();
  void take_jobs(std::size_t block);
  bool run_job_of_block(std::size_t block);
  void wait_for_workers(const std::function<void()>* waiting);
  static bool sharing_known_faster(const batch_history& history);
  void learn(batch_history& history, std::size_t count, std::size_t used, double wall_ns,
             double busy_ns);

  std::size_t asked_;
  std::vector<std::unique_ptr<worker>> workers_;
  long owner_process_;  // the process whose threads workers_ are
  std::uint32_t batch_ = 0;
  // The open batch's number (high half; 0 when closed) and the threads inside it.
  std::atomic<std::uint64_t> open_{0};
  // The locks the threads share. A forked child takes new ones: another thread
  // may have held one at the fork (a worker leaving a batch holds the first
  // while it wakes the caller), and no thread is left in the child to free it.
  struct shared_locks {
    std::mutex done_mutex;
    std::condition_variable done;
    std::mutex failure_mutex;
  };
  std::unique_ptr<shared_locks> locks_ = std::make_unique<shared_locks>();

  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t blocks_used_ = 1;
  std::vector<block_counter> blocks_;
  std::atomic<std::int64_t> busy_ns_{0};  // the threads' time inside the batch
  std::exception_ptr failure_;
  batch_history own_history_;
  oversubscription_watch watch_;
};
