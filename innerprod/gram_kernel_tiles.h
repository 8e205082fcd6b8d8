// What each instruction-set version of the accumulation kernel hands to the
// tiling driver (gram_kernel.cpp). Plain data only: the driver is compiled for
// baseline x86-64 and must run no wider instruction than the chosen set.
//
// Operands of a micro-kernel:
//   row values:  xp[k*xs + r], r < R: x itself (xs = ldx), or in the lower
//                triangle a slice of the y pack (xs = nr)
//   y panel of `nr` columns, packed and zero-padded:
//                yp[k*nr + c], c < nr   (nr = nv * w)
// A micro-kernel for R rows and V vectors updates the R x (V*w) tile at c
// (row stride ldc): load it, add x_r * y_c site by site for k = 0..kc-1 with
// a separate multiply and add, store it.
#pragma once

#include <cstddef>

namespace gram::detail {

using MicroKernel = void (*)(size_t kc, const double* xp, size_t xs, const double* yp, size_t ys,
                             double* c, size_t ldc);

// The same over an edge tile: row r changes only its first lim[r] cells
// and reads no other.
using MaskedKernel = void (*)(size_t kc, const double* xp, size_t xs, const double* yp,
                              size_t ys, double* c, size_t ldc, const size_t* lim);

// Copies columns [0, cols) of rows [0, kc) of src (row stride ld) into
// panels of `width` columns, panel p at dst + p*width*kc, zero-padded.
using PackPanels = void (*)(const double* src, size_t ld, size_t kc, size_t cols, size_t width,
                            double* dst);

struct KernelSet {
  const char* name;
  size_t mr;                // rows of the largest tile
  size_t nv;                // vectors per tile row of the largest tile
  size_t w;                 // doubles per vector
  const MicroKernel* table; // table[(R-1)*nv + (V-1)] for R <= mr, V <= nv
  const MaskedKernel* masked;  // same indexing; null when the set has no masked stores
  PackPanels pack;
  size_t in_place_bytes;    // rows of y up to this long are read in place, not packed
  size_t kc;                // most sites per pass over the tiles
};

// The choice between two versions from their measured cost per cell-update
// (processor time, which follows the load on the core). The current one's
// cost is a moving average over its calls; every kTrial-th call runs the
// other once, and so does the next call whenever the current one's average
// rises above the other's last trial. Only a trial switches, on a fresh
// figure, and the version left is tried again two calls later, so one slow
// call hands only a few calls to the slower version.
class Chooser {
 public:
  static constexpr unsigned kTrial = 16;
  int current() const { return current_; }
  int next();                          // the version the next timed call runs
  void record(int use, double cost);   // the cost that call measured

 private:
  double cost_[2] = {0.0, 0.0};  // seconds per cell-update; 0 = not measured yet
  unsigned calls_ = 0;
  int current_ = 0;
  bool trial_ = false;
};

// Defined in the per-instruction-set units (compiled with their own flags).
extern const KernelSet kernels_sse2;
extern const KernelSet kernels_avx2;
extern const KernelSet kernels_avx512;
extern const KernelSet kernels_avx512vl;

}  // namespace gram::detail
