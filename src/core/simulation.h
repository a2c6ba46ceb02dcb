// One simulation: every piece of state the simulation has, owned by one value
// that the caller holds and passes to every operation. Any number can live in
// one process, each on its own thread if need be (one thread at a time each);
// a copy is a second simulation in exactly the same state, with the same future.
//
// A simulation starts as a program does before its start-up: an empty world of
// zero size (no lists, no drawing objects), the robot record zeroed, manual mode
// off, the automatic mode's timers idle, the planner's counters zero, the random
// generator as before any seeding, the real clock, the console on standard
// error. The caller then sets up what its run needs (a console sink, the
// simulated clock, a seed, world_setup or the shell's start-up).
#pragma once

#include <cstdint>

#include "core/automode.h"
#include "core/console.h"
#include "core/draw_object.h"
#include "core/impact_array.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/wall_index.h"
#include "core/world.h"

// The members of a simulation. Everything here is copied member by member; the
// lists of the world are the one thing a copy must take care of (simulation).
struct simulation_data {
  world_state world{};
  robot_state robot{};
  // Manual driving: the keys set speed and turn and the automatic mode stays out.
  // Starts false; only the M key (and the programs that stand in for it) change it.
  bool manual_mode = false;
  // What the last tick's push-back met; the simulation itself never reads it.
  push_back_observation last_push_back;
  // The client area's size in pixels, onto which the conversions map the world.
  // The shell sets it; the simulation only reads it.
  std::int32_t display_x = 0;
  std::int32_t display_y = 0;
  robot_update_memory robot_memory;
  automode_state automode;
  planner_counters planner_stats;
  random_generator rng;
  simulation_clock clock;
  console_sink console;
  draw_object_count draw_objects;
  impact_offer_watcher offer_watcher;

  // Caches, which a copy starts without.
  fresh_on_copy<wall_index> wall_grid;
  fresh_on_copy<impact_array_state> impact_lookup;
  fresh_on_copy<impact_buckets> impact_merge;
  fresh_on_copy<planner_cache> planner;
  fresh_on_copy<ray_direction_memo> ray_directions;
};

struct simulation : simulation_data {
  simulation() = default;
  // A deep copy: the world's lists node for node, every other member as it is.
  simulation(const simulation& other);
  simulation& operator=(const simulation& other);
  ~simulation();
};

// The name of the first value of the robot or of the world's target and gains
// that is not a finite number ("the robot's heading", ...), or nullptr when all
// are. Finite inputs can still overflow (a drive of 1e308 per tick, gains of
// 1e308): the runs without a window stop once this is not nullptr, rather than
// going on with a robot that is nowhere.
const char* first_non_finite_value(const simulation& sim);
