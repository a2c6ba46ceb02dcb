#include "core/world_file.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/safe_file.h"
#include "core/simulation.h"

namespace {

// ---------------------------------------------------------------------------
// Reading

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the text the way the C scanning formats "%lf" and "%d" read a stream:
// white space is skipped before each value, the value is the longest run of
// characters that still begins a number, and whatever follows it stays for the
// next value. LF, CR LF and a lone CR all end a line.
class value_scanner {
 public:
  explicit value_scanner(std::string_view text) : text_(text) {}

  // Skips white space; true when the end of the text is reached (the stream's
  // end-of-file indicator).
  bool skip_space_to_end() {
    while (pos_ < text_.size() && is_blank(text_[pos_])) {
      const char c = text_[pos_++];
      if (c == '\n' || (c == '\r' && (pos_ == text_.size() || text_[pos_] != '\n'))) ++line_;
    }
    return pos_ == text_.size();
  }
  int line() const { return line_; }
  std::size_t position() const { return pos_; }
  std::string_view text() const { return text_; }
  char at(std::size_t index) const { return index < text_.size() ? text_[index] : '\0'; }
  // Moves past a value just read (values hold no line breaks).
  void advance_to(std::size_t index) {
    pos_ = index;
    value_line_ = line_;
  }
  // The line of the last value read.
  int value_line() const { return value_line_; }
  // The run of non-blank characters from the current position, for messages.
  std::string_view word() const {
    std::size_t end = pos_;
    while (end < text_.size() && !is_blank(text_[end])) ++end;
    return text_.substr(pos_, end - pos_);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int value_line_ = 1;
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where the input item of "%lf" starting at `start` ends: the longest run that is
// the beginning of a real in the C notation (decimal with optional exponent,
// hexadecimal with optional binary exponent, inf, infinity, nan, nan(...)).
// `complete` tells whether the run is a whole number or only the start of one
// ("1e", "0x", "+"), which the scanning takes as a failure.
std::size_t real_item_end(const value_scanner& in, std::size_t p, bool& complete) {
  complete = false;
  if (in.at(p) == '+' || in.at(p) == '-') ++p;
  const auto word_at = [&in](std::size_t at, std::string_view word) {
    std::size_t n = 0;
    while (n < word.size() && lower(in.at(at + n)) == word[n]) ++n;
    return n;
  };
  if (lower(in.at(p)) == 'i') {
    const std::size_t n = word_at(p, "infinity");
    if (n < 3) return p + n;
    complete = n == 3 || n == 8;
    return p + n;
  }
  if (lower(in.at(p)) == 'n') {
    const std::size_t n = word_at(p, "nan");
    if (n < 3) return p + n;
    p += 3;
    complete = true;
    if (in.at(p) != '(') return p;
    std::size_t q = p + 1;
    while (is_digit(in.at(q)) || (lower(in.at(q)) >= 'a' && lower(in.at(q)) <= 'z') ||
           in.at(q) == '_')
      ++q;
    complete = in.at(q) == ')';
    return complete ? q + 1 : q;
  }
  const bool hex = in.at(p) == '0' && lower(in.at(p + 1)) == 'x';
  const auto digit = hex ? is_hex_digit : is_digit;
  if (hex) p += 2;
  bool any_digit = false;
  while (digit(in.at(p))) {
    ++p;
    any_digit = true;
  }
  if (in.at(p) == '.') {
    ++p;
    while (digit(in.at(p))) {
      ++p;
      any_digit = true;
    }
  }
  if (!any_digit) return p;
  const char exponent = hex ? 'p' : 'e';
  if (lower(in.at(p)) == exponent) {
    ++p;
    if (in.at(p) == '+' || in.at(p) == '-') ++p;
    if (!is_digit(in.at(p))) return p;
    while (is_digit(in.at(p))) ++p;
  }
  complete = true;
  return p;
}

// The same for "%d": an optional sign and decimal digits.
std::size_t count_item_end(const value_scanner& in, std::size_t p, bool& complete) {
  if (in.at(p) == '+' || in.at(p) == '-') ++p;
  complete = is_digit(in.at(p));
  while (is_digit(in.at(p))) ++p;
  return p;
}

// The token as it may appear in a message: quoted and shortened, or a plain
// description when it holds control characters (binary data).
// True when the bytes are text: valid UTF-8 without control characters.
bool is_text(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t follow = 0;
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7f) return false;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      follow = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      follow = 3;
    } else {
      return false;
    }
    if (bytes.size() - i <= follow) return false;
    for (std::size_t k = 1; k <= follow; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += follow + 1;
  }
  return true;
}

std::string quote_token(std::string_view token) {
  if (!is_text(token)) return "characters that are not text";
  constexpr std::size_t kShown = 32;
  std::string shown;
  if (token.size() <= kShown) {
    shown = std::string(token);
  } else {
    std::size_t cut = kShown;
    // Do not split a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(token[cut]) & 0xC0) == 0x80) --cut;
    shown = std::string(token.substr(0, cut)) + "...";
  }
  return "\"" + shown + "\"";
}

bool fail(world_file_error& error, int line, const std::string& message) {
  error.line = line;
  error.message = line > 0 ? "line " + std::to_string(line) + ": " + message : message;
  return false;
}

// The C locale, in which numbers are read and written whatever locale the
// process runs under (a desktop in a language with decimal commas must not
// change how a file is read or written).
locale_t numbers_locale() {
  static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c_locale;
}

// strtod in the C locale.
double c_locale_strtod(const std::string& item, int& range_error) {
  const locale_t previous = ::uselocale(numbers_locale());
  errno = 0;
  const double value = std::strtod(item.c_str(), nullptr);
  range_error = errno;
  ::uselocale(previous);
  return value;
}

// The message for a value the scanning cannot read at the scanner's position.
bool fail_not_a_number(const value_scanner& in, const std::string& expected,
                       world_file_error& error) {
  const std::string_view found = in.word();
  std::string message = expected + ", found " + quote_token(found);
  const std::size_t at = in.position();
  if (at > 0 && !is_blank(in.at(at - 1))) {
    // Glued to the value before it, as in "2,5" (read as 2, then ",5").
    std::size_t start = at;
    while (start > 0 && !is_blank(in.at(start - 1))) --start;
    message += " after " + quote_token(in.text().substr(start, at - start));
  }
  if (found.find(',') != std::string_view::npos) {
    message += " (world files use a point as the decimal separator)";
  }
  return fail(error, in.line(), message);
}

// Reads a real as "%lf" does, at the scanner's position (white space already
// skipped): hexadecimal reals and values that underflow to a subnormal or zero
// are numbers like any other; NaN, infinities and values beyond the range of a
// double are refused.
bool read_real(value_scanner& in, const std::string& what, double& value, world_file_error& error) {
  bool complete = false;
  const std::size_t end = real_item_end(in, in.position(), complete);
  if (!complete) return fail_not_a_number(in, "expected a number for " + what, error);
  const std::string item(in.text().substr(in.position(), end - in.position()));
  int range_error = 0;
  const double parsed = c_locale_strtod(item, range_error);
  if (range_error == ERANGE && std::isinf(parsed)) {
    return fail(error, in.line(), what + " " + quote_token(item) + " is out of range");
  }
  if (!std::isfinite(parsed)) {
    return fail(error, in.line(), what + " must be a finite number, found " + quote_token(item));
  }
  value = parsed;
  in.advance_to(end);
  return true;
}

// Reads the wall count as "%d" does. A count beyond a signed 32-bit number is
// refused (the C scanning leaves its value undefined).
bool read_count(value_scanner& in, std::int32_t& value, world_file_error& error) {
  bool complete = false;
  const std::size_t end = count_item_end(in, in.position(), complete);
  if (!complete) {
    return fail_not_a_number(in, "expected the number of walls as a whole number", error);
  }
  std::string_view digits = in.text().substr(in.position(), end - in.position());
  const std::string_view item = digits;
  if (digits[0] == '+') digits.remove_prefix(1);
  long long parsed = 0;
  const auto [stop, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed, 10);
  if (ec != std::errc{} || stop != digits.data() + digits.size() || parsed < INT32_MIN ||
      parsed > INT32_MAX) {
    return fail(error, in.line(), "the number of walls " + quote_token(item) + " is out of range");
  }
  value = static_cast<std::int32_t>(parsed);
  in.advance_to(end);
  return true;
}

std::string wall_field_name(std::size_t wall_number, int field) {
  static const char* const kFields[4] = {"x", "y", "width", "height"};
  return "wall " + std::to_string(wall_number) + "'s " + kFields[field];
}

std::string too_large_message() {
  return "the file is larger than " + std::to_string(kWorldFileMaxBytes / (1024 * 1024)) +
         " MiB; world files are far smaller, so it is not loaded";
}

// ---------------------------------------------------------------------------
// Writing

void append_real(std::string& out, double value) {
  // Fixed notation with six decimals, as printf's "%f" in the C locale writes it.
  const locale_t previous = ::uselocale(numbers_locale());
  char buffer[400];  // a double has at most 309 integral digits
  const int length = std::snprintf(buffer, sizeof buffer, "%.6f", value);
  ::uselocale(previous);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof buffer) {
    out.append(buffer, static_cast<std::size_t>(length));
  } else {
    out += "nan";  // cannot happen with this buffer; keeps the line non-empty
  }
}

