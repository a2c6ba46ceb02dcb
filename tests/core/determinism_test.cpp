// With a fixed seed and the simulated clock a whole run of the driver is
// reproducible bit for bit, and a stored fingerprint of its end state catches
// any change in behaviour.
#include <cstdint>
#include <cstring>
#include <vector>

#include "shell/run_metrics.h"
#include "test_support.h"

namespace {

constexpr unsigned kSeed = 20240611;
constexpr int kTicks = 3000;

class byte_sink {
 public:
  template <typename T>
  void add(const T& value) {
    const auto* p = reinterpret_cast<const unsigned char*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof(T));
  }
  std::vector<unsigned char> bytes;
};

class DeterminismTest : public SimulationTest {
 protected:
  // Starts the program afresh as the window would, with two walls drawn in, and
  // runs it: a tick every 10 ms of simulated time and the rate report every second.
  // With observe, the run metrics watch every tick, as in a run without a window.
  void run_simulation(simulator& app, unsigned seed, int ticks, bool observe = false) {
    simulation& sim = app.sim;
    simulation_reset(app);
    set_console_sink(sim, [](std::string_view) {});
    use_simulated_clock(sim, 1000.0);
    fake_platform window;
    system_startup(app, window, seed);
    world_add_wall(sim, 3, 3, 0.4, 3);
    world_add_wall(sim, 5.5, 6.5, 2.5, 0.4);
    if (observe) run_metrics_start(app, 0);
    for (int tick = 1; tick <= ticks; ++tick) {
      if (observe) run_metrics_before_tick(app);
      advance_simulated_clock(sim, 0.01);
      timer_message(app, window, kTickTimerId);
      if (observe) run_metrics_after_tick(app, static_cast<std::uint64_t>(tick) * 10);
      if (tick % 100 == 0) timer_message(app, window, kRateTimerId);
    }
  }

  // Every piece of state a run leaves behind, field by field (no padding bytes).
  std::vector<unsigned char> full_state(simulator& app) {
    simulation& sim = app.sim;
    world_state& world = app.sim.world;
    robot_state& robot = app.sim.robot;
    byte_sink s;
    s.add(robot.x);
    s.add(robot.y);
    s.add(robot.vel_x);
    s.add(robot.vel_y);
    s.add(robot.heading);
    s.add(robot.turn);
    s.add(robot.speed);
    for (int i = 0; i < kNumSensors; ++i) {
      s.add(robot.sensor_hit[i]);
      s.add(robot.sensor_value[i]);
      s.add(robot.vision_seen[i]);
      if (robot.vision_seen[i]) {
        s.add(robot.vision_point[i].x);
        s.add(robot.vision_point[i].y);
      }
    }
    s.add(robot.grad_angle);
    s.add(robot.grad_mag);
    s.add(robot.heading_error);
    s.add(sim.automode.nav_average[0]);
    s.add(sim.automode.nav_average[1]);
    s.add(world.target_x);
    s.add(world.target_y);
    s.add(world.num_walls);
    s.add(world.num_impacts);
    s.add(world.num_waypoints);
    s.add(world.cur_waypoint);
    for (const impact_node* i = world.impacts; i; i = i->next) {
      s.add(i->x);
      s.add(i->y);
    }
    for (const waypoint_node* w = world.waypoints; w; w = w->next) {
      s.add(w->x);
      s.add(w->y);
      s.add(w->angle);
      s.add(w->index);
    }
    s.add(world.map);
    s.add(app.driver.updates);
    s.add(app.driver.updates_per_second);
    return s.bytes;
  }

  // FNV-1a over the bytes of the pose, the target and the two counts.
  std::uint64_t fingerprint(simulation& sim) {
    world_state& world = sim.world;
    robot_state& robot = sim.robot;
    byte_sink s;
    s.add(robot.x);
    s.add(robot.y);
    s.add(robot.heading);
    s.add(world.target_x);
    s.add(world.target_y);
    s.add(world.num_impacts);
    s.add(world.num_waypoints);
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : s.bytes) {
      hash ^= byte;
      hash *= 1099511628211ull;
    }
    return hash;
  }
};

TEST_F(DeterminismTest, SameSeedGivesABitIdenticalRun) {
  run_simulation(app, kSeed, kTicks);
  const std::vector<unsigned char> first = full_state(app);
  // The run did something worth comparing.
  EXPECT_GT(world.num_impacts, 0);
  EXPECT_GT(app.driver.updates_per_second, 0);

  run_simulation(app, kSeed, kTicks);
  EXPECT_EQ(full_state(app), first);

  run_simulation(app, kSeed + 1, kTicks);
  EXPECT_NE(full_state(app), first);
}

TEST_F(DeterminismTest, WatchingWithTheRunMetricsChangesNothing) {
  run_simulation(app, kSeed, kTicks);
  const std::vector<unsigned char> unobserved = full_state(app);
  run_simulation(app, kSeed, kTicks, true);
  EXPECT_GT(run_metrics(app).distance, 1.0);  // the metrics did watch
  EXPECT_GT(run_metrics(app).contacts, 0u);
  EXPECT_EQ(full_state(app), unobserved);
}

TEST_F(DeterminismTest, EndStateMatchesTheRecordedFingerprint) {
  // The fingerprint of the run above, recorded from this build. It changes
  // whenever the simulation behaves differently: any change to the update, the
  // sensing, the planner, the field, the automatic mode or the order of random
  // draws. When such a change is intended, run this test, check that the new
  // behaviour is right, and replace the constant with the value it reports.
  // The sines, cosines, arc tangents and powers are the project's own
  // (core/portable_math.h), so the value is the same on every platform, the
  // WebAssembly build included.
  constexpr std::uint64_t kRecorded = 0x259b591e7f901097ull;
  run_simulation(app, kSeed, kTicks, true);  // the run metrics watching, which changes nothing
  EXPECT_EQ(fingerprint(sim), kRecorded)
      << "fingerprint 0x" << std::hex << fingerprint(sim) << " after " << std::dec << kTicks
      << " ticks: robot (" << robot.x << ", " << robot.y << ") heading " << robot.heading
      << ", target (" << world.target_x << ", " << world.target_y << "), " << world.num_impacts
      << " impacts, " << world.num_waypoints << " waypoints";
}

}  // namespace
