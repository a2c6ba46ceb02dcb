// A simulation's own generator gives exactly the values of the C library's
// srand/rand, which every run of the program was made with.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/utility.h"

namespace {

// The C library's generator is the independent reference here: the simulation
// itself no longer uses it.
std::vector<std::int32_t> libc_values(unsigned seed, int count) {
  std::srand(seed);
  std::vector<std::int32_t> values(static_cast<std::size_t>(count));
  for (auto& v : values) v = std::rand();
  return values;
}

std::vector<std::int32_t> own_values(random_generator& rng, int count) {
  std::vector<std::int32_t> values(static_cast<std::size_t>(count));
  for (auto& v : values) v = rng.next();
  return values;
}

TEST(RandomGenerator, GivesTheCLibrarySequenceForEverySeed) {
  std::vector<unsigned> seeds = {0,           1,           2,          3,          7,
                                 42,          12345,       20240611,   2147483646, 2147483647,
                                 2147483648u, 4294967294u, 4294967295u};
  for (unsigned s = 100; s < 100000; s += 997) seeds.push_back(s * 2654435761u);
  for (const unsigned seed : seeds) {
    random_generator rng;
    rng.seed(seed);
    ASSERT_EQ(own_values(rng, 2000), libc_values(seed, 2000)) << "seed " << seed;
  }
}

TEST(RandomGenerator, LongSequencesAndFreshGeneratorsMatchToo) {
  random_generator rng;
  rng.seed(99);
  ASSERT_EQ(own_values(rng, 3'000'000), libc_values(99, 3'000'000));
  // A generator never seeded is the one before any srand: that of srand(1).
  random_generator fresh;
  EXPECT_EQ(own_values(fresh, 100), libc_values(1, 100));
  // Seeding again starts the sequence again, whatever came before.
  rng.seed(5);
  EXPECT_EQ(own_values(rng, 100), libc_values(5, 100));
}

TEST(RandomGenerator, TwoGeneratorsDoNotShareState) {
  random_generator a;
  random_generator b;
  a.seed(8);
  b.seed(8);
  const std::vector<std::int32_t> expected = libc_values(8, 500);
  std::vector<std::int32_t> from_a;
  std::vector<std::int32_t> from_b;
  for (int i = 0; i < 500; ++i) {
    from_a.push_back(a.next());
    if (i % 3 == 0) from_b.push_back(b.next());
  }
  while (from_b.size() < 500) from_b.push_back(b.next());
  EXPECT_EQ(from_a, expected);
  EXPECT_EQ(from_b, expected);
}

}  // namespace
