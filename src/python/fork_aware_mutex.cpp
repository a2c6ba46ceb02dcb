#include "python/fork_aware_mutex.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::int32_t this_thread_id() {
  return static_cast<std::int32_t>(gettid());
}

}  // namespace

holder_lost::holder_lost()
    : std::runtime_error(
          "this process was forked while another of its threads was using this object, which "
          "may have been left half changed; it cannot be used in the child process: make a new "
          "one there (or fork before starting threads, or use the \"spawn\" start method)") {}

void fork_aware_mutex::lock() {
  const std::int32_t me = this_thread_id();
  if (holder_.load(std::memory_order_acquire) == me) {
    ++depth_;
    return;
  }
  for (;;) {
    std::int32_t holder = 0;
    if (holder_.compare_exchange_strong(holder, me, std::memory_order_acquire)) {
      depth_ = 1;
      return;
    }
    if (lost(holder)) throw ::holder_lost();
    holder_.wait(holder, std::memory_order_relaxed);
  }
}

bool fork_aware_mutex::try_lock() {
  const std::int32_t me = this_thread_id();
  std::int32_t holder = 0;
  if (holder_.compare_exchange_strong(holder, me, std::memory_order_acquire)) {
    depth_ = 1;
    return true;
  }
  if (holder != me) return false;
  ++depth_;
  return true;
}

void fork_aware_mutex::unlock() {
  if (--depth_ > 0) return;
  holder_.store(0, std::memory_order_release);
  holder_.notify_all();
}

bool fork_aware_mutex::holder_lost() const {
  const std::int32_t holder = holder_.load(std::memory_order_acquire);
  return holder != 0 && holder != this_thread_id() && lost(holder);
}

bool fork_aware_mutex::lost(std::int32_t holder) const {
  // A thread that is not in this process (tgkill with no signal only asks); one
  // that let go and ended meanwhile is no holder any more, hence the second look.
  return syscall(SYS_tgkill, getpid(), holder, 0) != 0 && errno == ESRCH &&
         holder_.load(std::memory_order_acquire) == holder;
}
