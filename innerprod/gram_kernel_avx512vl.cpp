// AVX-512 instructions on 256-bit vectors (AVX-512VL): 32 ymm registers,
// tiles of 4 rows x 24 columns, 24 accumulators of 4 lanes, masked edges
// through mask registers. Made for processors that run 512-bit operations as
// two 256-bit halves (AMD family 19h): there a broadcast into a 512-bit
// register takes a floating-point pipe slot from the multiplies and adds,
// while a 256-bit broadcast from memory is done by the load unit alone. On
// cache-resident data the 512-bit micro-kernel stays at about 75% of the
// multiply+add peak whatever its shape, this one reaches 90-95%.
//
// y is always packed (no reading in place: the pack's panel rows are whole
// cache lines, and the triangle reads its row values from the same pack),
// in passes of up to 256 sites.
#include <immintrin.h>

#include "gram_kernel_micro.h"

namespace {

struct Avx512Ymm {
  using V = __m256d;
  static constexpr int W = 4, MR = 4, NV = 6;
  static constexpr bool kMasked = true;
  static constexpr size_t kInPlaceBytes = 0, kKc = 256;  // see gram_kernel_tiles.h
  using Mask = __mmask8;
  static Mask mask(int lanes) { return Mask((1u << lanes) - 1); }  // first `lanes` lanes
  static V load_masked(const double* p, Mask k) { return _mm256_maskz_loadu_pd(k, p); }
  static void store_masked(double* p, V v, Mask k) { _mm256_mask_storeu_pd(p, k, v); }
  static V load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
  static V bcast(double a) { return _mm256_set1_pd(a); }
  static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  static V add(V a, V b) { return _mm256_add_pd(a, b); }
};

}  // namespace

namespace gram::detail {
const KernelSet kernels_avx512vl = make_kernel_set<Avx512Ymm>("avx512vl");
}
