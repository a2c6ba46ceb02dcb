// Seeded random worlds for sweeps and benchmarks, as world-file data:
//   "maze:COLUMNSxROWS:SEED"  a perfect maze of COLUMNS x ROWS cells (1 to 300
//                             each), carved by a depth-first walk;
//   "pillars:COUNT:SEED"      COUNT small square pillars (1 to 99,996) scattered
//                             over sixteen fields with lanes between them.
// Both have the four boundary walls of the default world and a robot pose in
// free space. The same text gives the same world on every run and machine: the
// generator has its own random numbers (splitmix64), not the standard library's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/world_file.h"

// Makes the world the text describes; false, with a message, for text that is not
// one of the forms above or lies outside their limits.
bool generate_world(std::string_view description, world_file_data& world, std::string& error);

// The generator's random numbers: splitmix64.
class splitmix64 {
 public:
  explicit splitmix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  // Uniform in [0, 1), 53 random bits.
  double unit();
  // Uniform in [lo, hi).
  double between(double lo, double hi) { return lo + (hi - lo) * unit(); }
  // Uniform in 0 .. n - 1 (n > 0).
  std::uint64_t below(std::uint64_t n);

 private:
  std::uint64_t state_;
};
