// Machine peak of separate multiply and add: NA independent accumulators in
// registers, acc[r] += b[r % NB] * y[r / NB], with the multipliers made opaque
// to the compiler each round so every product is really formed. Returns a sum
// of the lanes so nothing is optimised away. Instantiated per instruction set
// with that set's flags (kernel_peak_*.cpp).
#pragma once

#include <cstddef>

namespace {

// The value, unknown to the optimiser: the products using it are re-formed
// every round instead of being hoisted out of the loop.
template <class V>
inline V opaque(V v) {
  asm volatile("" : "+v"(v));
  return v;
}

template <class T, int NA, int NB>
double peak_loop(size_t rounds) {
  using V = typename T::V;
  constexpr int NY = NA / NB;
  V acc[NA], b[NB], y[NY];
  for (int r = 0; r < NA; ++r) acc[r] = T::bcast(0.0);
  for (int q = 0; q < NB; ++q) b[q] = T::bcast(1e-3 * (q + 1));
  for (int q = 0; q < NY; ++q) y[q] = T::bcast(1e-3 * (q + 2));
  for (size_t it = 0; it < rounds; ++it) {
#pragma GCC unroll 16
    for (int q = 0; q < NB; ++q) b[q] = opaque(b[q]);
#pragma GCC unroll 32
    for (int r = 0; r < NA; ++r) acc[r] = T::add(acc[r], T::mul(b[r % NB], y[r / NB]));
  }
  alignas(64) double lanes[T::W];
  double s = 0.0;
  for (int r = 0; r < NA; ++r) {
    T::store(lanes, acc[r]);
    for (int l = 0; l < T::W; ++l) s += lanes[l];
  }
  return s;
}

}  // namespace

namespace kbench {
// Cell-updates per round of each version, and the loops themselves.
struct Peak {
  size_t cells_per_round;
  double (*run)(size_t rounds);
};
extern const Peak peak_sse2, peak_avx2, peak_avx512, peak_avx512vl;
}  // namespace kbench
