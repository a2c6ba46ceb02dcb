// The machine's cores as this process sees them: how many it may use, and
// whether they are oversubscribed (tasks waiting for a core), which tells a pool
// of threads whether waking another thread can pay.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

// The cores this process may use: the CPUs of its affinity mask, fewer when a
// control group's CPU quota allows fewer (rounded up); at least 1.
std::size_t usable_cores();
// The cores a cgroup CPU quota allows: from cgroup v2's cpu.max ("max 100000",
// "150000 100000") or v1's cpu.cfs_quota_us and cpu.cfs_period_us put together
// as "QUOTA PERIOD" (a quota of -1 is none); nothing when there is no quota or
// the text is not one.
std::optional<std::size_t> cores_of_cpu_quota(std::string_view quota_and_period);

// The CPUs the system has online, whether or not this process may use them.
std::size_t online_cpus();
// The CPUs of the calling thread's affinity mask (all online where the system
// keeps no mask).
std::size_t affinity_cpus();
// The time, in nanoseconds since boot, that some task waited for a core (the
// "some" line of Linux's CPU pressure, as in /proc/pressure/cpu:
// "some avg10=0.00 avg60=0.00 avg300=0.00 total=MICROSECONDS"); nothing when
// the text holds no such line.
std::optional<double> cpu_stall_ns_of_pressure(std::string_view pressure);
// This system's figure, read from /proc/pressure/cpu; nothing where the system
// keeps none (another system, a kernel without pressure information).
std::optional<double> cpu_stall_ns();

// The cumulative time some task waited for a core, in nanoseconds; nothing
// where the system does not tell.
using cpu_stall_source = std::function<std::optional<double>()>;
// This system's figure (cpu_stall_ns) where it tells of the cores this thread
// runs on, that is where its affinity mask holds every CPU online; none (an
// empty source) where it holds fewer, since the figure then mixes in the waits
// on CPUs it cannot run on.
cpu_stall_source system_stall_source();

// Tells whether the cores were oversubscribed lately: whether, on average, at
// least half a core's worth of tasks waited for a core over the last look's
// window (at least kWindow long): with one task more than the cores, one core
// always has a task waiting.
class oversubscription_watch {
 public:
  using stall_source = cpu_stall_source;
  // The system's figure moves by its clock's ticks (up to 10 ms): windows of a
  // few milliseconds read 0 one time and twice the truth the next.
  static constexpr auto kWindow = std::chrono::milliseconds(20);

  explicit oversubscription_watch(stall_source source = system_stall_source(),
                                  std::size_t cpus = online_cpus());

  // The judgement of the last whole window, looking again when it has ended:
  // nothing until a first window has passed; false for ever where the system
  // does not tell.
  std::optional<bool> oversubscribed();

 private:
  stall_source source_;
  double cpus_;
  bool told_ = true;  // whether the source tells anything
  std::chrono::steady_clock::time_point looked_at_;
  double stall_at_ = 0;
  std::optional<bool> oversubscribed_;
};
