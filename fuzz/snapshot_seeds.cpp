// Writes the seed corpus of snapshot_fuzz: the payloads of snapshots of a few
// real runs. scripts/fuzz.sh runs it before each fuzzing run, so the seeds
// always have the format of the snapshots being fuzzed.
//   snapshot_seeds FOLDER
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "core/console.h"
#include "core/world_file.h"
#include "shell/simulated_run.h"
#include "shell/snapshot.h"
#include "shell/trail.h"

namespace {

struct seed {
  const char* name;
  const char* world;  // text of a world file, or nullptr for the default world
  bool manual;
  int ticks;
  std::function<void(simulated_run&)> before_ticks;
};

const char* const kRoom =
    "2 2 0.5 6\n0 0 10 0.05\n0 9.95 10 0.05\n0 0 0.05 10\n9.95 0 0.05 10\n4 0 0.2 6\n6 4 0.2 6\n";

const seed kSeeds[] = {
    {"default-world", nullptr, false, 300, nullptr},
    {"room-trail-events", kRoom, false, 1500, [](simulated_run& run) { trail_start(run.app()); }},
    {"manual-drive", kRoom, true, 400,
     [](simulated_run& run) {
       run.app().driver.program_drive = drive_command{0.04, -0.02};
     }},
    {"keys-and-period", nullptr, false, 200,
     [](simulated_run& run) {
       for (const unsigned key : {unsigned{'G'}, unsigned{'V'}, unsigned{vk_down}, unsigned{'2'},
                                  unsigned{vk_space}, unsigned{'N'}}) {
         key_down(run.app(), run, key);
         key_up(run.app(), key);
       }
     }},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: snapshot_seeds FOLDER\n");
    return 2;
  }
  for (const seed& s : kSeeds) {
    simulated_run run(640, 480);
    set_console_sink(run.sim(), [](std::string_view) {});
    run.start(7, 10, s.manual);
    if (s.world != nullptr && !world_read_text(run.sim(), s.world)) return 1;
    run.start_metrics(true);
    if (s.before_ticks) s.before_ticks(run);
    for (int i = 0; i < s.ticks; ++i) run.tick();
    snapshot_writer out;
    write_run_state(out, run);
    std::ofstream file(std::string(argv[1]) + "/" + s.name, std::ios::binary);
    file << out.payload();
    if (!file) return 1;
  }
  return 0;
}
