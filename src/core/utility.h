// Shared helpers: the random draw and the simulation's own generator, angle
// wrapping, the clock and vector length, the two small geometric records every
// unit passes around, and the holder of caches that a copy starts without.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

struct simulation;

// Two pi to the digits every angle computation of the simulator uses.
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;

// Field descriptions. Each record of a simulation's state names its fields once,
// next to their declarations, in a static member
//   template <typename Self, typename Visit> static void fields(Self& record, Visit& visit)
// that calls, for every field in order (Self is the record, const or not):
//   visit(member, "name", limit)  a number, or an array or record of numbers that
//                                 all take the limit;
//   visit(member, "name")         a flag, an enumeration, or a described record
//                                 (or an array, vector or optional of them);
//   visit.list(head, count, "name", most)  a linked list and the count it keeps
//                                 (visit.list(head, "name", most) for one without),
//                                 of at most `most` nodes.
// The limit says which values a run can give the field (the types below); a
// record whose fields depend on each other, or on other records, also has
//   static void relations(const Self& record, field_check& check)
// that requires each relation of a run. Code that goes through a record field by
// field uses the descriptions: the snapshots (shell/snapshot.cpp) write, read and
// size records with them, and refuse a value beyond its limit or a relation that
// does not hold, so that a state from outside is always one a run can have. A
// number described without a limit does not compile there. A record's operator==
// is defaulted instead, so that it sees every member whether a description names
// it or not.

// Every value of the field's type is one a run can have (counters, the random
// generator's words, colours).
struct any_value {
  template <typename T>
  constexpr bool admits(T) const {
    return true;
  }
};

// A whole number from low to high.
struct whole_limit {
  std::int64_t low;
  std::int64_t high;

  template <typename T>
  constexpr bool admits(T value) const {
    if constexpr (std::is_unsigned_v<T>) {
      return (low <= 0 || value >= static_cast<std::uint64_t>(low)) && high >= 0 &&
             value <= static_cast<std::uint64_t>(high);
    } else {
      return value >= low && value <= high;
    }
  }
};

// A real number from low to high, and beyond the finite numbers the values
// `also` names: +infinity (a least distance that met nothing), NaN (a trail's
// break), or every value that is not finite (a reading that an overflow made
// NaN or infinite, after which the run stops: first_non_finite_value).
struct real_limit {
  enum class beyond : std::uint8_t { none, infinity, nan, not_finite };
  double low;
  double high;
  beyond also = beyond::none;

  constexpr bool admits(double value) const {
    if (value >= low && value <= high) return true;  // false for NaN
    switch (also) {
      case beyond::infinity:
        return value == std::numeric_limits<double>::infinity();
      case beyond::nan:
        return value != value;
      case beyond::not_finite:
        return !(value - value == 0);  // NaN for an infinity or a NaN
      case beyond::none:
        break;
    }
    return false;
  }
  constexpr real_limit or_infinity() const { return {low, high, beyond::infinity}; }
  constexpr real_limit or_nan() const { return {low, high, beyond::nan}; }
  constexpr real_limit or_not_finite() const { return {low, high, beyond::not_finite}; }
};

// Any finite number, and exactly one value.
constexpr real_limit kFinite{-std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::max()};
constexpr real_limit exactly(double value) {
  return {value, value};
}
// A finite number of at least 0.
constexpr real_limit kNotNegative{0.0, std::numeric_limits<double>::max()};

// The relations a record's fields keep between each other: each relations()
// requires them; the first that does not hold is the record's fault.
class field_check {
 public:
  void require(bool holds, const char* what) {
    if (!holds && failure_ == nullptr) failure_ = what;
  }
  // What the first failed requirement said, or nullptr when all held.
  const char* failure() const { return failure_; }

 private:
  const char* failure_ = nullptr;
};