std::string quoted(const std::string& path) {
  return "\"" + path + "\"";
}

}  // namespace

// The tick brings the heading back by one turn at most per tick, so a heading of
// many turns keeps the robot turning after the wrong heading error for as many
// ticks as it has turns (for ever at 1e308, where one turn is lost in rounding).
// Headings up to kHeadingKeptAsWritten radians (160 turns, which the ticks bring
// back within a second or two) are loaded as written; only larger ones are
// taken as the direction they stand for, within half a turn of 0.
// A loaded heading is one a run keeps (core/robot.h).
static_assert(kHeadingKeptAsWritten == kLargestHeading);

double world_loaded_heading(double heading) {
  if (std::fabs(heading) <= kHeadingKeptAsWritten) return heading;
  return std::remainder(heading, kTwoPi);
}

bool world_parse_text(std::string_view text, world_file_data& data, world_file_error& error) {
  data = world_file_data{};
  error = world_file_error{};
  if (text.size() > kWorldFileMaxBytes) return fail(error, 0, too_large_message());
  // Some editors put a UTF-8 byte order mark in front of text files.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  value_scanner in(text);

  // The pose. A file that ends early keeps the values it has.
  static const char* const kPoseNames[3] = {"the robot's x", "the robot's y",
                                            "the robot's heading"};
  std::optional<double>* const pose[3] = {&data.x, &data.y, &data.heading};
  for (int i = 0; i < 3; ++i) {
    if (in.skip_space_to_end()) return true;
    double value = 0.0;
    if (!read_real(in, kPoseNames[i], value, error)) return false;
    *pose[i] = value;
  }

  if (in.skip_space_to_end()) return true;
  std::int32_t count = 0;
  if (!read_count(in, count, error)) return false;
  data.wall_count = count;

  // The count is taken as unsigned, so a negative count reads to the end of the
  // text; the end of the text before a wall ends the list whatever the count says.
  // Whatever follows the last wall the count asks for is not read.
  const auto wanted = static_cast<std::uint32_t>(count);
  while (data.walls.size() < wanted) {
    if (in.skip_space_to_end()) break;
    const std::size_t number = data.walls.size() + 1;
    if (number > kWorldFileMaxWalls) {
      return fail(error, in.line(),
                  "the file holds more than " + std::to_string(kWorldFileMaxWalls) +
                      " walls; it is not loaded");
    }
    world_file_wall wall;
    double* const fields[4] = {&wall.x, &wall.y, &wall.width, &wall.height};
    for (int field = 0; field < 4; ++field) {
      if (field > 0 && in.skip_space_to_end()) {
        return fail(error, in.value_line(),
                    "the file ends inside wall " + std::to_string(number) +
                        ", which needs four numbers: x, y, width and height");
      }
      if (!read_real(in, wall_field_name(number, field), *fields[field], error)) return false;
    }
    data.walls.push_back(wall);
  }
  return true;
}

