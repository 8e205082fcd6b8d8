#include "loadings_kernel.h"

namespace loadcalc {

void accumulate(const double* __restrict row, size_t n, const double* __restrict ev, size_t K,
                const double* __restrict c, double* __restrict out) {
  for (size_t k = 0; k < K; ++k) out[k] = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double z = row[i];
    const double* __restrict v = ev + i * K;
    for (size_t k = 0; k < K; ++k) out[k] = out[k] + (z * v[k]) * c[k];
  }
}

void accumulate_ref(const double* row, size_t n, const double* ev, size_t K, const double* c,
                    double* out) {
  for (size_t k = 0; k < K; ++k) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum = sum + (row[i] * ev[i * K + k]) * c[k];
    out[k] = sum;
  }
}

}  // namespace loadcalc
