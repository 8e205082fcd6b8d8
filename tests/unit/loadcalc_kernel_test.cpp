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

// Every version of the several-sites kernel against the plain loop per site,
// over site counts around its groups of four and component counts around
// whole vectors; inputs sized to their last value so the sanitizer build
// sees any read past them, and a guard after the last output.
TEST(LoadingsKernel, SitesVersionsMatchThePlainLoopBitForBit) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> val(-3.0, 3.0), vec(-0.5, 0.5), cst(0.01, 2.0);
  std::uniform_int_distribution<int> special(0, 40);
  for (size_t n : {1u, 5u, 64u, 201u})
    for (size_t K : {0u, 1u, 3u, 4u, 7u, 8u, 10u, 12u, 13u, 16u, 17u, 25u, 33u})
      for (size_t sites : {1u, 3u, 4u, 5u, 8u, 9u, 16u, 23u}) {
        const size_t ld = n + 3;
        std::vector<double> rows((sites - 1) * ld + n), ev(n * K), c(K);
        for (auto& x : rows) {
          x = val(rng);
          // Some zeros, huge values and infinities (inf - inf within a sum
          // gives NaN). No NaN inputs: where two NaNs of different sign meet
          // in an add, which one comes out is not fixed by the arithmetic and
          // the compiler may order the operands either way.
          int t = special(rng);
          if (t == 0) x = 0.0;
          if (t == 1) x = 1e300;
          if (t == 2) x = INFINITY;
          if (t == 3) x = -INFINITY;
        }
        for (auto& x : ev) x = vec(rng);
        for (auto& x : c) x = cst(rng);
        std::vector<double> want(sites * K);
        for (size_t s = 0; s < sites; ++s)
          loadcalc::accumulate_ref(rows.data() + s * ld, n, ev.data(), K, c.data(),
                                   want.data() + s * K);
        for (auto isa : {loadcalc::SitesIsa::portable, loadcalc::SitesIsa::avx2,
                         loadcalc::SitesIsa::avx512}) {
          std::vector<double> got(sites * K + 1, -1.0);
          if (!loadcalc::accumulate_sites_isa(isa, rows.data(), ld, sites, n, ev.data(), K,
                                              c.data(), got.data()))
            continue;  // not on this machine
          for (size_t q = 0; q < sites * K; ++q)
            ASSERT_EQ(bits(got[q]), bits(want[q]))
                << "isa=" << int(isa) << " n=" << n << " K=" << K << " sites=" << sites
                << " cell=" << q;
          EXPECT_EQ(got[sites * K], -1.0) << "wrote past the last site";
        }
        std::vector<double> got(sites * K);
        loadcalc::accumulate_sites(rows.data(), ld, sites, n, ev.data(), K, c.data(), got.data());
        for (size_t q = 0; q < sites * K; ++q) ASSERT_EQ(bits(got[q]), bits(want[q]));
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
