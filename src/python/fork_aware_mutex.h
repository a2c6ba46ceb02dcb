// A recursive mutex that knows when its holder was lost to a fork. A process
// forked while one of its threads held a mutex has, in the child, only a copy of
// the thread that forked: nobody there will ever let the mutex go, and what it
// guards may be half changed. Where a std::mutex would wait for ever, this one
// throws holder_lost, so that a simulation or an environment inherited in that
// state fails with a message instead of hanging the child.
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>

class holder_lost : public std::runtime_error {
 public:
  holder_lost();
};

class fork_aware_mutex {
 public:
  fork_aware_mutex() = default;
  fork_aware_mutex(const fork_aware_mutex&) = delete;
  fork_aware_mutex& operator=(const fork_aware_mutex&) = delete;

  // Waits for the mutex (the same thread may hold it several times); throws
  // holder_lost when its holder is not a thread of this process.
  void lock();
  // Takes the mutex when nobody else holds it; never waits.
  bool try_lock();
  void unlock();
  // Whether a thread that is not in this process holds it (a thread of the
  // parent, when this process was forked while that thread held it).
  bool holder_lost() const;

 private:
  bool lost(std::int32_t holder) const;

  std::atomic<std::int32_t> holder_{0};  // the holder's thread id, 0 when free
  std::uint32_t depth_ = 0;              // how often the holder holds it
};
