// Snapshots: the whole state of a run without a window as bytes, and back. A
// snapshot holds everything that decides the run's future (the world and its
// lists, the robot, the random generator, the clocks and timers, the driver's
// flags, the run metrics, the trail); the caches are left out and built again as
// the restored run goes, with the same results. So a restored run, stepped as
// the original is stepped, gives the same states bit for bit.
//
// Layout: the magic "RSIMSNAP", the format version (u32), the payload's length
// (u64), the payload, and an FNV-1a hash of the payload (u64); numbers are
// stored little-endian as their bits. Bytes of another version, cut short,
// changed or holding values no run can have are refused with a snapshot_error
// that says why, and the run being restored into is left as it was: every field
// is read against the limit its description gives it, and every record against
// its relations (core/utility.h), so that a restored run is always one that a
// run could have reached, whatever the bytes (docs/hostile-inputs.md).
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "shell/simulated_run.h"

constexpr std::uint32_t kSnapshotVersion = 3;

class snapshot_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Appends values to a payload.
class snapshot_writer {
 public:
  template <typename T>
  void put(const T& value) {
    static_assert(std::is_arithmetic_v<T>);
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    payload_.append(bytes, sizeof(T));
  }
  void put_text(std::string_view text);
  // The framed snapshot of everything put so far.
  std::string finish() const;
  // Everything put so far, unframed (the fuzz target's seeds are payloads).
  const std::string& payload() const { return payload_; }
  // The framed snapshot of any payload (a fuzz target frames its bytes so).
  static std::string framed(std::string_view payload);

 private:
  std::string payload_;
};

// Reads values back from a framed snapshot, checking every step.
class snapshot_reader {
 public:
  // Checks the frame (magic, version, length, hash); throws snapshot_error.
  explicit snapshot_reader(std::string_view snapshot);

  template <typename T>
  T get() {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    T value{};
    std::memcpy(&value, take(sizeof(T)), sizeof(T));
    return value;
  }
  bool get_flag();
  // A count of items of at least min_item_bytes each, which must fit in what is left.
  std::uint64_t get_count(std::size_t min_item_bytes);
  std::string get_text();
  // Throws unless every byte was read.
  void expect_end() const;

 private:
  const char* take(std::size_t bytes);

  std::string_view payload_;
  std::size_t pos_ = 0;
};

// The run's simulator and timers, every record as its field description
// (core/utility.h) has it.
void write_run_state(snapshot_writer& out, const simulated_run& run);
// Reads what write_run_state wrote into run; throws snapshot_error, and then
// leaves run as it was. What follows in the payload is the caller's to read.
void read_run_state(snapshot_reader& in, simulated_run& run);

// The layout of write_run_state's values as text, for the test that holds each
// format version to its layout: bytes laid out anew need a new kSnapshotVersion.
std::string snapshot_layout();
