// Accumulation driver of the inner-product blocks: cuts the sites into chunks,
// forms centred values (in place) and standardized values (in a panel) per
// chunk, and hands site-major panels to the kernel. Each block cell carries
// its partial sum from chunk to chunk, so the result equals the plain
// site-by-site loop bit for bit (see gram_kernel.h).
#pragma once

#include "gram_kernel.h"
#include "layout.h"
#include "matrix.h"

#include <cstddef>
#include <vector>

namespace gram {

// Signature of accumulate / accumulate_ref, so tests can run the driver on
// either.
using AccumulateFn = void (*)(const double* x, size_t ldx, const double* y, size_t ldy,
                              size_t n_sites, size_t m, size_t n, double* acc, size_t ldc,
                              bool lower);

// The kernel the programs run: the fast one, or the plain loop in the plain
// build (METHPCA_PLAIN).
#ifdef METHPCA_PLAIN
inline constexpr AccumulateFn kAccumulate = accumulate_ref;
#else
inline constexpr AccumulateFn kAccumulate = accumulate;
#endif

// Size of one panel of values: small enough that a chunk's raw, centred and
// standardized values stay in a core's L2 cache from reading to kernel
// (512 KB: fullgram 8-12% faster than with 2 MB panels, and the kernel's
// speed no longer rises and falls with what other programs do in the shared
// L3).
constexpr size_t kPanelBytes = size_t{512} << 10;
// Fewest sites per chunk, so that wide blocks still add many sites to each
// cell per pass over the block.
constexpr size_t kMinChunkSites = 256;

// Sites per chunk for panels `width` samples wide: kPanelBytes of values,
// at least kMinChunkSites sites.
size_t chunk_sites(size_t width);

// SD test of the standardized values (see layout.h).
using layout::sd_is_zero;

// p[k*ld + j] -= mean[k] for k < n, j < width.
void centre(double* p, size_t ld, size_t width, size_t n, const double* mean);
// z[k*ldz + j] = c[k*ldc + j] / sd[k], or 0.0 when sd_is_zero(sd[k]).
void standardize(const double* c, size_t ldc, size_t width, size_t n, const double* sd, double* z,
                 size_t ldz);

// selfgram: rows [0, n_sites) of `data` hold raw values; they are centred in
// place. Adds the lower triangles (with diagonal) of the centred and
// standardized products to C and S (data.cols() square), `chunk` sites at a
// time.
void self_accumulate(Matrix& data, const double* mean, const double* sd, size_t n_sites,
                     Matrix& C, Matrix& S, size_t chunk, AccumulateFn acc);

// One chunk of n sites of a block m = C.cols() wide: x (row stride ld) holds
// raw values; adds the lower triangles of the centred and standardized
// products to C and S. With the plain loop, x is centred in place and the
// standardized values go to z (n x m); with the fast kernel (acc ==
// accumulate) both are written in its packed layout instead, and x and z are
// left as they are.
void self_chunk(double* x, size_t ld, size_t n, const double* mean, const double* sd, Matrix& C,
                Matrix& S, double* z, AccumulateFn acc);

// One chunk of n sites of a panel `width` samples wide (row stride ld) that
// holds both blocks of crossgram: the row block in columns [xo, xo + C.rows()),
// the column block in [yo, yo + C.cols()) (they may overlap). The panel is
// centred in place, once; z (n x ld) receives its standardized values.
void cross_panel_chunk(double* p, size_t ld, size_t width, size_t n, size_t xo, size_t yo,
                       const double* mean, const double* sd, Matrix& C, Matrix& S, double* z,
                       AccumulateFn acc);

// crossgram, one chunk of n sites: x (row block, C.rows() wide) and y (column
// block, C.cols() wide) hold raw values and are centred in place; mean and sd
// point at the chunk's first site. zx and zy are scratch panels.
void cross_chunk(double* x, size_t ldx, double* y, size_t ldy, size_t n, const double* mean,
                 const double* sd, Matrix& C, Matrix& S, std::vector<double>& zx,
                 std::vector<double>& zy, AccumulateFn acc);

// Copies the lower triangle of a square matrix onto the upper one.
void mirror_lower(Matrix& m);

}  // namespace gram
