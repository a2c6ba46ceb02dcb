#include "core/console.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {
std::function<void(std::string_view)>& console_sink() {
  static std::function<void(std::string_view)> sink;
  return sink;
}
}  // namespace

void write_console(const char* text) {
  if (text == nullptr) return;
  const std::string_view view(text, std::strlen(text));
  if (console_sink()) {
    console_sink()(view);
    return;
  }
  std::fwrite(view.data(), 1, view.size(), stderr);
  std::fflush(stderr);
}

void set_console_sink(std::function<void(std::string_view)> sink) {
  console_sink() = std::move(sink);
}
