#include "shell/worker_pool.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#if defined(__unix__) || defined(__EMSCRIPTEN__)
#include <unistd.h>
#endif

namespace {

// A batch is worth another thread only when it holds at least this much work for
// it: a wake-up from sleep costs some microseconds, up to tens on a virtual
// machine, and the thread then has to fetch its environments' memory. Measured
// with the batched environment on 2 cores: 16 environments of one tick (about
// 50 µs of work) gained nothing from a second thread quiet and could lose under
// load, while 32 gained about 1.15 times.
constexpr double kMinWorkPerThreadNs = 50'000;
// The tries of the slower way: at most this many batches apart.
constexpr std::uint32_t kMaxTrialInterval = 256;
constexpr std::uint32_t kFirstTrialInterval = 8;
// How much of a new measurement goes into the running figures.
constexpr double kNewWeight = 0.125;

constexpr std::uint32_t kStop = 0xFFFFFFFF;
constexpr std::uint64_t kInsideMask = 0xFFFFFFFF;

// The running wall time per job of one way, which chooses the way: every batch
// counts in full. A batch held up by the scheduler (a thread descheduled inside
// a job, which the caller must wait for) is what sharing costs on a busy
// machine, and a figure that cut it short would keep a losing way.
double averaged(double figure, double measured) {
  if (figure <= 0) return measured;
  return figure + kNewWeight * (measured - figure);
}

// The running figure of what a job costs, which says whether a batch is worth
// more threads: a measurement is first held within half and twice the figure, so
// that one batch cut short by the scheduler does not change the threads woken.
double smoothed(double figure, double measured) {
  if (figure <= 0) return measured;
  return averaged(figure, std::clamp(measured, figure / 2, figure * 2));
}

double nanoseconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

long this_process() {
#if defined(__unix__) || defined(__EMSCRIPTEN__)
  return static_cast<long>(getpid());
#else
  return 0;
#endif
}

}  // namespace

worker_pool::worker_pool(std::size_t threads, oversubscription_watch watch)
    : asked_(std::max<std::size_t>(1, threads)),
      owner_process_(this_process()),
      blocks_(asked_),
      watch_(std::move(watch)) {
  start_workers(asked_ - 1);
}

void worker_pool::start_workers(std::size_t wanted) {
  workers_.reserve(wanted);
  while (workers_.size() < wanted) {
    auto w = std::make_unique<worker>();
    worker* self = w.get();
    const std::size_t index = workers_.size() + 1;
    try {
      w->thread = std::thread([this, self, index] { work(*self, index); });
    } catch (const std::system_error&) {
      return;  // the system lets no more threads start: go on with those there are
    }
    workers_.push_back(std::move(w));
  }
}

worker_pool::~worker_pool() {
  if (this_process() != owner_process_) {
    forget_workers();
    return;
  }
  for (auto& w : workers_) {
    w->call.store(kStop, std::memory_order_release);
    w->call.notify_one();
    w->thread.join();
  }
}

void worker_pool::forget_workers() {
  // In a forked child the parent's threads are not there to stop or join; their
  // handles are left alone (a handle destroyed unjoined would end the process).
  for (auto& w : workers_) (void)w.release();
  workers_.clear();
}

void worker_pool::adopt_after_fork() {
  // The parent's threads did not come along: start this process's own. No batch
  // is open here for this caller: the thread that forked was not inside one (a
  // batch's caller does nothing else until it ends), and a batch that another
  // thread had open belongs to a caller that did not come along.
  forget_workers();
  // The old locks are left as they are (one may be locked for ever): destroying
  // a condition variable that another thread waited on can block.
  (void)locks_.release();
  locks_ = std::make_unique<shared_locks>();
  open_.store(0, std::memory_order_relaxed);
  owner_process_ = this_process();
  start_workers(asked_ - 1);
}

std::size_t worker_pool::threads_for(std::size_t count, const batch_history& history) const {
  if (workers_.empty() || count < 2 || history.job_ns <= 0) return 1;
  const double work = history.job_ns * static_cast<double>(count);
  const std::size_t worth = 1 + static_cast<std::size_t>(work / kMinWorkPerThreadNs);
  const std::size_t k = std::min({threads(), count, worth});
  if (k < 2) return 1;
  if (history.shared_ns_per_job <= 0) return k;  // not tried yet
  const bool trial = history.batches >= history.next_trial;
  return sharing_known_faster(history) != trial ? k : 1;
}

bool worker_pool::sharing_known_faster(const batch_history& history) {
  return history.shared_ns_per_job > 0 && history.shared_ns_per_job < history.alone_ns_per_job;
}