// The bits of a double, as std::bit_cast gives them (the WebAssembly build's
// standard library has no bit_cast yet).
inline std::uint64_t bits_of(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// A position or a vector in world units.
struct point {
  double x = 0.0;
  double y = 0.0;

  template <typename Self, typename Visit>
  static void fields(Self& p, Visit& visit) {
    // Their limit is the one the point is described with.
    visit(p.x, "x");
    visit(p.y, "y");
  }
  // The same bits, not ==: a NaN point (the break between two pieces of a trail)
  // equals itself.
  friend bool operator==(const point& a, const point& b) {
    return bits_of(a.x) == bits_of(b.x) && bits_of(a.y) == bits_of(b.y);
  }
};

// A segment from (x1, y1) to (x2, y2); for a box, two opposite corners.
struct line {
  double x1 = 0.0;
  double y1 = 0.0;
  double x2 = 0.0;
  double y2 = 0.0;
};

// The C library's srand/rand generator as glibc implements it (the additive
// feedback generator of random(), 31 words of state, three apart), one per
// simulation: seed(s) then next() gives exactly the values srand(s) then rand()
// gives, so runs stay those of a program that used the process's one generator.
// A fresh generator is in the state of srand(1), as a program before any srand.
class random_generator {
 public:
  random_generator() { seed(1); }
  void seed(std::uint32_t seed);
  // The next value, 0 to 2^31 - 1.
  std::int32_t next();

  // The whole state, for snapshots: the words and the two positions.
  static constexpr int kWords = 31;
  std::uint32_t words[kWords] = {};
  int front = 3;  // the word that receives the sum
  int rear = 0;   // the word added to it

  template <typename Self, typename Visit>
  static void fields(Self& g, Visit& visit) {
    visit(g.words, "words", any_value{});
    visit(g.front, "front", whole_limit{0, kWords - 1});
    visit(g.rear, "rear", whole_limit{0, kWords - 1});
  }
  // The front runs three words ahead of the rear, as seeding leaves them.
  static void relations(const random_generator& g, field_check& check) {
    check.require((g.front - g.rear + kWords) % kWords == 3,
                  "the front runs three words ahead of the rear");
  }
  friend bool operator==(const random_generator&, const random_generator&) = default;
};

// a + (b - a) * r / 32767 with r the next value of the simulation's generator
// reduced to 0..32767, both ends reachable.
double f_rand(simulation& sim, double a, double b);
// The value f_rand gives for the generator value r (0 to 32767).
double f_rand_value(double a, double b, int r);

// One correction by 2 pi: above 2 pi subtract it, below 0 add it. Not a modulo.
double angle_wrap(double angle);

// The clock a simulation reads: the monotonic clock of the machine, or a
// simulated one that starts where it is set and moves only when it is moved.
struct simulation_clock {
  bool simulated = false;
  double simulated_now = 0.0;

  template <typename Self, typename Visit>
  static void fields(Self& c, Visit& visit) {
    visit(c.simulated, "simulated");
    // Seconds; the run (shell/simulated_run.h) relates them to its own clock.
    visit(c.simulated_now, "simulated_now", kFinite);
  }
  friend bool operator==(const simulation_clock&, const simulation_clock&) = default;
};

// Seconds from the simulation's clock. Only differences are meaningful.
double get_time(const simulation& sim);

// sqrt(x * x + y * y). Inline: the field lattice calls it tens of thousands of
// times per frame.
inline double vect_mag(double x, double y) {
  return std::sqrt(x * x + y * y);
}

// Whether two values are the same bits: a cache keyed on a double must tell -0
// from 0 and match a NaN with itself, which == does not.
inline bool same_bits(double a, double b) {
  return bits_of(a) == bits_of(b);
}

// Switches get_time() to a simulated clock that starts at start_seconds and moves
// only through advance_simulated_clock(). Tests and the runs without a window use
// it so that runs are reproducible.
void use_simulated_clock(simulation& sim, double start_seconds);
void advance_simulated_clock(simulation& sim, double seconds);
// Switches get_time() back to the monotonic clock.
void use_real_clock(simulation& sim);

// A cache or a scratch space of a simulation: what it holds can always be made
// again from the simulation's state, so a copy of the simulation starts with an
// empty one (T{}) and fills it as it goes, with the same results. It also keeps
// a copy from pointing into the original's lists.
template <typename T>
class fresh_on_copy {
 public:
  fresh_on_copy() = default;
  fresh_on_copy(const fresh_on_copy&) : value_() {}
  fresh_on_copy& operator=(const fresh_on_copy&) {
    value_ = T();
    return *this;
  }
  T& operator*() { return value_; }
  const T& operator*() const { return value_; }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }

 private:
  T value_{};
};
