#include "shell/snapshot.h"

#include <cstdio>
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
// described record (its fields). Names and limits matter only to the reader.

// The bytes an item takes, for counts that must fit in what is left.
struct size_io {
  std::size_t bytes = 0;
  template <typename T, typename... Limit>
  void operator()(const T& value, const char* = nullptr, const Limit&...) {
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
  template <typename T, typename... Limit>
  void operator()(const T& value, const char* = nullptr, const Limit&...) {
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
  template <typename Node, typename... Rest>
  void list(const Node* head, const Rest&...) {
    out.put(list_length(head));
    for (const Node* node = head; node != nullptr; node = node->next) (*this)(*node);
  }
};

template <typename T>
std::string bytes_of(const T& value) {
  snapshot_writer out;
  writer_io io{out};
  io(value);
  return out.finish();
}

// The limit of a number whose description names none: the one of the field it
// lies in (a point's coordinates), which the reader passes down.
struct no_limit {};

template <typename T>
concept has_relations = requires(const T& record, field_check& check) {
  T::relations(record, check);
};

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}
template <typename T>
std::string number_text(T value) {
  return std::to_string(value);
}
std::string limit_text(const real_limit& limit) {
  return ", outside " + number_text(limit.low) + " to " + number_text(limit.high);
}
std::string limit_text(const whole_limit& limit) {
  return ", outside " + std::to_string(limit.low) + " to " + std::to_string(limit.high);
}
std::string limit_text(const any_value&) {
  return {};
}
std::string limit_text(const grid_cell_limit&) {
  return ", not one of the planner's values";
}

// Reads every field and refuses, with the field's name, a value beyond its
// limit and a record whose relations do not hold.
class reader_io {
 public:
  explicit reader_io(snapshot_reader& in) : in_(in) {}

  // A described record as a whole.
  template <typename T>
  void read(T& record) {
    item(record, no_limit{});
  }

  template <typename T>
  void operator()(T& value, const char* name) {
    field(value, name, no_limit{});
  }
  template <typename T, typename Limit>
  void operator()(T& value, const char* name, const Limit& limit) {
    field(value, name, limit);
  }
  // Builds the list in file order (head first); a corrupt snapshot may leave a
  // part of it, which the simulation it was read into frees.
  template <typename Node>
  void list(Node*& head, std::int32_t& count, const char* name, std::int64_t most) {
    count = static_cast<std::int32_t>(read_list(head, name, most));
  }
  template <typename Node>
  void list(Node*& head, const char* name, std::int64_t most) {
    read_list(head, name, most);
  }

  // The value as the field `name` of the record being read; with no_limit, a
  // number takes the limit the field's record was described with.
  template <typename T, typename Limit>
  void field(T& value, const char* name, const Limit& limit) {
    path_.push_back({name, 0});
    item(value, limit);
    path_.pop_back();
  }

 private:
  // Reads a described record's fields with the limit its own description was
  // given, for the numbers whose description names none.
  template <typename Limit>
  struct limited {
    reader_io& reader;
    const Limit& limit;
    template <typename T>
    void operator()(T& value, const char* name) {
      reader.field(value, name, limit);
    }
    template <typename T, typename Own>
    void operator()(T& value, const char* name, const Own& own) {
      reader.field(value, name, own);
    }
  };

  struct path_part {
    const char* name;  // nullptr for an item's index
    std::size_t index;
  };

