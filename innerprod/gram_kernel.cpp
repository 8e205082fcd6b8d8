// Tiling driver of the accumulation kernel and the run-time choice of the
// instruction set. Compiled for baseline x86-64; the vector code lives in
// gram_kernel_{sse2,avx2,avx512}.cpp.
//
// Blocking, per call: sites in chunks of kKc; per chunk, y is packed into
// panels of nr columns (about 0.5 MB for 500 samples; blocks of up to 128
// samples skip the copy and read y in place); then for each block of rows
// (kMc rows, their x values stay in L2), for each y panel (stays in L1), for
// each run of mr rows: one micro-kernel call updates an mr x nr tile of acc
// over the chunk's sites. The mr row values of a site are contiguous in x
// already, so the micro-kernel reads them in place (in the lower triangle of
// a packed y, from the pack, which holds the same values). Each cell sees its
// sites in ascending order, one product and one add per site, with its sum
// carried in acc from chunk to chunk: the result is that of accumulate_ref,
// bit for bit.
//
// No software prefetch: the programs call this on a panel of about 2 MB that
// they have just centred or standardized, so its values come from L2/L3 and
// the hardware prefetcher keeps up; prefetch instructions only took issue
// slots (bench_kernel: 5-10 points of peak at 100 samples, none gained at 500).
#include "gram_kernel.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gram_kernel_tiles.h"

