// Snapshots hold only states a run can have: every snapshot of a real run reads
// back (shipped worlds, long runs, manual driving, keys, Esc, loaded extremes, a
// run whose field overflowed), while a value beyond its field's limit or a
// broken relation is refused with the field's name, the run left alone; and a
// tick stays bounded whatever its timers hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "core/simulation.h"
#include "core/world_file.h"
#include "shell/simulated_run.h"
#include "shell/snapshot.h"
#include "shell/trail.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::unique_ptr<simulated_run> started(std::uint32_t seed, const char* world = nullptr,
                                       bool manual = false, int period_ms = 10) {
  auto run = std::make_unique<simulated_run>(640, 480);
  set_console_sink(run->sim(), [](std::string_view) {});
  run->start(seed, period_ms, manual);
  if (world != nullptr) {
    const file_result loaded =
        world_read_file(run->sim(), std::string(ROBOSIM_SOURCE_DIR) + "/worlds/" + world);
    if (!loaded) throw std::runtime_error(loaded.message());
  }
  run->start_metrics(true);
  return run;
}

std::string state_of(const simulated_run& run) {
  snapshot_writer out;
  write_run_state(out, run);
  return out.finish();
}

// Reads a snapshot back into a run that holds another state; on a refusal,
// returns the message and checks that the run was left as it was.
std::optional<std::string> refusal(const std::string& snapshot) {
  std::unique_ptr<simulated_run> run = started(99);
  const simulated_run before(*run);
  try {
    snapshot_reader in(snapshot);
    read_run_state(in, *run);
    in.expect_end();
    return std::nullopt;
  } catch (const snapshot_error& error) {
    EXPECT_TRUE(*run == before) << "a refused snapshot changed the run: " << error.what();
    return std::string(error.what());
  }
}

void press(simulated_run& run, unsigned key, int times = 1) {
  for (int i = 0; i < times; ++i) {
    key_down(run.app(), run, key);
    key_up(run.app(), key);
  }
}

// ---------------------------------------------------------------------------
// Every snapshot of a real run reads back as the same run.

struct real_run {
  const char* name;
  std::function<std::unique_ptr<simulated_run>()> make;
  int ticks;
  int snapshot_every;
  // Done before each stretch of ticks (keys, driving, placing).
  std::function<void(simulated_run&, int stretch)> between = nullptr;
  // What the run must have reached, so that it stays the run it is meant to be.
  std::function<bool(const simulated_run&)> reached = nullptr;
};

std::unique_ptr<simulated_run> loaded_text(std::uint32_t seed, const std::string& text) {
  std::unique_ptr<simulated_run> run = started(seed);
  const file_result loaded = world_read_text(run->sim(), text);
  if (!loaded) throw std::runtime_error(loaded.message());
  return run;
}

