#include <immintrin.h>

#include "kernel_peak.h"

namespace {
struct Avx512Ymm {
  using V = __m256d;
  static constexpr int W = 4;
  static V bcast(double a) { return _mm256_set1_pd(a); }
  static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
};
}  // namespace

// 16 accumulators + 8 multipliers + 2 operands of the 32 ymm registers (AVX-512VL).
const kbench::Peak kbench::peak_avx512vl = {16 * 4, &peak_loop<Avx512Ymm, 16, 8>};
