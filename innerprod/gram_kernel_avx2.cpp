// AVX2 version: tiles of 4 rows x 8 columns, 8 accumulators of 4 lanes.
#include <immintrin.h>

#include "gram_kernel_micro.h"

namespace {

struct Avx2 {
  using V = __m256d;
  static constexpr int W = 4, MR = 4, NV = 2;
  static constexpr bool kMasked = true;
  static constexpr size_t kInPlaceBytes = 1024, kKc = 128;  // see gram_kernel_tiles.h
  using Mask = __m256i;
  static Mask mask(int lanes) {  // first `lanes` lanes: sign bit set where lane < lanes
    return _mm256_cmpgt_epi64(_mm256_set1_epi64x(lanes), _mm256_setr_epi64x(0, 1, 2, 3));
  }
  static V load_masked(const double* p, Mask k) { return _mm256_maskload_pd(p, k); }
  static void store_masked(double* p, V v, Mask k) { _mm256_maskstore_pd(p, k, v); }
  static V load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
  static V bcast(double a) { return _mm256_set1_pd(a); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
};

}  // namespace

namespace gram::detail {
const KernelSet kernels_avx2 = make_kernel_set<Avx2>("avx2");
}