std::vector<real_run> real_runs() {
  std::vector<real_run> runs;
  for (const char* world : {"cave.dat", "empty-arena.dat", "floor-plan.dat", "maze.dat",
                            "pillars.dat", "room-with-doorway.dat", "warehouse.dat"}) {
    runs.push_back({world, [world] { return started(5, world); }, 3000, 500});
  }
  runs.push_back({"a long run with its trail thinned",
                  [] {
                    std::unique_ptr<simulated_run> run = started(17, "maze.dat");
                    trail_start(run->app());
                    return run;
                  },
                  150000, 25000, nullptr,
                  [](const simulated_run& run) {
                    return run.app().trail.spacing_factor > 1 &&
                           run.app().metrics.record.targets.size() > 10;
                  }});
  runs.push_back({"keys held and driven by hand",
                  [] { return started(3, "room-with-doorway.dat", true); }, 2400, 300,
                  [](simulated_run& run, int stretch) {
                    const unsigned keys[] = {'W', 'A', 'S', 'D'};
                    key_up(run.app(), keys[(stretch + 3) % 4]);
                    key_down(run.app(), run, keys[stretch % 4]);
                  }});
  runs.push_back({"a program's drive at its extremes",
                  [] { return started(8, "pillars.dat", true); }, 1600, 200,
                  [](simulated_run& run, int stretch) {
                    const double turn = stretch % 2 == 0 ? kMaxDriveTurn : -kMaxDriveTurn;
                    run.app().driver.program_drive = drive_command{stretch * 1e3, turn};
                  }});
  runs.push_back({"every key of the table", [] { return started(4, "cave.dat"); }, 2000, 100,
                  [](simulated_run& run, int stretch) {
                    const unsigned keys[] = {'N', 'V', vk_down, vk_up, 'R', 'T', 'M',      'G',
                                             '1', '2', '3',     '4',   '5', '6', vk_space, 'P'};
                    press(run, keys[stretch % std::size(keys)], 1 + stretch);
                  }});
  runs.push_back({"the tick period down to 0 and up past a minute", [] { return started(6); }, 600,
                  50,
                  [](simulated_run& run, int stretch) {
                    if (stretch < 3) press(run, vk_up, 10);
                    if (stretch >= 3) press(run, vk_down, 20000);
                  },
                  [](const simulated_run& run) { return run.tick_period_ms() > 100000; }});
  runs.push_back({"the longest period from the start",
                  [] { return started(6, nullptr, false, kMaxPeriodMs); }, 300, 60});
  runs.push_back({"Esc", [] { return started(2, "maze.dat"); }, 200, 100,
                  [](simulated_run& run, int stretch) {
                    if (stretch == 1) press(run, vk_escape);
                  }});
  runs.push_back(
      {"the largest loaded headings and a pose far away",
       [] { return loaded_text(1, "1e308 -1e308 1000 2\n1 1 2 2\n-1e308 5 1e308 1e-300\n"); }, 400,
       1,
       [](simulated_run& run, int stretch) {
         if (stretch == 7) {
           run.sim().robot.heading = world_loaded_heading(-1000);
           run.sim().robot.x = 1e308;
         }
       }});
  runs.push_back({"gains so large that the field overflows",
                  [] {
                    std::unique_ptr<simulated_run> run = started(12, "pillars.dat");
                    run->sim().world.scale1 = run->sim().world.scale2 = 1e308;
                    return run;
                  },
                  300, 20, nullptr,
                  // The field's strength is NaN (== then fails even on the run itself).
                  [](const simulated_run& run) { return !(run == run); }});
  runs.push_back({"a thousand walls placed at random",
                  [] {
                    std::unique_ptr<simulated_run> run = started(21);
                    for (int i = 0; i < 1000; ++i) {
                      world_add_wall(run->sim(), f_rand(run->sim(), 0, 10),
                                     f_rand(run->sim(), 0, 10), f_rand(run->sim(), 0, 0.3),
                                     f_rand(run->sim(), 0, 0.3));
                    }
                    return run;
                  },
                  1500, 250});
  return runs;
}

TEST(SnapshotLimits, EverySnapshotOfARealRunReadsBackAsTheSameRun) {
  for (const real_run& r : real_runs()) {
    std::unique_ptr<simulated_run> run = r.make();
    int snapshots = 0;
    for (int done = 0, stretch = 0; done <= r.ticks; done += r.snapshot_every, ++stretch) {
      const std::string snapshot = state_of(*run);
      const std::optional<std::string> refused = refusal(snapshot);
      ASSERT_FALSE(refused) << r.name << " after " << done << " ticks: " << *refused;
      simulated_run restored(0, 0);
      snapshot_reader in(snapshot);
      read_run_state(in, restored);
      // A run whose field overflowed holds NaN, which == never matches:
      // the same bytes then.
      const bool comparable = *run == *run;
      ASSERT_TRUE(comparable ? restored == *run : state_of(restored) == snapshot)
          << r.name << " after " << done << " ticks";
      ++snapshots;
      if (r.between) r.between(*run, stretch);
      for (int i = 0; i < r.snapshot_every && !run->quit_requested(); ++i) run->tick();
    }
    EXPECT_GT(snapshots, 1) << r.name;
    if (r.reached) {
      EXPECT_TRUE(r.reached(*run)) << r.name << " did not go where it was meant to";
    }
  }
}

// ---------------------------------------------------------------------------
// Hostile values: one field at a time, by its name.

// Walks a run's fields as their descriptions give them, with the limits they
// pass down, naming each as the snapshot's messages do ("app.sim.robot.heading",
// "app.sim.world.walls[0].x"), and hands every number to on_number(path, member,
// limit). Written apart from the snapshot's reader, which it checks.
struct inherited {};

template <typename OnNumber>
class field_walker {
 public:
  explicit field_walker(OnNumber on_number) : on_number_(on_number) {}

