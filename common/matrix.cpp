#include "matrix.h"

#include <cstdint>
#include <sys/mman.h>

namespace {

// Large matrices (a block's data: hundreds of MB) are backed by transparent
// huge pages where the system allows it on request: far fewer page faults
// when the cells are first written, which on virtual machines costs more
// than writing the cells themselves.
void advise_huge_pages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (bytes < 4 * kHuge) return;
  uintptr_t b = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  uintptr_t e = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);  // a hint; failure is harmless
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace

void sizeMatrix(Matrix& m, long rows, long cols) {
  if (rows < 0) rows = 0;
  if (cols < 0) cols = 0;
  m.cells.clear();
  m.cells.shrink_to_fit();
  m.n_rows = static_cast<size_t>(rows);
  m.n_cols = static_cast<size_t>(cols);
  const size_t n = m.n_rows * m.n_cols;
  m.cells.reserve(n);  // untouched memory: the advice applies before any page is faulted in
  advise_huge_pages(m.cells.data(), n * sizeof(double));
  m.cells.assign(n, 0.0);
}
