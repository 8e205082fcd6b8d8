// AVX-512 version of loadcalc::accumulate_sites (8 components per vector).
#include <immintrin.h>

#include "loadings_kernel_simd.h"

namespace {
struct Avx512 {
  using V = __m512d;
  static constexpr size_t W = 8;
  static V load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
  static V bcast(double a) { return _mm512_set1_pd(a); }
  static V zero() { return _mm512_setzero_pd(); }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
  static constexpr bool kLanes = true;  // sites in lanes where K is not a multiple of 8
};
}  // namespace

namespace loadcalc::detail {
void accumulate_sites_avx512(const double* rows, size_t ld, size_t n_sites, size_t n,
                             const double* ev, size_t K, const double* c, double* out) {
  accumulate_sites_simd<Avx512>(rows, ld, n_sites, n, ev, K, c, out);
}
}  // namespace loadcalc::detail
