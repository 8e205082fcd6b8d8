// AVX2 version of loadcalc::accumulate_sites (4 components per vector).
#include <immintrin.h>

#include "loadings_kernel_simd.h"

namespace {
struct Avx2 {
  using V = __m256d;
  static constexpr size_t W = 4;
  static constexpr bool kLanes = false;  // the sites-in-lanes path is built for AVX-512 only
  static V load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
  static V bcast(double a) { return _mm256_set1_pd(a); }
  static V zero() { return _mm256_setzero_pd(); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
};
}  // namespace

namespace loadcalc::detail {
void accumulate_sites_avx2(const double* rows, size_t ld, size_t n_sites, size_t n,
                           const double* ev, size_t K, const double* c, double* out) {
  accumulate_sites_simd<Avx2>(rows, ld, n_sites, n, ev, K, c, out);
}
}  // namespace loadcalc::detail
