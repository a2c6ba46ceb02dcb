/*
 * Not one of musl's files: the sine and the cosine of one argument, each bit
 * for bit what sin.c and cos.c return for it (their small-argument cut-offs
 * included, which musl's own sincos draws differently), with the argument
 * reduced once instead of twice. See README.md.
 */
#include "libm.h"

void sincos(double x, double *sin_x, double *cos_x)
{
	double y[2], s, c;
	uint32_t ix;
	unsigned n;

	GET_HIGH_WORD(ix, x);
	ix &= 0x7fffffff;

	/* |x| ~< pi/4: no reduction, each as sin.c and cos.c have it */
	if (ix <= 0x3fe921fb) {
		*sin_x = sin(x);
		*cos_x = cos(x);
		return;
	}

	/* Inf or NaN */
	if (ix >= 0x7ff00000) {
		*sin_x = *cos_x = x - x;
		return;
	}

	n = __rem_pio2(x, y);
	s = __sin(y[0], y[1], 1);
	c = __cos(y[0], y[1]);
	switch (n&3) {
	case 0: *sin_x =  s; *cos_x =  c; break;
	case 1: *sin_x =  c; *cos_x = -s; break;
	case 2: *sin_x = -s; *cos_x = -c; break;
	default: *sin_x = -c; *cos_x = s; break;
	}
}
