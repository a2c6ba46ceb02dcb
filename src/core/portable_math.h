// The simulation's sines, cosines, arc tangents and powers, and those of its
// drawing: musl's implementations (third_party/musl-math), built with the
// project in every build. The C libraries differ in the last bit of these
// functions (glibc even between processors with and without fused multiply-add,
// and the WebAssembly build's library from both), and a run amplifies such a
// bit into another path within a few thousand ticks; with one implementation a
// run gives the same numbers on every machine and in every browser.
//
// Everything else the simulation computes (+, -, *, /, sqrt, fabs, floor,
// remainder, ...) is exact in IEEE arithmetic and the same everywhere already.
#pragma once

extern "C" {
double robosim_musl_sin(double x);
double robosim_musl_cos(double x);
void robosim_musl_sincos(double x, double* sin_x, double* cos_x);
double robosim_musl_atan2(double y, double x);
double robosim_musl_pow(double x, double y);
}

inline double portable_sin(double x) {
  return robosim_musl_sin(x);
}
inline double portable_cos(double x) {
  return robosim_musl_cos(x);
}
// portable_sin(x) and portable_cos(x), bit for bit, reducing the argument once.
inline void portable_sincos(double x, double& sin_x, double& cos_x) {
  robosim_musl_sincos(x, &sin_x, &cos_x);
}
inline double portable_atan2(double y, double x) {
  return robosim_musl_atan2(y, x);
}
inline double portable_pow(double x, double y) {
  return robosim_musl_pow(x, y);
}