  template <typename T>
  void operator()(T& value, const char* name) {
    named(value, name, inherited{});
  }
  template <typename T, typename Limit>
  void operator()(T& value, const char* name, const Limit& limit) {
    named(value, name, limit);
  }
  template <typename Node, typename Count>
  void list(Node*& head, Count&, const char* name, std::int64_t) {
    list(head, name, 0);
  }
  template <typename Node>
  void list(Node*& head, const char* name, std::int64_t) {
    const std::string outer = path_;
    std::size_t i = 0;
    for (Node* node = head; node != nullptr; node = node->next, ++i) {
      path_ = join(outer, name) + "[" + std::to_string(i) + "]";
      walk(*node, inherited{});
    }
    path_ = outer;
  }
  template <typename T>
  void walk(T& value, const inherited& limit) {
    walk_with(value, limit);
  }

 private:
  template <typename Limit>
  struct limited {
    field_walker& walker;
    const Limit& limit;
    template <typename T>
    void operator()(T& value, const char* name) {
      walker.named(value, name, limit);
    }
    template <typename T, typename Own>
    void operator()(T& value, const char* name, const Own& own) {
      walker.named(value, name, own);
    }
  };

  static std::string join(const std::string& outer, const char* name) {
    return outer.empty() ? name : outer + "." + name;
  }
  template <typename T, typename Limit>
  void named(T& value, const char* name, const Limit& limit) {
    const std::string outer = path_;
    path_ = join(outer, name);
    walk_with(value, limit);
    path_ = outer;
  }
  template <typename T, typename Limit>
  void walk_with(T& value, const Limit& limit) {
    if constexpr (std::is_same_v<T, bool> || std::is_enum_v<T>) {
      // Flags and kinds are checked as bytes (below).
    } else if constexpr (std::is_arithmetic_v<T>) {
      on_number_(path_, value, limit);
    } else if constexpr (std::is_array_v<T>) {
      const std::string outer = path_;
      for (std::size_t i = 0; i < std::extent_v<T>; ++i) {
        path_ = outer + "[" + std::to_string(i) + "]";
        walk_with(value[i], limit);
      }
      path_ = outer;
    } else if constexpr (requires { value.has_value(); }) {
      if (value) walk_with(*value, limit);
    } else if constexpr (requires {
                           value.size();
                           value[0];
                         }) {
      const std::string outer = path_;
      for (std::size_t i = 0; i < value.size(); ++i) {
        path_ = outer + "[" + std::to_string(i) + "]";
        walk_with(value[i], limit);
      }
      path_ = outer;
    } else if constexpr (std::is_same_v<Limit, inherited>) {
      T::fields(value, *this);
    } else {
      limited<Limit> inner{*this, limit};
      T::fields(value, inner);
    }
  }

  OnNumber on_number_;
  std::string path_;
};

template <typename OnNumber>
void walk_fields(simulated_run& run, OnNumber on_number) {
  field_walker<OnNumber> walker(on_number);
  walker.walk(run, inherited{});
}

// Sets the number at `path` (which must exist) to `value`.
template <typename V>
void set_field(simulated_run& run, const std::string& path, V value) {
  bool found = false;
  walk_fields(run, [&](const std::string& at, auto& member, const auto&) {
    if (at != path) return;
    member = static_cast<std::remove_reference_t<decltype(member)>>(value);
    found = true;
  });
  if (!found) throw std::logic_error("no field " + path);
}

// The first value of the member's type that its limit refuses, if any.
template <typename T, typename Limit>
std::optional<T> beyond(const Limit& limit) {
  std::vector<T> candidates;
  if constexpr (std::is_floating_point_v<T>) {
    if constexpr (std::is_same_v<Limit, real_limit>) {
      candidates = {std::nextafter(limit.high, kInf), std::nextafter(limit.low, -kInf)};
    }
    candidates.insert(candidates.end(), {kNaN, kInf, -kInf, 1e308, -1e308});
  } else {
    using wide = long double;
    if constexpr (std::is_same_v<Limit, whole_limit>) {
      for (const wide v : {wide(limit.high) + 1, wide(limit.low) - 1}) {
        if (v >= wide(std::numeric_limits<T>::lowest()) &&
            v <= wide(std::numeric_limits<T>::max())) {
          candidates.push_back(static_cast<T>(v));
        }
      }
    }
    candidates.insert(candidates.end(), {std::numeric_limits<T>::max(),
                                         std::numeric_limits<T>::lowest(), static_cast<T>(256)});
  }
  if constexpr (!std::is_same_v<Limit, inherited>) {
    for (const T v : candidates) {
      if (!limit.admits(v)) return v;
    }
  }
  return std::nullopt;
}