namespace gram {

namespace {

using detail::KernelSet;

constexpr size_t kKc = 128;  // sites per packed chunk
constexpr size_t kMc = 384;  // rows per block (a multiple of every version's mr)
constexpr size_t kMaxMr = 16, kMaxNr = 32;  // bounds of every version's tile
constexpr size_t kInPlaceBytes = 1024;       // longest y row read without packing

size_t ceil_div(size_t a, size_t b) { return (a + b - 1) / b; }

// Cells of row i of a tile starting at column j0 that may change.
size_t row_limit(bool lower, size_t i, size_t j0, size_t span) {
  if (!lower) return span;
  if (i < j0) return 0;
  return i - j0 + 1 < span ? i - j0 + 1 : span;
}

// Pack workspace, grown as needed and kept for later calls; 64-byte aligned.
double* workspace(size_t doubles) {
  thread_local std::vector<double> buf;
  if (buf.size() < doubles + 8) buf.resize(doubles + 8);
  auto p = reinterpret_cast<uintptr_t>(buf.data());
  return reinterpret_cast<double*>((p + 63) & ~uintptr_t(63));
}

void run(const KernelSet& ks, const double* x, size_t ldx, const double* y, size_t ldy,
         size_t n_sites, size_t m, size_t n, double* acc, size_t ldc, bool lower) {
  if (n_sites == 0 || m == 0 || n == 0) return;
  const size_t mr = ks.mr, w = ks.w, nr = ks.nv * w;
  if (mr > kMaxMr || nr > kMaxNr || kMc % mr != 0) {  // a version this driver was not built for
    accumulate_ref(x, ldx, y, ldy, n_sites, m, n, acc, ldc, lower);
    return;
  }
  // Short rows of y (small blocks) are read in place, panel by panel, with
  // only the columns after the last whole panel copied into a zero-padded
  // edge panel; longer rows are packed, as a site's panel then lies on a page
  // of its own. In the lower triangle of a packed y (x == y), the row values
  // are read from the pack (already in cache), the R rows of a tile being a
  // slice of one y panel. Otherwise they are read in place from x.
  const bool in_place = ldy * sizeof(double) <= kInPlaceBytes;
  const bool shared = !in_place && lower && x == y && ldx == ldy && nr % mr == 0;
  const size_t kc_max = n_sites < kKc ? n_sites : kKc;
  const size_t n_full = in_place ? n / nr * nr : 0;  // columns read in place
  double* yp = workspace(ceil_div(n - n_full, nr) * nr * kc_max);
  const size_t edge = n - n_full;  // columns of the edge panel when in place
  if (in_place && edge > 0) std::fill(yp, yp + kc_max * nr, 0.0);
  double tile[kMaxMr * kMaxNr];  // edge tiles of versions without masked stores

  for (size_t k0 = 0; k0 < n_sites; k0 += kKc) {
    const size_t kc = n_sites - k0 < kKc ? n_sites - k0 : kKc;
    if (!in_place) {
      ks.pack(y + k0 * ldy, ldy, kc, n, nr, yp);
    } else if (edge > 0) {  // its padding stays zero from call start
      for (size_t k = 0; k < kc; ++k)
        for (size_t c = 0; c < edge; ++c) yp[k * nr + c] = y[(k0 + k) * ldy + n_full + c];
    }
    for (size_t ic = 0; ic < m; ic += kMc) {
      const size_t iend = m - ic < kMc ? m : ic + kMc;
      // Tiles entirely above the diagonal (j0 > i for every row) are skipped.
      const size_t jend = lower ? iend : n;
      for (size_t j0 = 0; j0 < jend; j0 += nr) {
        const double* ypan = j0 < n_full ? y + k0 * ldy + j0 : yp + ((j0 - n_full) / nr) * nr * kc;
        const size_t ys = j0 < n_full ? ldy : nr;
        const size_t cols = n - j0 < nr ? n - j0 : nr;
        size_t i0 = ic;
        if (lower && j0 > i0) i0 += (j0 - i0) / mr * mr;  // first row panel reaching j0
        for (; i0 < iend; i0 += mr) {
          const size_t rows = iend - i0 < mr ? iend - i0 : mr;
          const double* xpan;
          size_t xs;
          if (shared) {
            xpan = yp + (i0 / nr) * nr * kc + i0 % nr;
            xs = nr;
          } else {
            xpan = x + k0 * ldx + i0;
            xs = ldx;
          }
          // Columns that can change: up to j = i0 + rows - 1 in the triangle.
          size_t span = cols;
          if (lower && i0 + rows - j0 < span) span = i0 + rows - j0;
          const size_t nv = ceil_div(span, w);
          const size_t idx = (rows - 1) * ks.nv + (nv - 1);  // the R x V micro-kernel
          const detail::MicroKernel kern = ks.table[idx];
          double* c = acc + i0 * ldc + j0;
          const bool crosses = lower && j0 + span - 1 > i0;
          if (span == nv * w && !crosses) {
            kern(kc, xpan, xs, ypan, ys, c, ldc);
            continue;
          }
          size_t lim[kMaxMr];  // cells of each tile row that may change
          for (size_t r = 0; r < rows; ++r) lim[r] = row_limit(lower, i0 + r, j0, span);
          if (ks.masked) {
            ks.masked[idx](kc, xpan, xs, ypan, ys, c, ldc, lim);
            continue;
          }
          // No masked stores: run on a copy, store back only those cells.
          const size_t tw = nv * w;
          for (size_t r = 0; r < rows; ++r) {
            for (size_t q = 0; q < lim[r]; ++q) tile[r * tw + q] = c[r * ldc + q];
            for (size_t q = lim[r]; q < tw; ++q) tile[r * tw + q] = 0.0;
          }
          kern(kc, xpan, xs, ypan, ys, tile, tw);
          for (size_t r = 0; r < rows; ++r)
            for (size_t q = 0; q < lim[r]; ++q) c[r * ldc + q] = tile[r * tw + q];
        }
      }
    }
  }
}

const KernelSet* kernel_set(Isa isa) {
#if defined(__x86_64__)
  switch (isa) {
    case Isa::avx512:
      if (__builtin_cpu_supports("avx512f")) return &detail::kernels_avx512;
      return nullptr;
    case Isa::avx2:
      if (__builtin_cpu_supports("avx2")) return &detail::kernels_avx2;
      return nullptr;
    case Isa::sse2:
      return &detail::kernels_sse2;
  }
#endif
  (void)isa;
  return nullptr;
}

const KernelSet* best_set() {
  static const KernelSet* const best = [] {
    for (Isa isa : {Isa::avx512, Isa::avx2, Isa::sse2})
      if (const KernelSet* ks = kernel_set(isa)) return ks;
    return static_cast<const KernelSet*>(nullptr);
  }();
  return best;
}

}  // namespace

void accumulate(const double* x, size_t ldx, const double* y, size_t ldy, size_t n_sites,
                size_t m, size_t n, double* acc, size_t ldc, bool lower) {
  if (const KernelSet* ks = best_set())
    run(*ks, x, ldx, y, ldy, n_sites, m, n, acc, ldc, lower);
  else
    accumulate_ref(x, ldx, y, ldy, n_sites, m, n, acc, ldc, lower);
}

const char* kernel_isa() {
  const KernelSet* ks = best_set();
  return ks ? ks->name : "reference";
}

bool isa_available(Isa isa) { return kernel_set(isa) != nullptr; }

const char* isa_name(Isa isa) {
  switch (isa) {
    case Isa::sse2: return "sse2";
    case Isa::avx2: return "avx2";
    case Isa::avx512: return "avx512";
  }
  return "?";
}

bool accumulate_isa(Isa isa, const double* x, size_t ldx, const double* y, size_t ldy,
                    size_t n_sites, size_t m, size_t n, double* acc, size_t ldc, bool lower) {
  const KernelSet* ks = kernel_set(isa);
  if (!ks) return false;
  run(*ks, x, ldx, y, ldy, n_sites, m, n, acc, ldc, lower);
  return true;
}

}  // namespace gram
