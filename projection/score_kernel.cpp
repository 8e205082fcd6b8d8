#include "score_kernel.h"

#include "rowops.h"

namespace proj {

void site_values(double* panel, size_t ld, size_t m, size_t n, const double* mean, const double* sd) {
  for (size_t t = 0; t < n; ++t) {
    double* row = panel + t * ld;
    const double mt = mean[t];
    if (!sd) {
      for (size_t j = 0; j < m; ++j) row[j] = row[j] - mt;
    } else if (sd_is_zero(sd[t])) {
      for (size_t j = 0; j < m; ++j) row[j] = 0.0;
    } else {
      rowops::sub_divide(row, m, mt, sd[t]);
    }
  }
}

void accumulate(const double* panel, size_t ld, size_t m, size_t n, const double* load, size_t K,
                double* acc) {
  // Sites outermost: the panel is read once, in order, and the m x K sums
  // (small) stay in cache; each sum still grows in site order.
  for (size_t t = 0; t < n; ++t) {
    const double* zt = panel + t * ld;
    const double* l = load + t * K;
    for (size_t j = 0; j < m; ++j) {
      const double z = zt[j];
      double* a = acc + j * K;
      for (size_t k = 0; k < K; ++k) a[k] = a[k] + z * l[k];
    }
  }
}

}  // namespace proj