  template <typename T, typename Limit>
  void item(T& value, const Limit& limit) {
    if constexpr (std::is_same_v<T, bool>) {
      const auto byte = in_.get<std::uint8_t>();
      if (byte > 1) refuse(" is " + std::to_string(byte) + ", neither true nor false");
      value = byte == 1;
    } else if constexpr (std::is_same_v<T, draw_object_kind>) {
      const auto raw = in_.get<std::uint8_t>();
      if (raw > static_cast<std::uint8_t>(draw_object_kind::pen))
        refuse(" is not a kind of object");
      value = static_cast<draw_object_kind>(raw);
    } else if constexpr (std::is_arithmetic_v<T>) {
      static_assert(!std::is_same_v<Limit, no_limit>, "a number described without a limit");
      value = in_.get<T>();
      if (!limit.admits(value)) refuse(" is " + number_text(value) + limit_text(limit));
    } else if constexpr (std::is_array_v<T>) {
      for (std::size_t i = 0; i < std::extent_v<T>; ++i) indexed(value[i], i, limit);
    } else if constexpr (is_optional<T>) {
      read_optional(value, limit);
    } else if constexpr (is_vector<T>) {
      const std::uint64_t n = in_.get_count(item_bytes<typename T::value_type>());
      value.assign(static_cast<std::size_t>(n), typename T::value_type{});
      for (std::size_t i = 0; i < value.size(); ++i) indexed(value[i], i, limit);
    } else {
      static_assert(!std::is_enum_v<T>, "an enumeration the reader cannot check");
      read_record(value, limit);
    }
  }

  template <typename T, typename Limit>
  void indexed(T& value, std::size_t index, const Limit& limit) {
    path_.push_back({nullptr, index});
    item(value, limit);
    path_.pop_back();
  }

  // An absent value is written as a default one: anything else is no run's.
  template <typename T, typename Limit>
  void read_optional(T& value, const Limit& limit) {
    const bool present = in_.get_flag();
    typename T::value_type read{};
    item(read, limit);
    if (present) {
      value = read;
    } else if (bytes_of(read) != bytes_of(typename T::value_type{})) {
      refuse(": a value where there is none");
    }
  }

  template <typename T, typename Limit>
  void read_record(T& record, const Limit& limit) {
    if constexpr (std::is_same_v<Limit, no_limit>) {
      T::fields(record, *this);
    } else {
      limited<Limit> with_limit{*this, limit};
      T::fields(record, with_limit);
    }
    if constexpr (has_relations<T>) {
      field_check check;
      T::relations(record, check);
      if (check.failure() != nullptr)
        refuse(std::string(path_.empty() ? "" : ": ") + check.failure());
    }
  }

  template <typename Node>
  std::uint64_t read_list(Node*& head, const char* name, std::int64_t most) {
    path_.push_back({name, 0});
    const std::uint64_t n = in_.get_count(item_bytes<Node>());
    if (n > static_cast<std::uint64_t>(most)) {
      refuse(" holds " + std::to_string(n) + ", more than the " + std::to_string(most) +
             " a run can have");
    }
    Node** tail = &head;
    for (std::uint64_t i = 0; i < n; ++i) {
      *tail = new Node{};
      indexed(**tail, static_cast<std::size_t>(i), no_limit{});
      tail = &(*tail)->next;
    }
    path_.pop_back();
    return n;
  }

  // The field being read: "app.sim.robot.heading", "app.sim.world.walls[3].x".
  std::string where() const {
    std::string text;
    for (const path_part& part : path_) {
      if (part.name == nullptr) {
        text += '[' + std::to_string(part.index) + ']';
      } else {
        if (!text.empty()) text += '.';
        text += part.name;
      }
    }
    return text;
  }
  [[noreturn]] void refuse(const std::string& what) const { corrupt(where() + what); }

  snapshot_reader& in_;
  std::vector<path_part> path_;
};

// The layout of the values: a letter and a size per number (b for a flag),
// [n ...] for an array, ?(...) for an optional value, *(...) for a vector or a
// list, {...} for a record.
struct layout_io {
  std::string text;
  template <typename T, typename... Limit>
  void operator()(const T& value, const char* = nullptr, const Limit&...) {
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
  template <typename Node, typename... Rest>
  void list(const Node*, const Rest&...) {
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
  return framed(payload_);
}

std::string snapshot_writer::framed(std::string_view payload) {
  snapshot_writer frame;
  frame.payload_.assign(kMagic, sizeof kMagic);
  frame.put(kSnapshotVersion);
  frame.put(static_cast<std::uint64_t>(payload.size()));
  frame.payload_.append(payload);
  frame.put(fnv1a(payload));
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
  io.read(restored);
  run = restored;
}
