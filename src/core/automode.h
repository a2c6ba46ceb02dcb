// Automatic mode: speed and turn from the sensors and the field direction, with
// two one-second ramp timers for obstruction.
#pragma once

// The last two heading errors seen by robot_auto_mode; element 1 is the newest.
extern double nav_average[2];

// Ramp timer: 0 while idle (arms when input >= threshold), then elapsed * limit
// for one second, then exactly 1.0 once. Indices above 9 return 0.
double timer_func(double input, unsigned index, double threshold, double limit);
// Sets the robot's speed and turn for this tick.
void robot_auto_mode();
// Kept without callers: speed and turn with uniform noise; speed capped at 0.07.
// Nothing in manual mode.
void set_motion(double speed, double turn, double speed_noise, double turn_noise);

// Idle timers and zero history, as at program start. Part of simulation_reset(),
// which is what callers use.
void automode_reset();
