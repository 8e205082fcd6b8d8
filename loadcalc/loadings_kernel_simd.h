// Vector version of loadcalc::accumulate_sites, written once over a vector
// type (traits: V, W lanes, load, store, bcast, zero, mul, add) and
// instantiated by each instruction-set unit with its own flags. Lanes are
// components k of one site; each lane carries its own sum, sites are taken
// four at a time so the adds of eight independent sums overlap. Everything is
// in an anonymous namespace so no copy built with wide instructions can be
// picked by the linker for code that runs on an older machine.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

// S sites x NV vectors of components: out[s*ldo + v*W + l] =
// sum over i of (rows[s*ld + i] * ev[i*ldv + v*W + l]) * c[v*W + l],
// from 0.0 in ascending i, one rounding per multiply and per add.
template <class T, int NV, int S>
void sites_tile(const double* rows, size_t ld, size_t n, const double* ev, size_t ldv,
                const double* c, double* out, size_t ldo) {
  using V = typename T::V;
  constexpr size_t W = T::W;
  V cv[NV], acc[S][NV];
  for (int v = 0; v < NV; ++v) cv[v] = T::load(c + v * W);
  for (int s = 0; s < S; ++s)
    for (int v = 0; v < NV; ++v) acc[s][v] = T::zero();
  for (size_t i = 0; i < n; ++i) {
    V e[NV];
    for (int v = 0; v < NV; ++v) e[v] = T::load(ev + i * ldv + v * W);
    for (int s = 0; s < S; ++s) {
      const V z = T::bcast(rows[s * ld + i]);
      for (int v = 0; v < NV; ++v) acc[s][v] = T::add(acc[s][v], T::mul(T::mul(z, e[v]), cv[v]));
    }
  }
  for (int s = 0; s < S; ++s)
    for (int v = 0; v < NV; ++v) T::store(out + s * ldo + v * W, acc[s][v]);
}

template <class T, int NV>
void sites_tile_n(size_t ns, const double* rows, size_t ld, size_t n, const double* ev,
                  size_t ldv, const double* c, double* out, size_t ldo) {
  switch (ns) {
    case 4: sites_tile<T, NV, 4>(rows, ld, n, ev, ldv, c, out, ldo); break;
    case 3: sites_tile<T, NV, 3>(rows, ld, n, ev, ldv, c, out, ldo); break;
    case 2: sites_tile<T, NV, 2>(rows, ld, n, ev, ldv, c, out, ldo); break;
    default: sites_tile<T, NV, 1>(rows, ld, n, ev, ldv, c, out, ldo); break;
  }
}

// Components are padded with zeros to whole vectors (the padding lanes are
// computed and dropped), so no load or store reaches past K.
template <class T>
void accumulate_sites_simd(const double* rows, size_t ld, size_t n_sites, size_t n,
                           const double* ev, size_t K, const double* c, double* out) {
  constexpr size_t W = T::W;
  if (K == 0 || n_sites == 0) return;
  const size_t kp = (K + W - 1) / W * W;
  thread_local std::vector<double> evp, cp, outp;
  evp.assign(n * kp, 0.0);
  cp.assign(kp, 0.0);
  outp.resize(n_sites * kp);
  for (size_t i = 0; i < n; ++i) std::copy(ev + i * K, ev + i * K + K, evp.data() + i * kp);
  std::copy(c, c + K, cp.data());
  for (size_t k0 = 0; k0 < kp; k0 += 2 * W) {
    const bool two = kp - k0 >= 2 * W;
    for (size_t s0 = 0; s0 < n_sites; s0 += 4) {
      const size_t ns = std::min<size_t>(4, n_sites - s0);
      if (two)
        sites_tile_n<T, 2>(ns, rows + s0 * ld, ld, n, evp.data() + k0, kp, cp.data() + k0,
                           outp.data() + s0 * kp + k0, kp);
      else
        sites_tile_n<T, 1>(ns, rows + s0 * ld, ld, n, evp.data() + k0, kp, cp.data() + k0,
                           outp.data() + s0 * kp + k0, kp);
    }
  }
  for (size_t s = 0; s < n_sites; ++s)
    std::copy(outp.data() + s * kp, outp.data() + s * kp + K, out + s * K);
}

}  // namespace
