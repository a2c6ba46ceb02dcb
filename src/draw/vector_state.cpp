#include "draw/vector_state.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

__attribute__((target("avx"))) void zero_upper() {
  _mm256_zeroupper();
}

bool has_avx() {
  // Static initialisers may run before the compiler's own processor detection.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx");
}

}  // namespace

void clear_upper_vector_state() {
  static const bool avx = has_avx();
  if (avx) zero_upper();
}

#else

void clear_upper_vector_state() {}

#endif
