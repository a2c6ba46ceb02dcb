// A simulation is a value: runs in one process do not see each other, a copy or
// a restored snapshot has the same future as the original, bit for bit, corrupt
// snapshots are refused, and runs on threads run as they run alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/simulation.h"
#include "core/world_file.h"
#include "shell/simulated_run.h"
#include "shell/snapshot.h"
#include "shell/trail.h"

namespace {

// How a case sets its run up before the ticks.
struct run_case {
  const char* name;
  std::uint32_t seed;
  const char* world;  // a file of worlds/, or nullptr
  bool manual;        // manual mode with W and D held
  bool trail;
};

const run_case kCases[] = {
    {"default world", 7, nullptr, false, false},
    {"maze", 3, "maze.dat", false, true},
    {"cave", 11, "cave.dat", false, false},
    {"manual, keys held", 5, "room-with-doorway.dat", true, true},
};

std::unique_ptr<simulated_run> started(const run_case& c) {
  auto run = std::make_unique<simulated_run>(640, 480);
  set_console_sink(run->sim(), [](std::string_view) {});
  run->start(c.seed, 10, c.manual);
  if (c.world != nullptr) {
    const std::string path = std::string(ROBOSIM_SOURCE_DIR) + "/worlds/" + c.world;
    const file_result loaded = world_read_file(run->sim(), path);
    if (!loaded) throw std::runtime_error(loaded.message());
  }
  run->start_metrics(true);
  if (c.trail) trail_start(run->app());
  if (c.manual) {
    key_down(run->app(), *run, 'W');
    key_down(run->app(), *run, 'D');
  }
  return run;
}

std::string state_of(const simulated_run& run) {
  snapshot_writer out;
  write_run_state(out, run);
  return out.finish();
}

// The pose and target bits after every tick.
std::vector<double> poses(simulated_run& run, int ticks) {
  std::vector<double> bits;
  for (int i = 0; i < ticks; ++i) {
    run.tick();
    const simulation& s = run.sim();
    bits.insert(bits.end(), {s.robot.x, s.robot.y, s.robot.heading, s.world.target_x});
  }
  return bits;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(SimulationValue, ACopyAndARestoredSnapshotHaveTheSameFutureAsTheOriginal) {
  for (const run_case& c : kCases) {
    std::unique_ptr<simulated_run> original = started(c);
    poses(*original, 1500);
    const std::string snapshot = state_of(*original);
    simulated_run copy(*original);
    simulated_run restored(0, 0);
    snapshot_reader in(snapshot);
    read_run_state(in, restored);
    in.expect_end();
    ASSERT_TRUE(copy == *original) << c.name;
    ASSERT_TRUE(restored == *original) << c.name;
    ASSERT_TRUE(state_of(restored) == snapshot) << c.name;

    const std::vector<double> ahead = poses(*original, 2000);
    EXPECT_TRUE(same_bits(poses(copy, 2000), ahead)) << c.name;
    EXPECT_TRUE(same_bits(poses(restored, 2000), ahead)) << c.name;
    EXPECT_TRUE(copy == *original) << c.name;
    EXPECT_TRUE(restored == *original) << c.name;
    EXPECT_GT(original->sim().planner_stats.runs, 10u) << c.name << ": the run did little";
  }
}

TEST(SimulationValue, InterleavedRunsAreTheRunsEachMakesAlone) {
  std::vector<std::vector<double>> alone;
  for (const run_case& c : kCases) alone.push_back(poses(*started(c), 3000));
  std::vector<std::unique_ptr<simulated_run>> runs;
  for (const run_case& c : kCases) runs.push_back(started(c));
  std::vector<std::vector<double>> together(runs.size());
  for (int round = 0; round < 30; ++round) {
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::vector<double> part = poses(*runs[k], 100);
      together[k].insert(together[k].end(), part.begin(), part.end());
    }
  }
  for (std::size_t k = 0; k < runs.size(); ++k) {
    EXPECT_TRUE(same_bits(together[k], alone[k])) << kCases[k].name;
  }
}

// The payload of a snapshot, and a snapshot framed around any payload (the
// frame written out here by hand).
std::string payload_of(const std::string& snapshot) {
  return snapshot.substr(20, snapshot.size() - 28);
}
std::string framed(const std::string& payload, std::uint32_t version = kSnapshotVersion) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : payload) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  const std::uint64_t length = payload.size();
  std::string out = "RSIMSNAP";
  out.append(reinterpret_cast<const char*>(&version), 4);
  out.append(reinterpret_cast<const char*>(&length), 8);
  out += payload;
  out.append(reinterpret_cast<const char*>(&hash), 8);
  return out;
}

