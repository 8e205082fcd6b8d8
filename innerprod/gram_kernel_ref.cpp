#include "gram_kernel.h"

namespace gram {

void accumulate_ref(const double* x, size_t ldx, const double* y, size_t ldy, size_t n_sites,
                    size_t m, size_t n, double* acc, size_t ldc, bool lower) {
  for (size_t k = 0; k < n_sites; ++k) {
    const double* xk = x + k * ldx;
    const double* yk = y + k * ldy;
    for (size_t i = 0; i < m; ++i) {
      size_t jend = lower ? i + 1 : n;
      double* row = acc + i * ldc;
      for (size_t j = 0; j < jend; ++j) row[j] += xk[i] * yk[j];
    }
  }
}

}  // namespace gram
