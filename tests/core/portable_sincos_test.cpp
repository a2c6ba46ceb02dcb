// portable_sincos against portable_sin and portable_cos, bit for bit, on every
// path of theirs: the small arguments each cuts off differently, the kernels
// without reduction, the reduction's medium and large cases, and the values
// that are not finite.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/portable_math.h"

namespace {

std::uint64_t bits_of(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

void expect_same_as_sin_and_cos(double x) {
  double s = 0.0, c = 0.0;
  portable_sincos(x, s, c);
  const double want_s = portable_sin(x);
  const double want_c = portable_cos(x);
  if (std::isnan(want_s)) {
    EXPECT_TRUE(std::isnan(s)) << x;
  } else {
    EXPECT_EQ(bits_of(s), bits_of(want_s)) << "sin of " << x;
  }
  if (std::isnan(want_c)) {
    EXPECT_TRUE(std::isnan(c)) << x;
  } else {
    EXPECT_EQ(bits_of(c), bits_of(want_c)) << "cos of " << x;
  }
}

struct argument_range {
  double low;
  double high;
};

TEST(PortableSinCos, EqualsSinAndCosBitForBitOnEveryPath) {
  constexpr double kQuarterPi = 0.7853981633974483;
  std::vector<double> values = {0.0,
                                -0.0,
                                std::ldexp(1.0, -26),
                                std::ldexp(1.0, -27) * std::sqrt(2.0),
                                std::ldexp(1.0, -27),
                                kQuarterPi,
                                std::nextafter(kQuarterPi, 1.0),
                                std::nextafter(kQuarterPi, 0.0),
                                3.141592653589793,
                                1e22,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  // Around each cut-off, and spread over the ranges each path takes.
  const argument_range ranges[] = {{0.0, 1e-7},  {1e-9, 4e-8},  {0.0, kQuarterPi}, {0.7, 0.9},
                                   {-4.0, 4.0},  {-100, 100},   {1e5, 1e7},        {1e8, 1e12},
                                   {1e15, 1e20}, {1e300, 1e308}};
  std::mt19937_64 rng(20261210);
  for (const argument_range& range : ranges) {
    std::uniform_real_distribution<double> pick(range.low, range.high);
    for (int n = 0; n < 4000; ++n) values.push_back(pick(rng));
  }
  for (int k = -60; k <= 60; ++k) values.push_back(k * kQuarterPi);  // every octant's edge
  const std::size_t count = values.size();
  for (std::size_t n = 0; n < count; ++n) values.push_back(-values[n]);
  for (double x : values) expect_same_as_sin_and_cos(x);
}

}  // namespace
