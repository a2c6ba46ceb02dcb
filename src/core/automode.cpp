#include "core/automode.h"

#include "core/simulation.h"
#include "core/utility.h"

namespace {

constexpr double kRampSeconds = 1.0;
constexpr unsigned kSlowDownTimer = 0;
constexpr unsigned kRandomTurnTimer = 1;
constexpr double kCruiseSpeed = 0.05;
constexpr double kMaxTurn = 0.3;
constexpr double kMaxNoisySpeed = 0.07;

}  // namespace

double timer_func(simulation& sim, double input, unsigned index, double threshold, double limit) {
  automode_state& state = sim.automode;
  if (index >= kAutomodeTimers) return 0;
  if (state.first_run) {
    for (double& start : state.stime) start = 0;
    state.first_run = false;
  }
  if (state.stime[index] > 0) {
    const double elapsed = get_time(sim) - state.stime[index];
    if (elapsed > kRampSeconds) {
      state.stime[index] = 0;
      return 1.0;
    }
    return elapsed * state.limits[index];
  }
  if (input >= threshold) {
    state.stime[index] = get_time(sim);
    state.limits[index] = limit;
  }
  return 0;
}

void robot_auto_mode(simulation& sim) {
  robot_state& robot = sim.robot;
  double* nav_average = sim.automode.nav_average;
  nav_average[0] = nav_average[1];
  nav_average[1] = robot.heading_error;
  const double avg = (nav_average[0] + nav_average[1]) * 0.5;

  const double* value = robot.sensor_value;
  const bool* hit = robot.sensor_hit;
  const double obstruction =
      0.2 * value[0] + 0.2 * value[2] + 0.4 * value[1] + 0.4 * hit[0] + 0.4 * hit[2] + 2 * hit[1];

  const double slow_down = timer_func(sim, obstruction, kSlowDownTimer, 2.0, 2.0);
  const double random_limit = f_rand(sim, -2, 2);  // drawn on every call, used or not
  const double random_turn = timer_func(sim, slow_down, kRandomTurnTimer, 1.0, random_limit);

  // Sensor 0's reading enters twice, and sensor 2's not at all: that is the
  // automatic mode's rule (it slows down by 0.3 per unit of sensor 0), not a typo.
  double speed = kCruiseSpeed * (1 - 0.15 * value[0] - 0.15 * value[0] - 1.1 * slow_down);
  double turn = 0.1 * (1.5 * avg + 0.5 * value[0] - 0.5 * value[2] - random_turn);
  if (turn < -kMaxTurn) turn = -kMaxTurn;
  if (turn > kMaxTurn) turn = kMaxTurn;
  robot.turn = turn;

  // Automatic mode never backs up: a negative speed is mirrored, then capped.
  if (speed < 0) speed = -speed;
  if (speed > kCruiseSpeed) speed = kCruiseSpeed;
  robot.speed = speed;
}

void set_motion(simulation& sim, double speed, double turn, double speed_noise, double turn_noise) {
  if (sim.manual_mode) return;
  robot_state& robot = sim.robot;
  robot.speed = speed + f_rand(sim, -speed_noise, speed_noise);
  if (robot.speed > kMaxNoisySpeed) robot.speed = kMaxNoisySpeed;
  robot.turn = turn + f_rand(sim, -turn_noise, turn_noise);
}
