#include "core/console.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "core/simulation.h"

void write_console(const simulation& sim, const char* text) {
  if (text == nullptr) return;
  const std::string_view view(text, std::strlen(text));
  if (sim.console) {
    sim.console(view);
    return;
  }
  std::fwrite(view.data(), 1, view.size(), stderr);
  std::fflush(stderr);
}

void set_console_sink(simulation& sim, console_sink sink) {
  sim.console = std::move(sink);
}
