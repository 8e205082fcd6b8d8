// Register-tiled micro-kernels and panel packing, written once over a vector
// type V (traits: load, store, bcast, mul, add, W lanes) and instantiated by
// each instruction-set unit with its own compiler flags. Everything here is in
// an anonymous namespace so no out-of-line copy built with wide instructions
// can be picked by the linker for code that runs on an older machine.
//
// Lanes of a vector are different columns j of one row i; each lane carries
// its own cell's sum, so SIMD never mixes sites of one cell.
#pragma once

#include <cstddef>

#include "gram_kernel_tiles.h"

namespace {

// The sites loop of both micro-kernels: adds x_r * y_c for k = 0..kc-1 to
// the R x V accumulators, a separate multiply and add per site.
template <class T, int R, int V>
[[gnu::always_inline]] inline void add_sites(size_t kc, const double* xp, size_t xs,
                                             const double* yp, size_t ys,
                                             typename T::V (&a)[R][V]) {
  constexpr int W = T::W;
  using Vec = typename T::V;
  for (size_t k = 0; k < kc; ++k) {
    Vec yv[V];
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) yv[v] = T::load(yp + v * W);  // y[k][j0 + v*W ..]
#pragma GCC unroll 16
    for (int r = 0; r < R; ++r) {
      Vec b = T::bcast(xp[r]);  // x[k][i0 + r] in every lane
#pragma GCC unroll 8
      for (int v = 0; v < V; ++v) a[r][v] = T::add(a[r][v], T::mul(b, yv[v]));
    }
    xp += xs;
    yp += ys;
  }
}

template <class T, int R, int V>
void micro_kernel(size_t kc, const double* xp, size_t xs, const double* yp, size_t ys, double* c,
                  size_t ldc) {
  constexpr int W = T::W;
  using Vec = typename T::V;
  Vec a[R][V];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) a[r][v] = T::load(c + r * ldc + v * W);
  add_sites<T, R, V>(kc, xp, xs, yp, ys, a);
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) T::store(c + r * ldc + v * W, a[r][v]);
}

// The same over an edge tile: row r changes only its first lim[r] cells;
// the others are neither read nor written (masked loads and stores).
template <class T, int R, int V>
void micro_kernel_masked(size_t kc, const double* xp, size_t xs, const double* yp, size_t ys,
                         double* c, size_t ldc, const size_t* lim) {
  constexpr int W = T::W;
  using Vec = typename T::V;
  typename T::Mask mk[R][V];
  Vec a[R][V];
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) {
      size_t lanes = lim[r] > size_t(v * W) ? lim[r] - v * W : 0;
      mk[r][v] = T::mask(lanes < size_t(W) ? int(lanes) : W);
      a[r][v] = T::load_masked(c + r * ldc + v * W, mk[r][v]);
    }
  add_sites<T, R, V>(kc, xp, xs, yp, ys, a);
#pragma GCC unroll 16
  for (int r = 0; r < R; ++r)
#pragma GCC unroll 8
    for (int v = 0; v < V; ++v) T::store_masked(c + r * ldc + v * W, a[r][v], mk[r][v]);
}

template <class T>
void pack_panels(const double* src, size_t ld, size_t kc, size_t cols, size_t width, double* dst) {
  constexpr int W = T::W;
  size_t full = cols / width;
  for (size_t k = 0; k < kc; ++k) {
    const double* s = src + k * ld;
    double* d = dst + k * width;
    size_t p = 0;
    if (width % W == 0) {
      for (; p < full; ++p, s += width, d += width * kc)
        for (size_t c = 0; c < width; c += W) T::store(d + c, T::load(s + c));
    }
    for (; p * width < cols; ++p, s += width, d += width * kc) {
      size_t w = cols - p * width < width ? cols - p * width : width;
      for (size_t c = 0; c < w; ++c) d[c] = s[c];
      for (size_t c = w; c < width; ++c) d[c] = 0.0;
    }
  }
}

template <class T, size_t... I>
struct KernelTable {
  static constexpr gram::detail::MicroKernel table[] = {
      &micro_kernel<T, int(I / T::NV) + 1, int(I % T::NV) + 1>...};
};

template <class T, size_t... I>
struct MaskedTable {
  static constexpr gram::detail::MaskedKernel table[] = {
      &micro_kernel_masked<T, int(I / T::NV) + 1, int(I % T::NV) + 1>...};
};

template <class T, size_t N, size_t... I>
struct MakeTable : MakeTable<T, N - 1, N - 1, I...> {};
template <class T, size_t... I>
struct MakeTable<T, 0, I...> : KernelTable<T, I...> {};

template <class T, size_t N, size_t... I>
struct MakeMasked : MakeMasked<T, N - 1, N - 1, I...> {};
template <class T, size_t... I>
struct MakeMasked<T, 0, I...> : MaskedTable<T, I...> {};

// Versions without masked loads and stores leave `masked` empty; the driver
// then runs edge tiles on a copy.
template <class T>
constexpr gram::detail::KernelSet make_kernel_set(const char* name) {
  const gram::detail::MaskedKernel* masked = nullptr;
  if constexpr (T::kMasked) masked = MakeMasked<T, T::MR * T::NV>::table;
  return {name, size_t(T::MR), size_t(T::NV), size_t(T::W), MakeTable<T, T::MR * T::NV>::table,
          masked, &pack_panels<T>, T::kInPlaceBytes, T::kKc};
}

}  // namespace
