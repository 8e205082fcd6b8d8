// Vector version of loadcalc::accumulate_sites, written once over a vector
// type (traits: V, W lanes, load, store, bcast, zero, mul, add) and
// instantiated by each instruction-set unit with its own flags. Lanes are
// components k of one site; each lane carries its own sum, sites are taken
// four at a time so the adds of eight independent sums overlap. Versions that
// set kLanes put sites in the lanes instead where K would leave lanes idle.
// Everything is in an anonymous namespace so no copy built with wide
// instructions can be picked by the linker for code that runs on an older
// machine.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
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

// Sites in lanes (versions with T::kLanes): lane l is site s0 + l, the
// vectors are G components k0 .. k0+G-1 of W sites, so no lane is padding
// whatever K. The block's values are first copied sample-major,
// zt[i*W + l] = rows[(s0 + l)*ld + i] (a gather per sample instead took
// 1.3-1.7x the time on Zen 5); per sample each component's ev[i*K + k] is
// broadcast, and every lane still forms (z * e) * c and adds it in
// ascending i.
template <class T, int G>
void lanes_group(const double* zt, size_t n, const double* ev, size_t K, size_t k0,
                 const double* c, double* out) {
  using V = typename T::V;
  constexpr size_t W = T::W;
  V acc[G], cv[G];
#pragma GCC unroll 16
  for (int g = 0; g < G; ++g) {
    acc[g] = T::zero();
    cv[g] = T::bcast(c[k0 + g]);
  }
  for (size_t i = 0; i < n; ++i) {
    const V z = T::load(zt + i * W);
    const double* e = ev + i * K + k0;
#pragma GCC unroll 16
    for (int g = 0; g < G; ++g) acc[g] = T::add(acc[g], T::mul(T::mul(z, T::bcast(e[g])), cv[g]));
  }
#pragma GCC unroll 16
  for (int g = 0; g < G; ++g) {
    alignas(64) double lane[W];
    T::store(lane, acc[g]);
    for (size_t l = 0; l < W; ++l) out[l * K + k0 + g] = lane[l];
  }
}

template <class T, int... G>
void lanes_group_n(size_t g, const double* zt, size_t n, const double* ev, size_t K, size_t k0,
                   const double* c, double* out, std::integer_sequence<int, G...>) {
  using Fn = void (*)(const double*, size_t, const double*, size_t, size_t, const double*, double*);
  static constexpr Fn table[] = {&lanes_group<T, G + 1>...};
  table[g - 1](zt, n, ev, K, k0, c, out);
}

// Up to kLaneGroup components per pass over a block's samples: their sums and
// constants stay in registers.
constexpr size_t kLaneGroup = 12;

template <class T>
void lanes_block(const double* rows, size_t ld, size_t n, const double* ev, size_t K,
                 const double* c, double* out, double* zt) {
  constexpr size_t W = T::W;
  for (size_t i = 0; i < n; ++i)
    for (size_t l = 0; l < W; ++l) zt[i * W + l] = rows[l * ld + i];
  for (size_t k0 = 0; k0 < K; k0 += kLaneGroup)
    lanes_group_n<T>(std::min(kLaneGroup, K - k0), zt, n, ev, K, k0, c, out,
                     std::make_integer_sequence<int, int(kLaneGroup)>{});
}

// Components are padded with zeros to whole vectors (the padding lanes are
// computed and dropped), so no load or store reaches past K. Where K is not
// a whole number of vectors and the version sets kLanes, whole blocks of W sites
// take the sites-in-lanes path instead.
template <class T>
void accumulate_sites_simd(const double* rows, size_t ld, size_t n_sites, size_t n,
                           const double* ev, size_t K, const double* c, double* out) {
  constexpr size_t W = T::W;
  if (K == 0 || n_sites == 0) return;
  if constexpr (T::kLanes) {
    if (K % W != 0 && n_sites >= W) {
      const size_t whole = n_sites / W * W;
      thread_local std::vector<double> zt;
      zt.resize(n * W);
      for (size_t s0 = 0; s0 < whole; s0 += W)
        lanes_block<T>(rows + s0 * ld, ld, n, ev, K, c, out + s0 * K, zt.data());
      rows += whole * ld;
      out += whole * K;
      n_sites -= whole;
      if (n_sites == 0) return;
    }
  }
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
