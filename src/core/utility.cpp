#include "core/utility.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {
bool simulated = false;
double simulated_now = 0.0;
}  // namespace

double f_rand(double a, double b) {
  // The standard generator may have a wider range than 0..32767 (glibc's goes to
  // 2^31 - 1); its low 15 bits are uniform over exactly that range.
  return f_rand_value(a, b, std::rand() & 0x7FFF);
}

double f_rand_value(double a, double b, int r) {
  return a + (b - a) * (static_cast<double>(r) / 32767.0);
}

double angle_wrap(double angle) {
  if (angle > kTwoPi) return angle - kTwoPi;
  if (angle < 0.0) return angle + kTwoPi;
  return angle;
}

double get_time() {
  if (simulated) return simulated_now;
  using clock = std::chrono::steady_clock;
  const auto ticks = clock::now().time_since_epoch().count();
  constexpr auto freq = static_cast<double>(clock::period::den) / clock::period::num;
  return static_cast<double>(ticks) / freq;
}

void use_simulated_clock(double start_seconds) {
  simulated = true;
  simulated_now = start_seconds;
}

void advance_simulated_clock(double seconds) {
  simulated_now += seconds;
}

void use_real_clock() {
  simulated = false;
}
