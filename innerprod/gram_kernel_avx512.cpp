// AVX-512 version: tiles of 8 rows x 24 columns, 24 accumulators of 8 lanes.
#include <immintrin.h>

#include "gram_kernel_micro.h"

namespace {

struct Avx512 {
  using V = __m512d;
  static constexpr int W = 8, MR = 8, NV = 3;
  static constexpr bool kMasked = true;
  static constexpr size_t kInPlaceBytes = 1024, kKc = 256;  // see gram_kernel_tiles.h
  using Mask = __mmask8;
  static Mask mask(int lanes) { return Mask((1u << lanes) - 1); }  // first `lanes` lanes
  static V load_masked(const double* p, Mask k) { return _mm512_maskz_loadu_pd(k, p); }
  static void store_masked(double* p, V v, Mask k) { _mm512_mask_storeu_pd(p, k, v); }
  static V load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
  static V bcast(double a) { return _mm512_set1_pd(a); }
  static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
  static V add(V a, V b) { return _mm512_add_pd(a, b); }
};

}  // namespace

namespace gram::detail {
const KernelSet kernels_avx512 = make_kernel_set<Avx512>("avx512");
}
