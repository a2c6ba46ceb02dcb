// Fuzz target: key-script text through the headless runner's parser, then the
// parsed events replayed into the driver over a short run, as the runner replays
// them. The parser must refuse with a message or give sorted events with real key
// codes; the driver must take any sequence of presses and releases.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "headless/key_script.h"

namespace {

constexpr std::uint64_t kTicksPerInput = 12;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "key_script_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<key_event> events{key_event{7, false, 'X'}};
  const std::vector<key_event> untouched = events;
  std::string error;
  if (!parse_key_script(text, events, error)) {
    if (error.empty()) broken("refusal without a message");
    if (events != untouched) broken("a refused script changed the events");
    return 0;
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].key_code == 0 || events[i].key_code > 255) broken("key code out of range");
    if (i > 0 && events[i - 1].tick > events[i].tick) broken("events not sorted by tick");
  }

  fuzz::quiet_platform window;
  const std::unique_ptr<simulator> app = fuzz::started_simulator(window);
  std::size_t next = 0;
  for (std::uint64_t tick = 0; tick <= kTicksPerInput; ++tick) {
    while (next < events.size() && events[next].tick == tick && !window.quit) {
      const key_event& event = events[next++];
      if (event.down) {
        key_down(*app, window, event.key_code);
      } else {
        key_up(*app, event.key_code);
      }
    }
    if (window.quit || tick == kTicksPerInput) break;
    fuzz::tick(*app, window);
  }
  system_shutdown(*app);
  return 0;
}
