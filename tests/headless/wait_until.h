// The program tests wait for a state of a child process, never for a moment: a
// condition is polled until it holds, with a limit generous enough for a loaded
// machine that only ends a test that would otherwise hang.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

// Polls `holds` every few milliseconds: true once it holds, false if the limit
// passes first.
inline bool wait_until(const std::function<bool()>& holds,
                       std::chrono::seconds limit = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The processor time a process has used so far, in seconds (utime and stime in
// /proc/PID/stat), or -1 once it has ended.
inline double cpu_seconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return -1;
  // The command name in parentheses may hold spaces: count from the last ')'.
  const std::size_t name_end = text.rfind(')');
  if (name_end == std::string::npos) return -1;
  std::istringstream fields(text.substr(name_end + 1));
  std::string field;
  if (!(fields >> field) || field == "Z" || field == "X") return -1;  // field 3: the state
  for (int k = 4; k < 14 && fields >> field; ++k) {
  }
  long long user = 0;
  long long system = 0;
  if (!(fields >> user >> system)) return -1;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}
