#include "shell/snapshot.h"

#include <optional>
#include <type_traits>
#include <vector>

#include "core/simulation.h"
#include "shell/simulator.h"

namespace {

constexpr char kMagic[8] = {'R', 'S', 'I', 'M', 'S', 'N', 'A', 'P'};
// Far beyond any real run, so that a corrupt count cannot ask for endless memory
// before the bytes run out (each item also needs its bytes).
constexpr std::uint64_t kMaxItems = std::uint64_t{1} << 32;

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

[[noreturn]] void corrupt(const std::string& what) {
  throw snapshot_error("the snapshot is corrupt: " + what);
}

template <typename T>
constexpr bool is_optional = false;
template <typename T>
constexpr bool is_optional<std::optional<T>> = true;
template <typename T>
constexpr bool is_vector = false;
template <typename T>
constexpr bool is_vector<std::vector<T>> = true;

template <typename Node>
std::uint64_t list_length(const Node* node) {
  std::uint64_t n = 0;
  for (; node != nullptr; node = node->next) ++n;
  return n;
}

// The visitors of the records' field descriptions (core/utility.h): each field
// is a number (its bits, little-endian), a flag (one byte), an enumeration (its
// underlying number), an array (its items), an optional value (a flag, then the
// value or a default one), a vector or a list (a count, then its items) or a
// described record (its fields).

// The bytes an item takes, for counts that must fit in what is left.
struct size_io {
  std::size_t bytes = 0;
  template <typename T>
  void operator()(const T& value) {
    if constexpr (std::is_arithmetic_v<T>) {
      bytes += sizeof(T);
    } else if constexpr (std::is_enum_v<T>) {
      bytes += sizeof(std::underlying_type_t<T>);
    } else if constexpr (std::is_array_v<T>) {
      for (const auto& item : value) (*this)(item);
    } else {
      static_assert(!is_optional<T> && !is_vector<T>, "an item of variable size");
      T::fields(value, *this);
    }
  }
};

template <typename T>
std::size_t item_bytes() {
  size_io io;
  io(T{});
  return io.bytes;
}

struct writer_io {
  snapshot_writer& out;
  template <typename T>
  void operator()(const T& value) {
    if constexpr (std::is_arithmetic_v<T>) {
      out.put(value);
    } else if constexpr (std::is_enum_v<T>) {
      out.put(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_array_v<T>) {
      for (const auto& item : value) (*this)(item);
    } else if constexpr (is_optional<T>) {
      (*this)(value.has_value());
      (*this)(value.value_or(typename T::value_type{}));
    } else if constexpr (is_vector<T>) {
      out.put(static_cast<std::uint64_t>(value.size()));
      for (const auto& item : value) (*this)(item);
    } else {
      T::fields(value, *this);
    }
  }
  template <typename Node, typename... Count>
  void list(const Node* head, const Count&...) {
    out.put(list_length(head));
    for (const Node* node = head; node != nullptr; node = node->next) (*this)(*node);
  }
};

struct reader_io {
  snapshot_reader& in;
  void operator()(bool& value) { value = in.get_flag(); }
  void operator()(draw_object_kind& kind) {
    const auto raw = in.get<std::uint8_t>();
    if (raw > static_cast<std::uint8_t>(draw_object_kind::pen)) corrupt("a drawing object");
    kind = static_cast<draw_object_kind>(raw);
  }
  template <typename T>
  void operator()(T& value) {
    if constexpr (std::is_arithmetic_v<T>) {
      value = in.get<T>();
    } else if constexpr (std::is_array_v<T>) {
      for (auto& item : value) (*this)(item);
    } else if constexpr (is_optional<T>) {
      const bool present = in.get_flag();
      typename T::value_type item{};
      (*this)(item);
      if (present) value = item;
    } else if constexpr (is_vector<T>) {
      const std::uint64_t n = in.get_count(item_bytes<typename T::value_type>());
      value.assign(static_cast<std::size_t>(n), typename T::value_type{});
      for (auto& item : value) (*this)(item);
    } else {
      T::fields(value, *this);
    }
  }
  // Builds the list in file order (head first); a corrupt snapshot may leave a
  // part of it, which the simulation it was read into frees.
  template <typename Node>
  void list(Node*& head, std::int32_t& count) {
    const std::uint64_t n = read_list(head);
    if (n > static_cast<std::uint64_t>(INT32_MAX)) corrupt("a list too long to count");
    count = static_cast<std::int32_t>(n);
  }
  template <typename Node>
  void list(Node*& head) {
    read_list(head);
  }

