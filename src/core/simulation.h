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
#include <limits>

#include "core/automode.h"
#include "core/console.h"
#include "core/draw_object.h"
#include "core/impact_array.h"
#include "core/map.h"
#include "core/robot.h"
#include "core/utility.h"
#include "core/wall_index.h"
#include "core/world.h"

// What a simulation has besides its state: where its console text goes, the
// watcher of impact offers, and the caches, which a copy starts without. Two
// simulations in the same state may differ in all of them, so these compare equal.
struct simulation_attachments {
  console_sink console;
  impact_offer_watcher offer_watcher;
  fresh_on_copy<wall_index> wall_grid;
  // Filled by reads too (the field's look for the nearest impact, which a
  // picture's lattice makes), hence mutable: it is never state.
  mutable fresh_on_copy<impact_array_state> impact_lookup;
  fresh_on_copy<impact_buckets> impact_merge;
  fresh_on_copy<planner_cache> planner;
  fresh_on_copy<ray_direction_memo> ray_directions;

  friend bool operator==(const simulation_attachments&, const simulation_attachments&) {
    return true;
  }
};

// The members of a simulation. Everything here is copied member by member; the
// lists of the world are the one thing a copy must take care of (simulation).
struct simulation_data : simulation_attachments {
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
  draw_object_count draw_objects;

  // The state, the world's lists after every value. The client area is the
  // run's (shell/simulated_run.h).
  template <typename Self, typename Visit>
  static void fields(Self& s, Visit& visit) {
    visit(s.world, "world");
    visit(s.robot, "robot");
    visit(s.manual_mode, "manual_mode");
    visit(s.last_push_back, "last_push_back");
    visit(s.display_x, "display_x", whole_limit{0, std::numeric_limits<std::int32_t>::max()});
    visit(s.display_y, "display_y", whole_limit{0, std::numeric_limits<std::int32_t>::max()});
    visit(s.robot_memory, "robot_memory");
    visit(s.automode, "automode");
    visit(s.planner_stats, "planner_stats");
    visit(s.rng, "rng");
    visit(s.clock, "clock");
    visit(s.draw_objects, "draw_objects");
    world_state::lists(s.world, visit);
  }
  // The world's lists as a planning run and the impacts' merging leave them,
  // the times of the timers those of the clock, the world's drawing objects the
  // live ones (simulation.cpp).
  static void relations(const simulation_data& s, field_check& check);
  // Every member, the world's lists by their heads (see simulation's ==).
  friend bool operator==(const simulation_data&, const simulation_data&) = default;
};

struct simulation : simulation_data {
  simulation() = default;
  // A deep copy: the world's lists node for node, every other member as it is.
  simulation(const simulation& other);
  simulation& operator=(const simulation& other);
  ~simulation();

  // The same state: every member equal, the world's lists holding the same values.
  friend bool operator==(const simulation& a, const simulation& b);
};

// The name of the first value of the robot or of the world's target and gains
// that is not a finite number ("the robot's heading", ...), or nullptr when all
// are. Finite inputs can still overflow (a drive of 1e308 per tick, gains of
// 1e308): the runs without a window stop once this is not nullptr, rather than
// going on with a robot that is nowhere.
const char* first_non_finite_value(const simulation& sim);
