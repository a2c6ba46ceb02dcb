// Fuzz target: the fuzzer's bytes as the payload of a snapshot of a run, framed
// with their length and check sum so that the fuzzer reaches the fields rather
// than the frame. Every input must end either in a refusal with a message that
// leaves the run it was read into as it was, or in a run that writes back to
// the very same bytes and then ticks and draws without fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/console.h"
#include "draw/raster_context.h"
#include "shell/scene.h"
#include "shell/simulated_run.h"
#include "shell/snapshot.h"

namespace {

constexpr int kTicksPerInput = 3;
// A small picture: the field lattice and the vision rays of whatever was read.
constexpr int kPictureWidth = 80;
constexpr int kPictureHeight = 60;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "snapshot_fuzz: %s\n", what);
  std::abort();
}

void quiet(simulated_run& run) {
  set_console_sink(run.sim(), [](std::string_view) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  const std::string snapshot = snapshot_writer::framed(payload);

  simulated_run run(640, 480);
  quiet(run);
  run.start(1, 10, false);
  const simulated_run before(run);
  bool state_read = false;
  try {
    snapshot_reader in(snapshot);
    read_run_state(in, run);
    state_read = true;
    in.expect_end();
  } catch (const snapshot_error& error) {
    if (std::string_view(error.what()).empty()) broken("a refusal without a message");
    // A refusal inside the run's state leaves the run alone; bytes left over
    // after a whole state are the caller's to refuse.
    if (!state_read && !(run == before)) broken("a refused snapshot changed the run");
    return 0;
  }

  // Accepted: exactly the bytes such a run writes, so nothing was dropped,
  // defaulted or read loosely.
  snapshot_writer out;
  write_run_state(out, run);
  if (out.finish() != snapshot) broken("an accepted snapshot writes back other bytes");

  quiet(run);
  for (int i = 0; i < kTicksPerInput; ++i) run.tick();
  raster_context picture(kPictureWidth, kPictureHeight);
  scene_options options;
  options.grad = true;
  options.vision = true;
  draw_scene(run.app(), options, picture);
  return 0;
}
