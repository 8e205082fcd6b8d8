#include <immintrin.h>

#include "kernel_peak.h"

namespace {
struct Avx512 {
  using V = __m512d;
  static constexpr int W = 8;
  static V bcast(double a) { return _mm512_set1_pd(a); }
  static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
};
}  // namespace

// 16 accumulators + 8 multipliers + 2 operands of the 32 registers.
const kbench::Peak kbench::peak_avx512 = {16 * 8, &peak_loop<Avx512, 16, 8>};
