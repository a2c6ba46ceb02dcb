// A fixed pool of threads that runs one batch of jobs at a time: run(count, job)
// calls job(0) ... job(count - 1) spread over the pool's threads and the calling
// thread, and returns when all are done. A batch costs one wake-up of the pool,
// not a lock per job: the jobs are cut into one block per thread, and each
// thread takes the numbers of its own block from that block's atomic counter,
// then helps with the others' blocks. So job k runs on the same thread batch
// after batch (its memory stays in that core's cache) unless the thread falls
// behind. Between batches a thread waits busily for a fraction of a millisecond
// before it sleeps, so that batches in quick succession do not each pay for
// waking the threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class worker_pool {
 public:
  // threads counts the calling thread: 1 runs every job on the caller.
  explicit worker_pool(std::size_t threads);
  ~worker_pool();
  worker_pool(const worker_pool&) = delete;
  worker_pool& operator=(const worker_pool&) = delete;

  std::size_t threads() const { return workers_.size() + 1; }

  // Runs the batch; the first exception a job threw is thrown again here, once
  // every job has run. One batch at a time (callers serialise).
  void run(std::size_t count, const std::function<void(std::size_t)>& job);

 private:
  void work(std::size_t thread);
  void take_jobs(std::size_t thread);
  bool run_job_of_block(std::size_t block);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::atomic<std::uint64_t> generation_{0};  // one more for every batch
  bool stopping_ = false;                       // under mutex_
  std::atomic<std::size_t> busy_{0};            // workers still inside the batch

  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t count_ = 0;
  // Per block: the next job number to take (kept on cache lines of their own).
  struct alignas(64) block_counter {
    std::atomic<std::size_t> next{0};
    std::size_t end = 0;
  };
  std::vector<block_counter> blocks_;
  std::exception_ptr failure_;
  std::mutex failure_mutex_;
};
