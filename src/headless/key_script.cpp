#include "headless/key_script.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "shell/key_names.h"

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// Splits a line (comment already removed) into blank-separated words.
std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// A word shown in an error message, shortened and with control bytes replaced.
std::string printable(std::string_view word) {
  std::string out;
  for (char c : word.substr(0, 40)) {
    out += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  }
  if (word.size() > 40) out += "...";
  return out;
}

}  // namespace

bool parse_key_script(std::string_view text, std::vector<key_event>& events, std::string& error) {
  std::vector<key_event> parsed;
  std::size_t line_number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;

    const std::string where = "line " + std::to_string(line_number) + ": ";
    if (line.find('\0') != std::string_view::npos) {
      error = where + "contains a zero byte; a key script is text";
      return false;
    }
    if (const auto hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    const auto words = split_words(line);
    if (words.empty()) continue;
    if (words.size() != 3) {
      error = where + "expected \"TICK down|up KEY\", got " + std::to_string(words.size()) +
              (words.size() == 1 ? " word" : " words");
      return false;
    }

    key_event event;
    const auto tick_word = words[0];
    const auto [rest, ec] =
        std::from_chars(tick_word.data(), tick_word.data() + tick_word.size(), event.tick);
    if (ec != std::errc() || rest != tick_word.data() + tick_word.size()) {
      error =
          where + "the tick must be a whole number from 0 up, got '" + printable(tick_word) + "'";
      return false;
    }
    if (equal_ignoring_case(words[1], "down")) {
      event.down = true;
    } else if (equal_ignoring_case(words[1], "up")) {
      event.down = false;
    } else {
      error = where + "expected down or up, got '" + printable(words[1]) + "'";
      return false;
    }
    const int code = key_code_of(words[2]);
    if (code < 0) {
      error = where + "unknown key '" + printable(words[2]) + "' (" + kKeyNameList + ")";
      return false;
    }
    event.key_code = static_cast<unsigned>(code);
    parsed.push_back(event);
  }
  std::stable_sort(parsed.begin(), parsed.end(),
                   [](const key_event& a, const key_event& b) { return a.tick < b.tick; });
  events = std::move(parsed);
  return true;
}

bool read_key_script(const std::string& path, std::vector<key_event>& events, std::string& error) {
  // Look before opening: a FIFO would block and a device could be endless.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + (S_ISDIR(info.st_mode) ? ": is a directory" : ": is not a regular file");
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  bool too_large = false;
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    text.append(buffer, n);
    if (text.size() > kMaxKeyScriptBytes) {
      too_large = true;
      break;
    }
    if (n < sizeof buffer) break;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (too_large) {
    error = path + ": larger than " + std::to_string(kMaxKeyScriptBytes) + " bytes";
    return false;
  }
  if (failed) {
    error = path + ": read error";
    return false;
  }
  std::string problem;
  if (!parse_key_script(text, events, problem)) {
    error = path + ": " + problem;
    return false;
  }
  return true;
}