void world_apply_data(simulation& sim, const world_file_data& data) {
  world_setup(sim);
  world_free_walls(sim);
  if (data.x) sim.robot.x = *data.x;
  if (data.y) sim.robot.y = *data.y;
  if (data.heading) sim.robot.heading = world_loaded_heading(*data.heading);
  for (const world_file_wall& wall : data.walls) {
    world_add_wall(sim, wall.x, wall.y, wall.width, wall.height);
  }
}

file_result world_read_text(simulation& sim, std::string_view text) {
  world_file_data data;
  world_file_error parse_error;
  if (!world_parse_text(text, data, parse_error)) return content_error({}, parse_error.message);
  world_apply_data(sim, data);
  return {};
}

namespace {

// The whole of a regular file of at most kWorldFileMaxBytes. The failure's
// message is the reason alone.
file_result read_world_bytes(const std::string& path, std::string& text) {
  // Look before opening: opening a FIFO would block, a device could be endless.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return file_system_error(path, errno);
  if (S_ISDIR(info.st_mode))
    return file_system_error(path, EISDIR, "it is a folder, not a world file");
  if (!S_ISREG(info.st_mode)) return file_system_error(path, 0, "it is not a regular file");
  if (static_cast<std::uintmax_t>(info.st_size) > kWorldFileMaxBytes) {
    return content_error(path, too_large_message());
  }

  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return file_system_error(path, errno);
  // Read at most one byte beyond the limit: enough to tell that a file which grew
  // since it was looked at is too large.
  text.resize(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t filled = 0;
  int read_code = 0;
  for (;;) {
    if (filled == text.size()) {
      if (text.size() > kWorldFileMaxBytes) break;
      text.resize(std::min(text.size() * 2 + 4096, kWorldFileMaxBytes + 1));
    }
    const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      read_code = errno;
      break;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (read_code != 0) return file_system_error(path, read_code);
  text.resize(filled);
  if (text.size() > kWorldFileMaxBytes) return content_error(path, too_large_message());
  return {};
}

}  // namespace

file_result world_read_file(simulation& sim, const std::string& path) {
  if (path.empty()) return file_system_error(path, ENOENT, "cannot load: no file name given");
  const std::string prefix = "cannot load " + quoted(path) + ": ";
  std::string text;
  if (file_result read = read_world_bytes(path, text); !read) {
    return with_prefix(prefix, read.error());
  }
  world_file_data data;
  world_file_error parse_error;
  if (!world_parse_text(text, data, parse_error)) {
    return content_error(path, prefix + parse_error.message);
  }
  world_apply_data(sim, data);
  return {};
}

namespace {

void append_wall_line(std::string& out, double x, double y, double width, double height) {
  append_real(out, x);
  out += ' ';
  append_real(out, y);
  out += ' ';
  append_real(out, width);
  out += ' ';
  append_real(out, height);
  out += '\n';
}

void append_pose_and_count(std::string& out, double x, double y, double heading,
                           std::size_t count) {
  for (const double value : {x, y, heading}) {
    append_real(out, value);
    out += '\n';
  }
  out += std::to_string(count);
  out += '\n';
}

}  // namespace

std::string world_format_text(const simulation& sim) {
  const world_state& world = sim.world;
  const robot_state& robot = sim.robot;
  std::size_t count = 0;
  for (const wall_node* wall = world.walls; wall != nullptr; wall = wall->next) ++count;

  std::string out;
  out.reserve(40 + static_cast<std::size_t>(count) * 40);
  append_pose_and_count(out, robot.x, robot.y, robot.heading, count);
  for (const wall_node* wall = world.walls; wall != nullptr; wall = wall->next) {
    append_wall_line(out, wall->x, wall->y, wall->width, wall->height);
  }
  return out;
}

file_result world_data_to_text(const world_file_data& data, std::string& text) {
  if (!data.x || !data.y || !data.heading) return content_error({}, "the robot's pose is missing");
  const double heading = world_loaded_heading(*data.heading);
  if (!std::isfinite(*data.x) || !std::isfinite(*data.y) || !std::isfinite(heading)) {
    return content_error({}, "the robot's pose is not finite");
  }
  std::string out;
  out.reserve(40 + data.walls.size() * 40);
  append_pose_and_count(out, *data.x, *data.y, heading, data.walls.size());
  for (auto wall = data.walls.rbegin(); wall != data.walls.rend(); ++wall) {
    if (!std::isfinite(wall->x) || !std::isfinite(wall->y) || !std::isfinite(wall->width) ||
        !std::isfinite(wall->height)) {
      return content_error({}, "wall " + std::to_string(wall - data.walls.rbegin() + 1) +
                                   " has a value that is not a finite number");
    }
    append_wall_line(out, wall->x, wall->y, wall->width, wall->height);
  }
  text = std::move(out);
  return {};
}

file_result world_text_to_save(const simulation& sim, std::string& text) {
  const world_state& world = sim.world;
  const robot_state& robot = sim.robot;
  // Refuse a world whose file could not be loaded again.
  static const char* const kPoseNames[3] = {"the robot's x", "the robot's y",
                                            "the robot's heading"};
  const double pose[3] = {robot.x, robot.y, robot.heading};
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(pose[i])) {
      return content_error({}, std::string(kPoseNames[i]) + " is not a finite number");
    }
  }
  std::size_t count = 0;
  for (const wall_node* wall = world.walls; wall != nullptr; wall = wall->next) {
    ++count;
    if (!std::isfinite(wall->x) || !std::isfinite(wall->y) || !std::isfinite(wall->width) ||
        !std::isfinite(wall->height)) {
      return content_error(
          {}, "wall " + std::to_string(count) + " has a value that is not a finite number");
    }
  }
  // No limit on the walls or the size: the load limits protect the window, but a
  // save must never lose a world the program holds.
  text = world_format_text(sim);
  return {};
}