 private:
  template <typename Node>
  std::uint64_t read_list(Node*& head) {
    const std::uint64_t n = in.get_count(item_bytes<Node>());
    Node** tail = &head;
    for (std::uint64_t i = 0; i < n; ++i) {
      *tail = new Node{};
      (*this)(**tail);
      tail = &(*tail)->next;
    }
    return n;
  }
};

// What the reader checks beyond each value: the values no run can have.
void check_run(const simulated_run& run) {
  const random_generator& rng = run.sim().rng;
  const int k = random_generator::kWords;
  if (rng.front < 0 || rng.front >= k || rng.rear < 0 || rng.rear >= k ||
      (rng.front - rng.rear + k) % k != 3) {
    corrupt("the random generator's positions");
  }
  const trail_state& trail = run.app().trail;
  if (trail.recording && trail.points.empty()) corrupt("a trail without points");
  if (run.tick_period_ms() == 0) corrupt("a tick period of 0");
}

// The layout of the values: a letter and a size per number (b for a flag),
// [n ...] for an array, ?(...) for an optional value, *(...) for a vector or a
// list, {...} for a record.
struct layout_io {
  std::string text;
  template <typename T>
  void operator()(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
      text += 'b';
    } else if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) {
      text += std::is_floating_point_v<T> ? 'f'
              : std::is_enum_v<T>         ? 'e'
              : std::is_signed_v<T>       ? 'i'
                                          : 'u';
      text += std::to_string(sizeof(T));
    } else if constexpr (std::is_array_v<T>) {
      text += '[' + std::to_string(std::extent_v<T>) + ' ';
      (*this)(value[0]);
      text += ']';
    } else if constexpr (is_optional<T> || is_vector<T>) {
      text += is_optional<T> ? "?(" : "*(";
      (*this)(typename T::value_type{});
      text += ')';
    } else {
      text += '{';
      T::fields(value, *this);
      text += '}';
    }
    text += ' ';
  }
  template <typename Node, typename... Count>
  void list(const Node*, const Count&...) {
    text += "*(";
    (*this)(Node{});
    text += ") ";
  }
};

}  // namespace

void snapshot_writer::put_text(std::string_view text) {
  put(static_cast<std::uint64_t>(text.size()));
  payload_.append(text);
}

std::string snapshot_writer::finish() const {
  snapshot_writer frame;
  frame.payload_.assign(kMagic, sizeof kMagic);
  frame.put(kSnapshotVersion);
  frame.put(static_cast<std::uint64_t>(payload_.size()));
  frame.payload_.append(payload_);
  frame.put(fnv1a(payload_));
  return frame.payload_;
}

snapshot_reader::snapshot_reader(std::string_view snapshot) {
  constexpr std::size_t kHead = sizeof kMagic + sizeof(std::uint32_t) + sizeof(std::uint64_t);
  if (snapshot.size() < kHead || std::memcmp(snapshot.data(), kMagic, sizeof kMagic) != 0) {
    throw snapshot_error("not a robosim snapshot");
  }
  std::uint32_t version = 0;
  std::memcpy(&version, snapshot.data() + sizeof kMagic, sizeof version);
  if (version != kSnapshotVersion) {
    throw snapshot_error("a snapshot of format version " + std::to_string(version) +
                         ", but this robosim reads version " + std::to_string(kSnapshotVersion));
  }
  std::uint64_t length = 0;
  std::memcpy(&length, snapshot.data() + sizeof kMagic + sizeof version, sizeof length);
  if (length != snapshot.size() - kHead - sizeof(std::uint64_t) ||
      snapshot.size() < kHead + sizeof(std::uint64_t)) {
    corrupt("its length does not match");
  }
  payload_ = snapshot.substr(kHead, static_cast<std::size_t>(length));
  std::uint64_t hash = 0;
  std::memcpy(&hash, snapshot.data() + kHead + length, sizeof hash);
  if (hash != fnv1a(payload_)) corrupt("its check sum does not match");
}

const char* snapshot_reader::take(std::size_t bytes) {
  if (payload_.size() - pos_ < bytes) corrupt("it ends early");
  const char* at = payload_.data() + pos_;
  pos_ += bytes;
  return at;
}

bool snapshot_reader::get_flag() {
  const auto byte = get<std::uint8_t>();
  if (byte > 1) corrupt("a flag that is neither true nor false");
  return byte == 1;
}

std::uint64_t snapshot_reader::get_count(std::size_t min_item_bytes) {
  const auto n = get<std::uint64_t>();
  if (n > kMaxItems || (min_item_bytes > 0 && n > (payload_.size() - pos_) / min_item_bytes)) {
    corrupt("a count beyond its bytes");
  }
  return n;
}

std::string snapshot_reader::get_text() {
  const std::uint64_t n = get_count(1);
  return std::string(take(static_cast<std::size_t>(n)), static_cast<std::size_t>(n));
}

void snapshot_reader::expect_end() const {
  if (pos_ != payload_.size()) corrupt("bytes are left over");
}

void write_run_state(snapshot_writer& out, const simulated_run& run) {
  writer_io io{out};
  io(run);
}

std::string snapshot_layout() {
  const simulated_run run(0, 0);
  layout_io io;
  io(run);
  return io.text;
}

void read_run_state(snapshot_reader& in, simulated_run& run) {
  // Read into a fresh run first: a corrupt snapshot leaves `run` alone.
  reader_io io{in};
  simulated_run restored(0, 0);
  io(restored);
  check_run(restored);
  run = restored;
}
