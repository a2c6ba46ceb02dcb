// Fuzz target: world-file text through the reader, then a few ticks and a frame of
// whatever world it produced. Every input must end in either a clean refusal that
// leaves the world as it was or a world the simulation runs without fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/world_file.h"
#include "fuzz_support.h"

namespace {

constexpr int kTicksPerInput = 4;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "world_file_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // The parser on its own: a refusal always says why and where.
  world_file_data parsed;
  world_file_error parse_error;
  const bool parses = world_parse_text(text, parsed, parse_error);
  if (!parses && parse_error.message.empty()) broken("refusal without a message");
  if (parses) {
    for (const world_file_wall& wall : parsed.walls) {
      if (!std::isfinite(wall.x) || !std::isfinite(wall.y) || !std::isfinite(wall.width) ||
          !std::isfinite(wall.height)) {
        broken("a wall value that is not finite was accepted");
      }
    }
    if (parsed.walls.size() > kWorldFileMaxWalls) broken("too many walls accepted");
  }

  fuzz::quiet_platform window;
  const std::unique_ptr<simulator> app = fuzz::started_simulator(window);
  simulation& sim = app->sim;
  world_state& world = sim.world;
  const int walls_before = world.num_walls;
  const file_result loaded = world_read_text(sim, text);
  if (loaded.ok() != parses) broken("reader and parser disagree");
  if (!loaded) {
    if (loaded.message().empty()) broken("failed load without a message");
    if (loaded.error().kind != file_error_kind::content) broken("text refused for its file");
    if (world.num_walls != walls_before) broken("failed load changed the walls");
  } else if (world.num_walls != static_cast<std::int32_t>(parsed.walls.size())) {
    broken("wall count differs from the walls read");
  }

  // A loaded world must run and draw (each tick draws a frame); so must the
  // unchanged one. The field lattice does not depend on the file and is left out,
  // as it would take most of the time.
  sim.robot.show_vision = true;
  for (int i = 0; i < kTicksPerInput; ++i) fuzz::tick(*app, window);

  // The written text of a loaded world reads back to the same walls.
  if (loaded) {
    const std::string written = world_format_text(sim);
    world_file_data again;
    world_file_error again_error;
    if (!world_parse_text(written, again, again_error)) broken("written world does not read back");
    if (again.walls.size() != parsed.walls.size()) broken("written world lost walls");
  }

  return 0;
}