// Whether every index in the path is 0.
bool first_items_only(const std::string& path) {
  for (std::size_t at = path.find('['); at != std::string::npos; at = path.find('[', at + 1)) {
    if (path.compare(at, 3, "[0]") != 0) return false;
  }
  return true;
}

// A run whose lists and events are all there: walls, waypoints, impacts, a
// trail, targets reached, a stuck spell, a program's drive.
std::unique_ptr<simulated_run> full_run() {
  std::unique_ptr<simulated_run> run = started(5, "room-with-doorway.dat");
  trail_start(run->app());
  for (int i = 0; i < 6000; ++i) run->tick();
  run->sim().manual_mode = true;
  run->app().driver.program_drive = drive_command{0.0, 0.0};
  for (int i = 0; i < 700; ++i) run->tick();  // held still, then away: a stuck spell
  run->app().driver.program_drive = drive_command{0.03, 0.02};
  for (int i = 0; i < 200; ++i) run->tick();
  return run;
}

TEST(SnapshotLimits, EveryNumberBeyondItsLimitIsRefusedWithItsName) {
  std::unique_ptr<simulated_run> run = full_run();
  ASSERT_FALSE(run->app().metrics.record.stuck.empty());
  ASSERT_FALSE(run->app().metrics.record.targets.empty());
  ASSERT_GT(run->sim().world.num_impacts, 0);
  // Every field with a value beyond its limit: the first of each array or list.
  struct hostile {
    std::string path;
    std::function<void(simulated_run&)> apply;
  };
  std::vector<hostile> cases;
  std::set<std::string> paths;
  walk_fields(*run, [&](const std::string& path, auto& member, const auto& limit) {
    using T = std::remove_reference_t<decltype(member)>;
    EXPECT_TRUE(paths.insert(path).second) << "two fields named " << path;
    if (!first_items_only(path)) return;
    const std::optional<T> value = beyond<T>(limit);
    if (value)
      cases.push_back({path, [path, v = *value](simulated_run& r) { set_field(r, path, v); }});
  });
  EXPECT_GT(cases.size(), 80u);
  for (const hostile& h : cases) {
    simulated_run changed(*run);
    h.apply(changed);
    const std::optional<std::string> refused = refusal(state_of(changed));
    ASSERT_TRUE(refused) << h.path << ": a value beyond its limit was accepted";
    EXPECT_NE(refused->find(h.path), std::string::npos) << *refused;
  }
}

// Crafted states of the run and of each record's relations.
struct crafted {
  const char* name;
  std::function<void(simulated_run&)> apply;
  const char* message;  // a part of the refusal
};

