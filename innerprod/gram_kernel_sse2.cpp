// SSE2 version (every x86-64 machine): tiles of 4 rows x 4 columns,
// 8 accumulators of 2 lanes.
#include <emmintrin.h>

#include "gram_kernel_micro.h"

namespace {

struct Sse2 {
  using V = __m128d;
  static constexpr int W = 2, MR = 4, NV = 2;
  static constexpr bool kMasked = false;
  static constexpr size_t kInPlaceBytes = 1024, kKc = 128;  // see gram_kernel_tiles.h
  static V load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, V v) { _mm_storeu_pd(p, v); }
  static V bcast(double a) { return _mm_set1_pd(a); }
  static V mul(V a, V b) { return _mm_mul_pd(a, b); }
  static V add(V a, V b) { return _mm_add_pd(a, b); }
};

}  // namespace

namespace gram::detail {
const KernelSet kernels_sse2 = make_kernel_set<Sse2>("sse2");
}
