// Accumulation kernel of the inner-product blocks.
//
// Contract: for every cell (i, j), 0 <= i < m, 0 <= j < n,
//   acc[i*ldc + j] = (...((acc[i*ldc + j] + x[0*ldx + i] * y[0*ldy + j])
//                                          + x[1*ldx + i] * y[1*ldy + j]) ...)
//                                          + x[(s-1)*ldx + i] * y[(s-1)*ldy + j]
// with s = n_sites: one separately rounded product and one separately rounded
// add per site, sites in ascending order. x and y are site-major panels (row k
// holds one site's values for the samples). With `lower` set (x == y, m == n)
// only cells with j <= i are touched; the others keep what they held.
//
// Every implementation gives bit-identical results to accumulate_ref: cells
// are independent, so tiling over cells and SIMD across cells are free, and a
// call over sites [0, a) followed by a call over [a, s) equals one call over
// [0, s) because each cell's partial sum is carried in acc.
#pragma once

#include <cstddef>

namespace gram {

void accumulate(const double* x, size_t ldx, const double* y, size_t ldy, size_t n_sites,
                size_t m, size_t n, double* acc, size_t ldc, bool lower);

// The plain loop the fast kernel must equal bit for bit.
void accumulate_ref(const double* x, size_t ldx, const double* y, size_t ldy, size_t n_sites,
                    size_t m, size_t n, double* acc, size_t ldc, bool lower);

// The lower triangle (x == y, m == n) from values already laid out as the
// kernel reads them, which saves the copy accumulate() makes of each pass:
// columns in panels of lower_panel_width() samples, panel p holding, for
// every site k < n_sites, columns [p*w, p*w + w) at packed + p*w*n_sites +
// k*w, zero past column n (ceil(n / w) * w * n_sites values in all). Adds
// to acc what accumulate(x, ld, x, ld, n_sites, n, n, acc, ldc, true) adds
// for the same values, bit for bit.
size_t lower_panel_width();
void accumulate_lower_packed(const double* packed, size_t n_sites, size_t n, double* acc,
                             size_t ldc);
// Lays out site-major values x (row stride ld) so.
void pack_lower(const double* x, size_t ld, size_t n_sites, size_t n, double* packed);
// The plain loop over the packed layout (what runs where no fast version does).
void accumulate_lower_packed_ref(const double* packed, size_t n_sites, size_t n, double* acc,
                                 size_t ldc);

// Name of the instruction set the fast kernel runs with on this machine.
const char* kernel_isa();

// Instruction-set versions of the fast kernel. accumulate() runs the widest
// one this machine supports, chosen once by CPU detection; avx512vl is the
// AVX-512 version on 256-bit vectors (needs AVX-512VL), chosen over avx512 on
// processors whose floating-point units are 256 bits wide.
enum class Isa { sse2, avx2, avx512, avx512vl };
bool isa_available(Isa isa);
const char* isa_name(Isa isa);

// accumulate() forced onto one version (for tests and benchmarks). Returns
// false, touching nothing, when this machine cannot run it.
bool accumulate_isa(Isa isa, const double* x, size_t ldx, const double* y, size_t ldy,
                    size_t n_sites, size_t m, size_t n, double* acc, size_t ldc, bool lower);
bool accumulate_lower_packed_isa(Isa isa, const double* packed, size_t n_sites, size_t n,
                                 double* acc, size_t ldc);

}  // namespace gram