std::vector<crafted> crafted_states() {
  return {
      // A tick of these ran its rate timer's loop about 2^62 times.
      {"tick due at 2^62, rate period 1, rate due at 0",
       [](simulated_run& r) {
         set_field(r, "tick_due", std::uint64_t{1} << 62);
         set_field(r, "rate_period", 1);
         set_field(r, "rate_due", 0);
       },
       "tick due"},
      {"a tick period of 2^63",
       [](simulated_run& r) { set_field(r, "tick_period", std::uint64_t{1} << 63); },
       "tick period"},
      {"the clock near 2^64 with large periods",
       [](simulated_run& r) {
         set_field(r, "now", ~std::uint64_t{0} - 5);
         set_field(r, "tick_period", std::uint64_t{1} << 40);
       },
       "now is 18446744073709551610, outside 0 to 4611686018427387904"},
      {"the rate count a second behind",
       [](simulated_run& r) { set_field(r, "rate_due", r.now_ms()); }, "rate count"},
      {"the rate count stopped", [](simulated_run& r) { set_field(r, "rate_period", 0); },
       "rate count"},
      {"more ticks than milliseconds",
       [](simulated_run& r) { set_field(r, "ticks", r.now_ms() + 1); }, "more ticks"},
      {"the simulated clock a second ahead",
       [](simulated_run& r) { r.sim().clock.simulated_now += 1; }, "simulated clock"},
      {"a real clock", [](simulated_run& r) { r.sim().clock.simulated = false; },
       "simulated clock"},
      {"a client area the simulation does not have",
       [](simulated_run& r) { set_field(r, "client_width", 100); }, "client area"},
      {"a ramp timer started in the future",
       [](simulated_run& r) { r.sim().automode.stime[0] = r.sim().clock.simulated_now + 5; },
       "timer started after"},
      {"a ramp timer that never runs", [](simulated_run& r) { r.sim().automode.limits[4] = 1; },
       "never runs"},
      {"waypoints numbered anew", [](simulated_run& r) { r.sim().world.waypoints->index = 1; },
       "waypoints not numbered"},
      {"a current waypoint beyond the last",
       [](simulated_run& r) { r.sim().world.cur_waypoint = r.sim().world.num_waypoints; },
       "current waypoint"},
      {"100,000 waypoints",
       [](simulated_run& r) {
         for (int i = 0; i < 100000; ++i) world_add_waypoint(r.sim(), 1, 1, 0);
       },
       "app.sim.world.waypoints holds 100"},
      {"a marker kept",
       [](simulated_run& r) {
         r.sim().world.markers = new marker_node{1, 1, nullptr};
       },
       "markers holds 1"},
      {"an impact on top of another",
       [](simulated_run& r) {
         world_state& w = r.sim().world;
         w.impacts = new impact_node{w.impacts->x + 0.05, w.impacts->y, w.impacts};
         ++w.num_impacts;
       },
       "merge distance"},
      {"a wall of NaN", [](simulated_run& r) { r.sim().world.walls->width = kNaN; },
       "walls[0].width is nan"},
      {"an infinite wall", [](simulated_run& r) { r.sim().world.walls->x = -kInf; },
       "walls[0].x is -inf"},
      {"a heading of 1e308", [](simulated_run& r) { r.sim().robot.heading = 1e308; },
       "app.sim.robot.heading is 1e+308, outside -1000 to 1000"},
      {"a grid cell of 4095", [](simulated_run& r) { r.sim().world.map[3][4] = 4095; },
       "app.sim.world.map[3][4] is 4095"},
      {"a wall brush of another colour",
       [](simulated_run& r) { r.sim().world.wall_brush.colour = 0x123456; }, "drawing object"},
      {"two objects of one id",
       [](simulated_run& r) { r.sim().world.red_brush.id = r.sim().world.white_pen.id; },
       "same id"},
      {"a drawing object leaked", [](simulated_run& r) { ++r.sim().draw_objects.live; },
       "drawing objects live"},
      {"the generator's words out of step",
       [](simulated_run& r) { r.sim().rng.rear = r.sim().rng.front; }, "three words"},
      {"more runs given up than made",
       [](simulated_run& r) { r.sim().planner_stats.gave_up = r.sim().planner_stats.runs + 1; },
       "gave up"},
      {"a trail that is not recorded, with points",
       [](simulated_run& r) { r.app().trail.recording = false; }, "not recorded"},
      {"a trail of 70,000 points",
       [](simulated_run& r) {
         r.app().trail.points.resize(70000, point{1, 1});
       },
       "thinning"},
      {"half a trail break", [](simulated_run& r) { r.app().trail.points[0].x = kNaN; },
       "half a break"},
      {"a trail's spacing of 3", [](simulated_run& r) { r.app().trail.spacing_factor = 3; },
       "spacing"},
      {"a target's reach pending", [](simulated_run& r) { r.app().metrics.reach_pending = true; },
       "pending"},
      {"more contacts than ticks",
       [](simulated_run& r) { r.app().metrics.record.contacts = r.app().metrics.record.ticks + 1; },
       "more events"},
      {"a kept event that was never counted",
       [](simulated_run& r) { r.app().metrics.record.targets.push_back(target_event{}); },
       "not counted"},
      {"a stuck spell of a second",
       [](simulated_run& r) {
         r.app().metrics.record.stuck[0].end_ms = r.app().metrics.record.stuck[0].start_ms + 1000;
       },
       "shorter than a spell"},
      {"metrics of another time", [](simulated_run& r) { r.app().metrics.last_ms += 10; },
       "another time"},
      {"a program's turn of two radians",
       [](simulated_run& r) { r.app().driver.program_drive->turn = 2 * kMaxDriveTurn; },
       "program_drive.turn"},
      {"5,000 ticks in a second", [](simulated_run& r) { r.app().driver.updates = 5000; },
       "driver.updates is 5000"},
  };
}

