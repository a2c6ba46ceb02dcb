#include "shell/worker_pool.h"

#include <chrono>

namespace {

// How long a thread waits busily for the next batch (or, the caller, for the
// batch's end) before it sleeps: a wake-up from sleep costs tens of
// microseconds, as long as a whole batch of small jobs.
constexpr auto kSpinFor = std::chrono::microseconds(200);

void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Spins until ready() or the spin time is over; true when ready.
template <typename Ready>
bool spin_until(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kSpinFor;
  for (int n = 0;; ++n) {
    if (ready()) return true;
    relax();
    if ((n & 63) == 63 && std::chrono::steady_clock::now() > until) return false;
  }
}

}  // namespace

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
  job_ = &job;
  count_ = count;
  const std::size_t n = blocks_.size();
  for (std::size_t b = 0; b < n; ++b) {
    blocks_[b].next.store(count * b / n, std::memory_order_relaxed);
    blocks_[b].end = count * (b + 1) / n;
  }
  failure_ = nullptr;
  busy_.store(workers_.size(), std::memory_order_relaxed);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    generation_.fetch_add(1, std::memory_order_release);
  }
  wake_.notify_all();
  take_jobs(0);
  if (!spin_until([this] { return busy_.load(std::memory_order_acquire) == 0; })) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return busy_.load(std::memory_order_acquire) == 0; });
  }
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
    const auto batch_ready = [&] { return generation_.load(std::memory_order_acquire) != seen; };
    if (!spin_until(batch_ready)) {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || batch_ready(); });
      if (stopping_) return;
    }
    seen = generation_.load(std::memory_order_acquire);
    take_jobs(thread);
    if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      // The caller may be asleep on done_: take the lock so that the wake-up
      // cannot fall between its test and its wait.
      const std::lock_guard<std::mutex> lock(mutex_);
      done_.notify_one();
    }
  }
}
