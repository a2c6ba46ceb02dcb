#include "shell/worker_pool.h"

worker_pool::worker_pool(std::size_t threads) : blocks_(threads < 1 ? 1 : threads) {
  for (std::size_t i = 1; i < blocks_.size(); ++i) workers_.emplace_back([this, i] { work(i); });
}

worker_pool::~worker_pool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void worker_pool::run(std::size_t count, const std::function<void(std::size_t)>& job) {
  if (count == 0) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
    count_ = count;
    const std::size_t n = blocks_.size();
    for (std::size_t b = 0; b < n; ++b) {
      blocks_[b].next.store(count * b / n, std::memory_order_relaxed);
      blocks_[b].end = count * (b + 1) / n;
    }
    failure_ = nullptr;
    busy_ = workers_.size();
    ++generation_;
  }
  wake_.notify_all();
  take_jobs(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return busy_ == 0; });
  job_ = nullptr;
  if (failure_) std::rethrow_exception(failure_);
}

bool worker_pool::run_job_of_block(std::size_t block) {
  block_counter& counter = blocks_[block];
  const std::size_t k = counter.next.fetch_add(1, std::memory_order_relaxed);
  if (k >= counter.end) return false;
  try {
    (*job_)(k);
  } catch (...) {
    const std::lock_guard<std::mutex> lock(failure_mutex_);
    if (!failure_) failure_ = std::current_exception();
  }
  return true;
}

void worker_pool::take_jobs(std::size_t thread) {
  const std::size_t n = blocks_.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t block = (thread + i) % n;
    while (run_job_of_block(block)) {
    }
  }
}

void worker_pool::work(std::size_t thread) {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    take_jobs(thread);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (--busy_ == 0) done_.notify_one();
    }
  }
}