namespace {

file_error unnamed_save() {
  return file_system_error({}, ENOENT, "cannot save: no file name given");
}

std::string save_prefix(const std::string& path) {
  return "cannot save " + quoted(path) + ": ";
}

// A world whose text could not be made is not saved.
file_error refused_save(const std::string& path, file_error refusal) {
  refusal.path = path;
  return with_prefix(save_prefix(path), std::move(refusal));
}

// Writes the text of a save through a safe_file.
file_result write_world_text(const std::string& path, const std::string& text) {
  const std::string prefix = save_prefix(path);
  safe_file file;
  if (file_result prepared = file.prepare(path, false); !prepared) {
    return with_prefix(prefix, prepared.error());
  }
  file.write(text);
  if (file_result finished = file.finish(); !finished) {
    file_error failure = with_prefix(prefix, finished.error());
    failure.message += "; nothing was changed";
    return failure;
  }
  const bool in_place = file.how() == safe_file::method::in_place;
  if (file_result committed = file.commit(); !committed) {
    file_error failure = with_prefix(prefix, committed.error());
    failure.message += in_place ? "; the file was being written in place and may be incomplete"
                                : "; nothing was changed";
    return failure;
  }
  return {};
}

}  // namespace

file_result world_write_file(const simulation& sim, const std::string& path) {
  if (path.empty()) return unnamed_save();
  std::string text;
  if (file_result made = world_text_to_save(sim, text); !made) {
    return refused_save(path, made.error());
  }
  return write_world_text(path, text);
}

file_result world_data_write_file(const std::string& path, const world_file_data& data) {
  if (path.empty()) return unnamed_save();
  std::string text;
  if (file_result made = world_data_to_text(data, text); !made) {
    return refused_save(path, made.error());
  }
  return write_world_text(path, text);
}