TEST(SnapshotLimits, CraftedStatesAreRefusedWithTheReasonAndChangeNothing) {
  const std::unique_ptr<simulated_run> run = full_run();
  for (const crafted& c : crafted_states()) {
    simulated_run changed(*run);
    c.apply(changed);
    const std::optional<std::string> refused = refusal(state_of(changed));
    ASSERT_TRUE(refused) << c.name << ": accepted";
    EXPECT_NE(refused->find(c.message), std::string::npos) << c.name << ": " << *refused;
  }
}

// The payload of a snapshot, and a snapshot framed around any payload.
std::string payload_of(const std::string& snapshot) {
  return snapshot.substr(20, snapshot.size() - 28);
}
std::string framed(const std::string& payload) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : payload) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  const std::uint64_t length = payload.size();
  std::uint32_t version = kSnapshotVersion;
  std::string out = "RSIMSNAP";
  out.append(reinterpret_cast<const char*>(&version), 4);
  out.append(reinterpret_cast<const char*>(&length), 8);
  out += payload;
  out.append(reinterpret_cast<const char*>(&hash), 8);
  return out;
}

TEST(SnapshotLimits, FlagsKindsAndAbsentValuesAreTheBytesARunWrites) {
  std::unique_ptr<simulated_run> run = full_run();
  run->app().driver.program_drive.reset();
  const std::string payload = payload_of(state_of(*run));
  // The first drawing object's kind (1 byte), then show_walls after the eleven
  // objects (9 bytes each), the extent and cur_waypoint.
  std::string kind = payload;
  kind[0] = 3;
  EXPECT_NE(refusal(framed(kind)).value_or("accepted").find("white_brush.kind"), std::string::npos);
  std::string flag = payload;
  flag[11 * 9 + 8 + 8 + 4] = 2;
  EXPECT_NE(refusal(framed(flag)).value_or("accepted").find("world.show_walls is 2"),
            std::string::npos);
  // An absent program drive still carries its default value's bytes.
  simulated_run driven(*run);
  driven.app().driver.program_drive = drive_command{0.5, 0.25};
  std::string absent = payload_of(state_of(driven));
  const std::size_t present = absent.find(
      std::string("\x01", 1) +
      std::string(reinterpret_cast<const char*>(&driven.app().driver.program_drive->speed), 8));
  ASSERT_NE(present, std::string::npos);
  absent[present] = 0;
  EXPECT_NE(refusal(framed(absent))
                .value_or("accepted")
                .find("program_drive: a value where there is none"),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// A tick stays bounded, whatever its timers hold.

TEST(SnapshotLimits, ATickWithTimersNoRunHasEndsAndReArmsTheRateCount) {
  // Set directly: no snapshot would take these.
  struct odd {
    const char* name;
    std::uint64_t tick_due, rate_period, rate_due;
  };
  const odd cases[] = {
      {"rate due at 0, period 1, tick at 2^62", std::uint64_t{1} << 62, 1, 0},
      {"rate due at 0, period 1, tick past the clock's end", ~std::uint64_t{0}, 1, 0},
      {"rate period 1 near the clock's end", ~std::uint64_t{0} - 1, 1,
       ~std::uint64_t{0} - (1u << 30)},
  };
  for (const odd& c : cases) {
    std::unique_ptr<simulated_run> run = started(1);
    set_field(*run, "tick_due", c.tick_due);
    set_field(*run, "rate_period", c.rate_period);
    set_field(*run, "rate_due", c.rate_due);
    run->tick();
    run->tick();
    EXPECT_EQ(run->ticks(), 2u) << c.name;
  }
}

TEST(SnapshotLimits, TheLongestTickPeriodMeetsEveryRateCountOfItsSeconds) {
  // A period of 25 s: every tick meets 25 rate counts, the first 24 before it.
  std::unique_ptr<simulated_run> run = started(1, nullptr, false, 25000);
  for (int i = 0; i < 4; ++i) {
    run->tick();
    EXPECT_EQ(run->now_ms(), 25000u * (i + 1));
    EXPECT_EQ(run->app().driver.updates_per_second, 1) << "the rate count at the tick's time";
    EXPECT_EQ(run->app().driver.updates, 0);
  }
  EXPECT_FALSE(refusal(state_of(*run)));
}

}  // namespace
