#include "shell/cpu_cores.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#if defined(__linux__)
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#endif

namespace {

// Half a core's worth of waiting tasks: one task more than the cores leaves one
// waiting on one core, and another thread of ours would only take turns there.
constexpr double kOversubscribedCores = 0.5;

std::optional<long long> number_in(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A decimal number without sign or exponent ("12", "50.73"), the whole text.
// Read by hand: the web page's library has no from_chars for doubles, and
// strtod would follow the locale's decimal point.
std::optional<double> decimal_in(std::string_view text) {
  const auto point = text.find('.');
  const auto whole = number_in(text.substr(0, point));
  if (!whole || *whole < 0) return std::nullopt;
  if (point == std::string_view::npos) return static_cast<double>(*whole);
  const std::string_view digits = text.substr(point + 1);
  const auto fraction = number_in(digits);
  if (!fraction || *fraction < 0 || digits.size() > 9) return std::nullopt;
  return static_cast<double>(*whole) +
         static_cast<double>(*fraction) / std::pow(10.0, static_cast<double>(digits.size()));
}

// The decimal number after `key` in a line of "key=value" words.
std::optional<double> decimal_after(std::string_view line, std::string_view key) {
  const auto at = line.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = line.substr(at + key.size());
  return decimal_in(rest.substr(0, rest.find(' ')));
}

#if defined(__linux__)
std::optional<std::string> file_text(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The quota of the cgroup at `path` under `mount` and of each cgroup above it
// (the smallest holds); cgroup v2 keeps it in cpu.max, v1 in two files.
std::optional<std::size_t> quota_of_cgroup(const std::string& mount, std::string path, bool v2) {
  std::optional<std::size_t> cores;
  for (;;) {
    const std::string folder = mount + path;
    std::optional<std::string> quota;
    if (v2) {
      quota = file_text(folder + "/cpu.max");
    } else {
      const auto q = file_text(folder + "/cpu.cfs_quota_us");
      const auto p = file_text(folder + "/cpu.cfs_period_us");
      if (q && p) quota = std::to_string(number_in(*q).value_or(-1)) + " " + *p;
    }
    if (quota) {
      if (const auto allowed = cores_of_cpu_quota(*quota)) {
        cores = cores ? std::min(*cores, *allowed) : *allowed;
      }
    }
    if (path.empty() || path == "/") return cores;
    path.erase(path.find_last_of('/'));
  }
}

// The quota of this process's cgroups, v2's and v1's "cpu" controller, read from
// /proc/self/cgroup ("ID:CONTROLLERS:PATH" lines).
std::optional<std::size_t> cgroup_cores() {
  const auto lines = file_text("/proc/self/cgroup");
  if (!lines) return std::nullopt;
  std::optional<std::size_t> cores;
  std::istringstream in(*lines);
  for (std::string line; std::getline(in, line);) {
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    std::optional<std::size_t> allowed;
    if (controllers.empty()) {
      allowed = quota_of_cgroup("/sys/fs/cgroup", path, true);
    } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
      for (const char* mount : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
        if (!allowed) allowed = quota_of_cgroup(mount, path, false);
      }
    }
    if (allowed) cores = cores ? std::min(*cores, *allowed) : *allowed;
  }
  return cores;
}
#endif

}  // namespace

std::optional<std::size_t> cores_of_cpu_quota(std::string_view quota_and_period) {
  const auto space = quota_and_period.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const auto quota = number_in(quota_and_period.substr(0, space));
  const auto period = number_in(quota_and_period.substr(space + 1));
  if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
  return static_cast<std::size_t>(std::max<long long>(1, (*quota + *period - 1) / *period));
}

std::size_t usable_cores() {
  std::size_t cores = affinity_cpus();
#if defined(__linux__)
  if (const auto allowed = cgroup_cores()) cores = std::min(cores, *allowed);
#endif
  return cores;
}

std::size_t affinity_cpus() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

std::size_t online_cpus() {
#if defined(__linux__)
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  if (cpus > 0) return static_cast<std::size_t>(cpus);
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

std::optional<cpu_pressure> cpu_pressure_of(std::string_view text) {
  constexpr std::string_view kSome = "some ";
  while (!text.empty()) {
    const auto end_of_line = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end_of_line);
    text.remove_prefix(std::min(end_of_line + 1, text.size()));
    if (!line.starts_with(kSome)) continue;
    const auto percent = decimal_after(line, " avg10=");
    const auto microseconds = decimal_after(line, " total=");
    if (!percent || !microseconds) return std::nullopt;
    return cpu_pressure{*percent / 100.0, *microseconds * 1000.0};
  }
  return std::nullopt;
}

std::optional<cpu_pressure> read_cpu_pressure() {
#if defined(__linux__)
  // Plain system calls, no stream: a pool looks every 20 ms while a try of its
  // threads waits. A text that fills the buffer is not the one expected (two
  // short lines), and its numbers may be cut short.
  const int file = open("/proc/pressure/cpu", O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  char text[512];
  const ssize_t size = read(file, text, sizeof text);
  close(file);
  if (size <= 0 || static_cast<std::size_t>(size) == sizeof text) return std::nullopt;
  return cpu_pressure_of(std::string_view(text, static_cast<std::size_t>(size)));
#else
  return std::nullopt;
#endif
}

cpu_pressure_source system_pressure_source() {
  if (affinity_cpus() < online_cpus()) return nullptr;
  return read_cpu_pressure;
}

oversubscription_watch::oversubscription_watch(cpu_pressure_source source, std::size_t cpus)
    : source_(std::move(source)),
      cpus_(static_cast<double>(std::max<std::size_t>(1, cpus))),
      looked_at_(std::chrono::steady_clock::now()) {
  const auto pressure = source_ ? source_() : std::nullopt;
  told_ = pressure.has_value();
  if (!pressure) return;
  stall_at_ = pressure->stall_ns;
  oversubscribed_ = judged(pressure->recent_share);
}

bool oversubscription_watch::judged(double waiting_share) const {
  // The system's figure averages the CPUs' time with a task waiting over their
  // busy time. While tasks wait every CPU is busy (an idle one takes a waiting
  // task over), so times the CPUs it is the cores with a task waiting.
  return waiting_share * cpus_ >= kOversubscribedCores;
}

bool oversubscription_watch::oversubscribed() {
  if (!told_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - looked_at_ < kWindow) return oversubscribed_;
  const auto pressure = source_();
  if (!pressure) {
    told_ = false;
    return false;
  }
  const double window_ns = std::chrono::duration<double, std::nano>(now - looked_at_).count();
  oversubscribed_ = judged(std::max(0.0, pressure->stall_ns - stall_at_) / window_ns);
  looked_at_ = now;
  stall_at_ = pressure->stall_ns;
  return oversubscribed_;
}
