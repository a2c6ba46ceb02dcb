// Shared helpers: the random draw, angle wrapping, the clock and vector length,
// and the two small geometric records every unit passes around.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

// Two pi to the digits every angle computation of the simulator uses.
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;

// A position or a vector in world units.
struct point {
  double x = 0.0;
  double y = 0.0;
};

// A segment from (x1, y1) to (x2, y2); for a box, two opposite corners.
struct line {
  double x1 = 0.0;
  double y1 = 0.0;
  double x2 = 0.0;
  double y2 = 0.0;
};

// a + (b - a) * r / 32767 with r the next value of the standard generator
// (std::rand, seeded with std::srand) reduced to 0..32767, both ends reachable.
double f_rand(double a, double b);
// The value f_rand gives for the generator value r (0 to 32767).
double f_rand_value(double a, double b, int r);

// One correction by 2 pi: above 2 pi subtract it, below 0 add it. Not a modulo.
double angle_wrap(double angle);

// Seconds from a monotonic clock, or from the simulated clock while one is in use.
// Only differences are meaningful.
double get_time();

// sqrt(x * x + y * y). Inline: the field lattice calls it tens of thousands of
// times per frame.
inline double vect_mag(double x, double y) {
  return std::sqrt(x * x + y * y);
}

// Whether two values are the same bits: a cache keyed on a double must tell -0
// from 0 and match a NaN with itself, which == does not.
inline bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Switches get_time() to a simulated clock that starts at start_seconds and moves
// only through advance_simulated_clock(). Tests and the headless runner use it so
// that runs are reproducible.
void use_simulated_clock(double start_seconds);
void advance_simulated_clock(double seconds);
// Switches get_time() back to the monotonic clock.
void use_real_clock();
