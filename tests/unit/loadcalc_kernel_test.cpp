#include "loadings_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

uint64_t bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

TEST(LoadingsKernel, MatchesThePlainLoopBitForBit) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> val(-3.0, 3.0), vec(-0.5, 0.5), cst(0.01, 2.0);
  for (size_t n : {1u, 2u, 3u, 7u, 64u, 257u})
    for (size_t K : {0u, 1u, 2u, 3u, 5u, 8u, 17u}) {
      std::vector<double> row(n), ev(n * K), c(K), fast(K + 1, -1.0), ref(K + 1, -1.0);
      for (auto& x : row) x = val(rng);
      for (auto& x : ev) x = vec(rng);
      for (auto& x : c) x = cst(rng);
      loadcalc::accumulate(row.data(), n, ev.data(), K, c.data(), fast.data());
      loadcalc::accumulate_ref(row.data(), n, ev.data(), K, c.data(), ref.data());
      for (size_t k = 0; k < K; ++k)
        ASSERT_EQ(bits(fast[k]), bits(ref[k])) << "n=" << n << " K=" << K << " k=" << k;
      EXPECT_EQ(fast[K], -1.0) << "wrote past K";
    }
}

TEST(LoadingsKernel, SumsInSampleOrderMultiplyingByTheConstantPerTerm) {
  // 1e16 + 1 + 1 - 1e16 is 0 in this order and 2 in any other grouping.
  std::vector<double> row = {1e16, 1.0, 1.0, -1e16};
  std::vector<double> ev = {1.0, 1.0, 1.0, 1.0};
  double c = 1.0, out = -1.0;
  loadcalc::accumulate(row.data(), 4, ev.data(), 1, &c, &out);
  EXPECT_EQ(out, 0.0);
  // (z * v) * c, not z * (v * c): differs in the last bit for these values.
  double z = 0.1, v = 0.3, c2 = 1.0 / 3.0;
  ASSERT_NE((z * v) * c2, z * (v * c2));
  loadcalc::accumulate(&z, 1, &v, 1, &c2, &out);
  EXPECT_EQ(out, (z * v) * c2);
}

TEST(LoadingsKernel, NonFiniteValuesPropagateAsTheFormulaGives) {
  double row[2] = {0.0, 1.0}, ev[2] = {1.0, 1.0}, c = INFINITY, out = 0.0;
  loadcalc::accumulate(row, 2, ev, 1, &c, &out);  // 0 * inf + inf
  EXPECT_TRUE(std::isnan(out));
}

}  // namespace