// Restores into a run that already holds a state: refused, either by the frame or
// the run's own state (which then leaves the run as it was) or by bytes left
// over (which the caller reads, and refuses, after the run's state).
void expect_refused(const std::string& bytes, const std::string& why) {
  std::unique_ptr<simulated_run> run = started(kCases[0]);
  const simulated_run before(*run);
  try {
    snapshot_reader in(bytes);
    read_run_state(in, *run);
    EXPECT_THROW(in.expect_end(), snapshot_error) << why << ": accepted";
  } catch (const snapshot_error& error) {
    EXPECT_NE(std::string(error.what()).find("snapshot"), std::string::npos) << why;
    EXPECT_TRUE(*run == before) << why << ": the run changed";
  }
}

TEST(SimulationValue, CorruptOrForeignSnapshotsAreRefusedAndChangeNothing) {
  std::unique_ptr<simulated_run> run = started(kCases[1]);
  poses(*run, 800);
  const std::string good = state_of(*run);
  const std::string payload = payload_of(good);
  ASSERT_TRUE(framed(payload) == good);

  expect_refused("", "empty");
  expect_refused("a world file\n4\n", "not a snapshot");
  expect_refused(framed(payload, kSnapshotVersion + 1), "another version");
  for (std::size_t cut = 0; cut < good.size(); cut += 97) {
    expect_refused(good.substr(0, cut), "cut at " + std::to_string(cut));
  }
  for (std::size_t at = 0; at < good.size(); at += 211) {
    std::string flipped = good;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
    expect_refused(flipped, "byte " + std::to_string(at) + " changed");
  }
  // Well framed but impossible: a payload cut short or grown, and a flag of 2
  // (the world's show_walls, after the drawing objects and three numbers).
  expect_refused(framed(payload.substr(0, payload.size() / 2)), "half a payload");
  expect_refused(framed(payload + "x"), "a byte too many");
  std::string bad_flag = payload;
  bad_flag[11 * 9 + 8 + 8 + 4] = 2;
  expect_refused(framed(bad_flag), "a flag of 2");
  // A count of walls far beyond the bytes: refused before any memory is asked for.
  const world_state& world = run->sim().world;
  std::string walls_start(8 + 8, '\0');
  const auto count = static_cast<std::uint64_t>(world.num_walls);
  std::memcpy(walls_start.data(), &count, 8);
  std::memcpy(walls_start.data() + 8, &world.walls->x, 8);
  const std::size_t at = payload.find(walls_start);
  ASSERT_NE(at, std::string::npos);
  for (const std::uint64_t huge : {count + 1, std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
    std::string p = payload;
    std::memcpy(p.data() + at, &huge, 8);
    expect_refused(framed(p), "a wall count of " + std::to_string(huge));
  }
}

// Changes to fields that the runs above may leave as they start (or never
// change at all): a restored run must carry each, so a field that the snapshot
// leaves out fails here even when every real run has it at its start value.
// Each change keeps the state one a run can have (snapshot_limits_test.cpp).
struct field_change {
  const char* name;
  void (*apply)(simulated_run& run);
};

const field_change kFieldChanges[] = {
    {"robot.motion_turn", [](simulated_run& r) { r.sim().robot.motion_turn = 0.25; }},
    {"robot.vision_point", [](simulated_run& r) { r.sim().robot.vision_point[5].y = -3.5; }},
    {"world.map", [](simulated_run& r) { r.sim().world.map[74][1] ^= 0x4000; }},
    {"world.show_grad",
     [](simulated_run& r) { r.sim().world.show_grad = !r.sim().world.show_grad; }},
    {"a wall's height", [](simulated_run& r) { r.sim().world.walls->next->height += 0.5; }},
    {"a waypoint's angle", [](simulated_run& r) { r.sim().world.waypoints->angle = 0.75; }},
    {"last_push_back", [](simulated_run& r) { r.sim().last_push_back.step_shortened ^= true; }},
    {"automode.limits", [](simulated_run& r) { r.sim().automode.limits[1] = 1.875; }},
    {"draw_objects.next_id", [](simulated_run& r) { ++r.sim().draw_objects.next_id; }},
    {"driver.program_drive",
     [](simulated_run& r) {
       r.app().driver.program_drive = {0.01, -0.02};
     }},
    {"mouse.right_mouse_down", [](simulated_run& r) { r.app().mouse.right_mouse_down = true; }},
    {"a stuck spell",
     [](simulated_run& r) {
       run_metrics_record& record = r.app().metrics.record;
       record.stuck.push_back(stuck_spell{3, 250, 10, 5010, 1.5, 2.5});
       ++record.stuck_spells;
       record.stuck_ms += 5000;
       record.longest_stuck_ms = std::max<std::uint64_t>(record.longest_stuck_ms, 5000);
     }},
    {"metrics.span", [](simulated_run& r) { r.app().metrics.span.y += 1; }},
    {"a trail's break",
     [](simulated_run& r) {
       r.app().trail.points.push_back({std::nan(""), std::nan("")});
     }},
    {"trail.spacing_factor", [](simulated_run& r) { r.app().trail.spacing_factor *= 4; }},
    {"the run's quit flag", [](simulated_run& r) { r.request_quit(0); }},
};

TEST(SimulationValue, ARestoredRunCarriesEveryField) {
  for (const field_change& change : kFieldChanges) {
    std::unique_ptr<simulated_run> run = started(kCases[3]);
    poses(*run, 600);
    const simulated_run unchanged(*run);
    change.apply(*run);
    ASSERT_FALSE(*run == unchanged) << change.name << ": == does not see it";
    simulated_run restored(0, 0);
    const std::string snapshot = state_of(*run);
    snapshot_reader in(snapshot);
    read_run_state(in, restored);
    in.expect_end();
    EXPECT_TRUE(restored == *run) << change.name << ": the snapshot does not carry it";
  }
}

// FNV-1a of snapshot_layout() for each format version: a snapshot whose bytes are
// laid out anew (a field added, dropped or moved) needs a new kSnapshotVersion,
// and its layout here.
TEST(SimulationValue, EachFormatVersionKeepsItsLayout) {
  const std::pair<std::uint32_t, std::uint64_t> kLayouts[] = {{2, 9187341721694762224ull}, {3, 8080151824315427775ull}};
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : snapshot_layout()) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  const auto recorded = std::find_if(std::begin(kLayouts), std::end(kLayouts),
                                     [](const auto& v) { return v.first == kSnapshotVersion; });
  ASSERT_NE(recorded, std::end(kLayouts)) << "no layout recorded for this version";
  EXPECT_EQ(hash, recorded->second)
      << "the layout of version " << kSnapshotVersion << " changed; raise kSnapshotVersion:\n"
      << snapshot_layout();
}

TEST(ThreadsTest, RunsOnThreadsAreTheRunsEachMakesAlone) {
  std::vector<std::vector<double>> alone;
  for (const run_case& c : kCases) alone.push_back(poses(*started(c), 2000));
  std::vector<std::vector<double>> on_threads(std::size(kCases));
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < std::size(kCases); ++k) {
    threads.emplace_back([&, k] { on_threads[k] = poses(*started(kCases[k]), 2000); });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t k = 0; k < std::size(kCases); ++k) {
    EXPECT_TRUE(same_bits(on_threads[k], alone[k])) << kCases[k].name;
  }
}

}  // namespace
