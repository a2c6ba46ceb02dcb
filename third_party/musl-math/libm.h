/*
 * The parts of musl's internal libm.h (src/internal/libm.h) that these
 * functions use, for IEEE doubles (x86-64 with SSE2, WebAssembly), and the
 * names they are built under here, so that they never clash with the C
 * library's own. See README.md.
 */
#ifndef _LIBM_H
#define _LIBM_H

#include <stdint.h>
#include <float.h>
#include <math.h>

/* The same arithmetic in every build: no fused multiply-add, whatever the
   processor offers. */
#undef __FP_FAST_FMA

#define hidden __attribute__((__visibility__("hidden")))

/* The exported functions and the internal ones, under names of their own. */
#define sin robosim_musl_sin
#define cos robosim_musl_cos
#define sincos robosim_musl_sincos
#define atan robosim_musl_atan
#define atan2 robosim_musl_atan2
#define pow robosim_musl_pow
#define __sin robosim_musl_kernel_sin
#define __cos robosim_musl_kernel_cos
#define __rem_pio2 robosim_musl_rem_pio2
#define __rem_pio2_large robosim_musl_rem_pio2_large
#define __math_oflow robosim_musl_math_oflow
#define __math_uflow robosim_musl_math_uflow
#define __math_xflow robosim_musl_math_xflow
#define __math_invalid robosim_musl_math_invalid
#define __math_divzero robosim_musl_math_divzero
#define __exp_data robosim_musl_exp_data
#define __pow_log_data robosim_musl_pow_log_data

double sin(double);
double cos(double);
void sincos(double, double*, double*);
double atan(double);
double atan2(double, double);
double pow(double, double);

/* Support non-nearest rounding mode.  */
#define WANT_ROUNDING 1
/* Support signaling NaNs.  */
#define WANT_SNAN 0
#define issignaling_inline(x) 0

#define TOINT_INTRINSICS 0

#define predict_true(x) __builtin_expect(!!(x), 1)
#define predict_false(x) __builtin_expect(x, 0)

static inline double eval_as_double(double x)
{
	double y = x;
	return y;
}

static inline double fp_barrier(double x)
{
	volatile double y = x;
	return y;
}

static inline void fp_force_evalf(float x)
{
	volatile float y;
	y = x;
}

static inline void fp_force_eval(double x)
{
	volatile double y;
	y = x;
}

#define FORCE_EVAL(x) do {                        \
	if (sizeof(x) == sizeof(float)) {         \
		fp_force_evalf(x);                \
	} else {                                  \
		fp_force_eval(x);                 \
	}                                         \
} while(0)

#define asuint64(f) ((union{double _f; uint64_t _i;}){f})._i
#define asdouble(i) ((union{uint64_t _i; double _f;}){i})._f

#define EXTRACT_WORDS(hi,lo,d)                    \
do {                                              \
  uint64_t __u = asuint64(d);                     \
  (hi) = __u >> 32;                               \
  (lo) = (uint32_t)__u;                           \
} while (0)

#define GET_HIGH_WORD(hi,d)                       \
do {                                              \
  (hi) = asuint64(d) >> 32;                       \
} while (0)

#define GET_LOW_WORD(lo,d)                        \
do {                                              \
  (lo) = (uint32_t)asuint64(d);                   \
} while (0)

#define INSERT_WORDS(d,hi,lo)                     \
do {                                              \
  (d) = asdouble(((uint64_t)(hi)<<32) | (uint32_t)(lo)); \
} while (0)

#define SET_HIGH_WORD(d,hi)                       \
  INSERT_WORDS(d, hi, (uint32_t)asuint64(d))

#define SET_LOW_WORD(d,lo)                        \
  INSERT_WORDS(d, asuint64(d)>>32, lo)

hidden int    __rem_pio2_large(double*,double*,int,int,int);
hidden int    __rem_pio2(double,double*);
hidden double __sin(double,double,int);
hidden double __cos(double,double);

hidden double __math_xflow(uint32_t, double);
hidden double __math_uflow(uint32_t);
hidden double __math_oflow(uint32_t);
hidden double __math_divzero(uint32_t);
hidden double __math_invalid(double);

#endif
