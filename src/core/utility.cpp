#include "core/utility.h"

#include <chrono>

#include "core/simulation.h"

void random_generator::seed(std::uint32_t seed) {
  // As glibc seeds its generator: a zero seed becomes 1, the words follow by
  // 16807 * w mod (2^31 - 1) in Schrage's form on the seed taken as a signed
  // 32-bit value (so seeds from 2^31 on start from a negative word, as there),
  // and the first 310 values are thrown away.
  if (seed == 0) seed = 1;
  words[0] = seed;
  auto word = static_cast<std::int32_t>(seed);
  for (int i = 1; i < kWords; ++i) {
    const std::int64_t hi = word / 127773;
    const std::int64_t lo = word % 127773;
    std::int64_t next = 16807 * lo - 2836 * hi;
    if (next < 0) next += 2147483647;
    word = static_cast<std::int32_t>(next);
    words[i] = static_cast<std::uint32_t>(word);
  }
  front = 3;
  rear = 0;
  for (int i = 0; i < kWords * 10; ++i) next();
}

std::int32_t random_generator::next() {
  const std::uint32_t sum = words[front] + words[rear];
  words[front] = sum;
  if (++front == kWords) front = 0;
  if (++rear == kWords) rear = 0;
  return static_cast<std::int32_t>(sum >> 1);
}

double f_rand(simulation& sim, double a, double b) {
  // The generator's range is 0..2^31 - 1; its low 15 bits are uniform over
  // exactly 0..32767.
  return f_rand_value(a, b, sim.rng.next() & 0x7FFF);
}

double f_rand_value(double a, double b, int r) {
  return a + (b - a) * (static_cast<double>(r) / 32767.0);
}

double angle_wrap(double angle) {
  if (angle > kTwoPi) return angle - kTwoPi;
  if (angle < 0.0) return angle + kTwoPi;
  return angle;
}

double get_time(const simulation& sim) {
  if (sim.clock.simulated) return sim.clock.simulated_now;
  using clock = std::chrono::steady_clock;
  const auto ticks = clock::now().time_since_epoch().count();
  constexpr auto freq = static_cast<double>(clock::period::den) / clock::period::num;
  return static_cast<double>(ticks) / freq;
}

void use_simulated_clock(simulation& sim, double start_seconds) {
  sim.clock.simulated = true;
  sim.clock.simulated_now = start_seconds;
}

void advance_simulated_clock(simulation& sim, double seconds) {
  sim.clock.simulated_now += seconds;
}

void use_real_clock(simulation& sim) {
  sim.clock.simulated = false;
}
