#include <emmintrin.h>

#include "kernel_peak.h"

namespace {
struct Sse2 {
  using V = __m128d;
  static constexpr int W = 2;
  static V bcast(double a) { return _mm_set1_pd(a); }
  static void store(double* p, V v) { _mm_storeu_pd(p, v); }
  static V mul(V a, V b) { return _mm_mul_pd(a, b); }
  static V add(V a, V b) { return _mm_add_pd(a, b); }
};
}  // namespace

// 8 accumulators + 4 multipliers + 2 operands of the 16 registers.
const kbench::Peak kbench::peak_sse2 = {8 * 2, &peak_loop<Sse2, 8, 4>};
