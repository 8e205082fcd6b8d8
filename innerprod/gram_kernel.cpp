#include "gram_kernel.h"

namespace gram {

// Placeholder until the tiled, run-time dispatched kernel lands.
void accumulate(const double* x, size_t ldx, const double* y, size_t ldy, size_t n_sites,
                size_t m, size_t n, double* acc, size_t ldc, bool lower) {
  accumulate_ref(x, ldx, y, ldy, n_sites, m, n, acc, ldc, lower);
}

const char* kernel_isa() { return "reference"; }

}  // namespace gram