void worker_pool::learn(batch_history& h, std::size_t count, std::size_t used, double wall_ns,
                        double busy_ns) {
  const double n = static_cast<double>(count);
  const bool was_shared_faster = h.shared_ns_per_job < h.alone_ns_per_job;
  const bool both_known = h.shared_ns_per_job > 0 && h.alone_ns_per_job > 0;
  const bool trial = both_known && h.batches >= h.next_trial && (used > 1) != was_shared_faster;
  h.job_ns = smoothed(h.job_ns, busy_ns / n);
  double& figure = used > 1 ? h.shared_ns_per_job : h.alone_ns_per_job;
  // A trial's measurement replaces the figure of the way it tries: that figure
  // is up to kMaxTrialInterval batches old, taken under what may have been
  // another load, and smoothing would take many trials to correct it. A trial
  // cut short by the scheduler is corrected as the way it chose runs on, or by
  // the next trial.
  figure = trial ? wall_ns / n : averaged(figure, wall_ns / n);
  ++h.batches;
  if (trial) {
    const bool shared_faster = h.shared_ns_per_job < h.alone_ns_per_job;
    h.trial_interval = shared_faster == was_shared_faster
                           ? std::min(h.trial_interval * 2, kMaxTrialInterval)
                           : kFirstTrialInterval;
    h.next_trial = h.batches + h.trial_interval;
  }
}

void worker_pool::run(std::size_t count, const std::function<void(std::size_t)>& job,
                      batch_history* history, const std::function<void()>* waiting) {
  if (count == 0) return;
  if (this_process() != owner_process_) adopt_after_fork();
  batch_history& h = history != nullptr ? *history : own_history_;
  std::size_t used = threads_for(count, h);
  // Threads not yet known to be faster are tried only on cores not oversubscribed.
  if (used > 1 && !sharing_known_faster(h) && watch_.oversubscribed()) used = 1;
  const auto start = std::chrono::steady_clock::now();

  job_ = &job;
  failure_ = nullptr;
  blocks_used_ = used;
  for (std::size_t b = 0; b < used; ++b) {
    blocks_[b].next.store(count * b / used, std::memory_order_relaxed);
    blocks_[b].end = count * (b + 1) / used;
  }
  busy_ns_.store(0, std::memory_order_relaxed);
  if (used > 1) {
    batch_ = batch_ + 1 == kStop || batch_ + 1 == 0 ? 1 : batch_ + 1;
    open_.store(std::uint64_t{batch_} << 32, std::memory_order_release);
    for (std::size_t i = 1; i < used; ++i) {
      worker& w = *workers_[i - 1];
      w.call.store(batch_, std::memory_order_release);
      w.call.notify_one();
    }
  }
  take_jobs(0);
  const double own_ns = nanoseconds_since(start);
  if (used > 1) wait_for_workers(waiting);
  job_ = nullptr;

  const double wall = nanoseconds_since(start);
  const double busy = own_ns + static_cast<double>(busy_ns_.load(std::memory_order_relaxed));
  learn(h, count, used, wall, busy);
  if (failure_) std::rethrow_exception(failure_);
}

void worker_pool::wait_for_workers(const std::function<void()>* waiting) {
  // Closes the batch: a thread that has not entered it yet will not.
  const std::uint64_t before = open_.fetch_and(kInsideMask, std::memory_order_acq_rel);
  if ((before & kInsideMask) == 0) return;
  std::unique_lock<std::mutex> lock(locks_->done_mutex);
  while ((open_.load(std::memory_order_acquire) & kInsideMask) != 0) {
    if (locks_->done.wait_for(lock, kWaitingInterval) == std::cv_status::timeout && waiting) {
      lock.unlock();
      (*waiting)();
      lock.lock();
    }
  }
}

bool worker_pool::enter(std::uint32_t batch) {
  std::uint64_t open = open_.load(std::memory_order_acquire);
  while ((open >> 32) == batch) {
    if (open_.compare_exchange_weak(open, open + 1, std::memory_order_acq_rel)) return true;
  }
  return false;
}

void worker_pool::leave() {
  const std::uint64_t before = open_.fetch_sub(1, std::memory_order_acq_rel);
  if ((before >> 32) == 0 && (before & kInsideMask) == 1) {
    // The caller closed the batch and may be asleep: take the lock so that the
    // wake-up cannot fall between its test and its wait.
    const std::lock_guard<std::mutex> lock(locks_->done_mutex);
    locks_->done.notify_one();
  }
}

bool worker_pool::run_job_of_block(std::size_t block) {
  block_counter& counter = blocks_[block];
  const std::size_t k = counter.next.fetch_add(1, std::memory_order_relaxed);
  if (k >= counter.end) return false;
  try {
    (*job_)(k);
  } catch (...) {
    const std::lock_guard<std::mutex> lock(locks_->failure_mutex);
    if (!failure_) failure_ = std::current_exception();
  }
  return true;
}

void worker_pool::take_jobs(std::size_t block) {
  const std::size_t n = blocks_used_;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t b = (block + i) % n;
    while (run_job_of_block(b)) {
    }
  }
}

void worker_pool::work(worker& self, std::size_t index) {
  std::uint32_t seen = 0;
  for (;;) {
    self.call.wait(seen, std::memory_order_acquire);
    const std::uint32_t batch = self.call.load(std::memory_order_acquire);
    if (batch == kStop) return;
    seen = batch;
    if (!enter(batch)) continue;  // closed before this thread came
    const auto start = std::chrono::steady_clock::now();
    take_jobs(index);
    busy_ns_.fetch_add(static_cast<std::int64_t>(nanoseconds_since(start)),
                       std::memory_order_relaxed);
    leave();
  }
}
