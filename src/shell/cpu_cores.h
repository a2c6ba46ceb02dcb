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
// What the system tells of the time some task waited for a core: the "some"
// line of Linux's CPU pressure, as in /proc/pressure/cpu
// ("some avg10=PERCENT avg60=PERCENT avg300=PERCENT total=MICROSECONDS").
struct cpu_pressure {
  double recent_share = 0;  // the share of the time, averaged over about 10 s
  double stall_ns = 0;      // the time since boot
};
// The figures of a pressure text; nothing when it holds no whole "some" line.
std::optional<cpu_pressure> cpu_pressure_of(std::string_view text);
// This system's figures, read from /proc/pressure/cpu; nothing where the system
// keeps none (another system, a kernel without pressure information).
std::optional<cpu_pressure> read_cpu_pressure();

// A reading of the pressure figures; nothing where the system does not tell.
using cpu_pressure_source = std::function<std::optional<cpu_pressure>()>;
// This system's figures (read_cpu_pressure) where they tell of the cores this
// thread runs on, that is where its affinity mask holds every CPU online; none
// (an empty source) where it holds fewer, since the figures then mix in the
// waits on CPUs it cannot run on.
cpu_pressure_source system_pressure_source();

// Tells whether the cores were oversubscribed lately: whether, on average, at
// least half a core's worth of tasks waited for a core over the last look's
// window (at least kWindow long), or before a first window over the system's
// last ten seconds or so: with one task more than the cores, one core always
// has a task waiting.
class oversubscription_watch {
 public:
  // The system's figure moves by its clock's ticks (up to 10 ms): windows of a
  // few milliseconds read 0 one time and twice the truth the next.
  static constexpr auto kWindow = std::chrono::milliseconds(20);

  explicit oversubscription_watch(cpu_pressure_source source = system_pressure_source(),
                                  std::size_t cpus = online_cpus());

  // The judgement of the last whole window, looking again when it has ended;
  // false for ever where the system does not tell.
  bool oversubscribed();

 private:
  bool judged(double waiting_share) const;

  cpu_pressure_source source_;
  double cpus_;
  bool told_ = true;  // whether the source tells anything
  std::chrono::steady_clock::time_point looked_at_;
  double stall_at_ = 0;
  bool oversubscribed_ = false;
};
