// Every instruction-set version of gram::accumulate against accumulate_ref,
// compared as bit patterns over the whole acc buffer (padding included, so a
// write outside the m x n cells or above the diagonal is caught too). Inputs
// are allocated to their exact extent so the sanitizer build sees over-reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gram_kernel.h"
#include "gram_kernel_tiles.h"

namespace {

using gram::Isa;

std::vector<Isa> available_isas() {
  std::vector<Isa> out;
  for (Isa isa : {Isa::sse2, Isa::avx2, Isa::avx512, Isa::avx512vl})
    if (gram::isa_available(isa)) out.push_back(isa);
  return out;
}

// Values of mixed sign over many scales (products from subnormal to ~1e240),
// so any change in the order of the adds or any fused multiply-add shows.
double random_value(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> mant(-1.0, 1.0);
  std::uniform_int_distribution<int> scale(0, 9);
  int s = scale(rng);
  double v = mant(rng);
  if (s == 0) return std::ldexp(v, -520);  // tiny: products near the subnormal range
  if (s == 1) return std::ldexp(v, 400);   // huge
  if (s == 2) return 0.0;
  return v * std::ldexp(1.0, scale(rng) * 7 - 30);
}

// A site-major panel of n_sites rows of `cols` values, row stride ld, sized
// to its last value.
std::vector<double> panel(std::mt19937_64& rng, size_t n_sites, size_t cols, size_t ld) {
  std::vector<double> p(n_sites == 0 ? 0 : (n_sites - 1) * ld + cols);
  for (double& v : p) v = random_value(rng);
  return p;
}

uint64_t bits(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

::testing::AssertionResult same_bits(const std::vector<double>& want, const std::vector<double>& got,
                                     size_t ldc) {
  for (size_t k = 0; k < want.size(); ++k)
    if (bits(want[k]) != bits(got[k])) {
      char msg[160];
      std::snprintf(msg, sizeof msg, "cell (%zu, %zu): want %a (%016llx), got %a (%016llx)",
                    k / ldc, k % ldc, want[k], (unsigned long long)bits(want[k]), got[k],
                    (unsigned long long)bits(got[k]));
      return ::testing::AssertionFailure() << msg;
    }
  return ::testing::AssertionSuccess();
}

// Site-major values in the layout of accumulate_lower_packed.
std::vector<double> packed_panel(const std::vector<double>& x, size_t ld, size_t n_sites,
                                 size_t n) {
  const size_t pw = gram::lower_panel_width();
  std::vector<double> packed((n + pw - 1) / pw * pw * n_sites);
  gram::pack_lower(x.data(), ld, n_sites, n, packed.data());
  return packed;
}

struct Case {
  size_t m, n, n_sites;
  bool lower;
};

// One case: random panels with padded strides, a nonzero starting acc, the
// reference once, then each version once over all sites and once over the
// sites cut at random points.
void check(std::mt19937_64& rng, const Case& c) {
  SCOPED_TRACE("m=" + std::to_string(c.m) + " n=" + std::to_string(c.n) +
               " sites=" + std::to_string(c.n_sites) + (c.lower ? " lower" : " full"));
  std::uniform_int_distribution<size_t> pad(0, 3);
  size_t ldx = c.m + pad(rng), ldy = c.n + pad(rng), ldc = c.n + pad(rng);
  std::vector<double> x = panel(rng, c.n_sites, c.m, ldx);
  // The triangle is asked for with x == y (the same panel); a copy at
  // another address takes the driver's other packing path.
  std::vector<double> y_copy = c.lower ? x : panel(rng, c.n_sites, c.n, ldy);
  if (c.lower) ldy = ldx;
  const double* y = c.lower ? x.data() : y_copy.data();
  std::vector<double> acc0(c.m * ldc);
  for (double& v : acc0) v = random_value(rng);

  std::vector<double> want = acc0;
  gram::accumulate_ref(x.data(), ldx, y, ldy, c.n_sites, c.m, c.n, want.data(), ldc,
                       c.lower);
  if (c.lower) {  // the plain loop over the packed layout
    std::vector<double> got = acc0;
    std::vector<double> packed = packed_panel(x, ldx, c.n_sites, c.m);
    gram::accumulate_lower_packed_ref(packed.data(), c.n_sites, c.m, got.data(), ldc);
    ASSERT_TRUE(same_bits(want, got, ldc)) << "packed, plain loop";
  }

  for (Isa isa : available_isas()) {
    SCOPED_TRACE(gram::isa_name(isa));
    std::vector<double> got = acc0;
    ASSERT_TRUE(gram::accumulate_isa(isa, x.data(), ldx, y, ldy, c.n_sites, c.m, c.n,
                                     got.data(), ldc, c.lower));
    ASSERT_TRUE(same_bits(want, got, ldc));
    if (c.lower) {
      got = acc0;
      gram::accumulate_isa(isa, x.data(), ldx, y_copy.data(), ldy, c.n_sites, c.m, c.n,
                           got.data(), ldc, true);
      ASSERT_TRUE(same_bits(want, got, ldc));
      // The same values in the packed layout, sized to its extent.
      got = acc0;
      std::vector<double> packed = packed_panel(x, ldx, c.n_sites, c.m);
      ASSERT_TRUE(gram::accumulate_lower_packed_isa(isa, packed.data(), c.n_sites, c.m,
                                                    got.data(), ldc));
      ASSERT_TRUE(same_bits(want, got, ldc)) << "packed";
    }

    // The same sites in chunks cut at random points (empty chunks allowed).
    got = acc0;
    size_t k0 = 0;
    while (k0 < c.n_sites) {
      size_t len = std::uniform_int_distribution<size_t>(0, c.n_sites - k0)(rng);
      gram::accumulate_isa(isa, x.data() + k0 * ldx, ldx, y + k0 * ldy, ldy, len, c.m,
                           c.n, got.data(), ldc, c.lower);
      k0 += len;
    }
    ASSERT_TRUE(same_bits(want, got, ldc));
  }
}

TEST(GramKernel, SmallShapesEveryEdge) {
  std::mt19937_64 rng(1);
  for (size_t sites : {size_t(0), size_t(1), size_t(7)})
    for (size_t m = 1; m <= 40; ++m) {
      check(rng, {m, m, sites, true});
      for (size_t n = 1; n <= 40; ++n) check(rng, {m, n, sites, false});
    }
}

TEST(GramKernel, LargerShapesAndChunkBoundaries) {
  std::mt19937_64 rng(2);
  // 129 and 300 sites cross the driver's internal chunk of sites; 257 and
  // 400 rows cross its row blocks.
  for (size_t sites : {size_t(129), size_t(300)}) {
    for (size_t m : {size_t(17), size_t(40), size_t(97), size_t(131), size_t(257)})
      check(rng, {m, m, sites, true});
    check(rng, {97, 131, sites, false});
    check(rng, {131, 97, sites, false});
    check(rng, {257, 33, sites, false});
    check(rng, {33, 257, sites, false});
    check(rng, {1, 131, sites, false});
    check(rng, {131, 1, sites, false});
  }
  check(rng, {400, 400, 40, true});
  check(rng, {400, 23, 40, false});
}

// Rows of y up to 1 KB are read in place, longer ones packed: strides of
// 124 to 133 doubles land on both sides, with and without an edge panel.
TEST(GramKernel, RowLengthsAroundTheInPlaceLimit) {
  std::mt19937_64 rng(3);
  for (size_t n = 124; n <= 130; ++n) {
    check(rng, {n, n, 131, true});
    check(rng, {n, n, 131, false});
    check(rng, {9, n, 131, false});
  }
}

// Every size up to 33 and around 128, full and triangle, with enough sites
// that the driver cuts them into several passes: edge tiles on the right and
// bottom, tiles across the diagonal, and the triangle's shared panels that
// hold whole row runs as well as whole tiles.
TEST(GramKernel, OddSizesAcrossPasses) {
  std::mt19937_64 rng(4);
  for (size_t m = 1; m <= 33; ++m) {
    check(rng, {m, m, 261, true});
    check(rng, {m, 33 - m + 1, 261, false});
  }
  for (size_t m : {size_t(127), size_t(128), size_t(129)}) {
    check(rng, {m, m, 517, true});
    check(rng, {m, m, 517, false});
    check(rng, {m, 7, 517, false});
    check(rng, {5, m, 517, false});
  }
}

// The shapes of the whole-matrix program: the lower triangle of n x n, x and
// y the same panel (few sites for the large ones, to keep the reference short).
TEST(GramKernel, WholeMatrixTriangles) {
  std::mt19937_64 rng(5);
  check(rng, {100, 100, 600, true});
  check(rng, {200, 200, 300, true});
  check(rng, {500, 500, 40, true});
  check(rng, {1000, 1000, 9, true});
  check(rng, {1500, 1500, 5, true});
}

TEST(GramKernel, EmptyShapesTouchNothing) {
  std::vector<double> x(8, 1.0), acc(8, 5.0);
  for (Isa isa : available_isas()) {
    gram::accumulate_isa(isa, x.data(), 2, x.data(), 2, 3, 0, 2, acc.data(), 2, false);
    gram::accumulate_isa(isa, x.data(), 2, x.data(), 2, 3, 2, 0, acc.data(), 2, false);
    gram::accumulate_isa(isa, x.data(), 2, x.data(), 2, 0, 2, 2, acc.data(), 2, true);
    gram::accumulate_isa(isa, nullptr, 0, nullptr, 0, 0, 0, 0, nullptr, 0, true);
  }
  for (double v : acc) EXPECT_EQ(v, 5.0);
}

TEST(GramKernel, ExactnessIsObservable) {
  // Sums whose value depends on the order of the adds and on separate
  // rounding of the product, so a reordered or fused kernel cannot pass.
  // Site 0: 1 * 1; site 1: 2^60 * 1; site 2: -(2^60) * 1 -> 0 in order
  // (1 + 2^60 rounds to 2^60), 1 in any order adding the big terms first.
  std::vector<double> x = {1.0, std::ldexp(1.0, 60), -std::ldexp(1.0, 60)};
  std::vector<double> y = {1.0, 1.0, 1.0};
  // (1 + 2^-30)^2 rounds when formed as a product, not when fused.
  std::vector<double> x2 = {1.0 + std::ldexp(1.0, -30)};
  for (Isa isa : available_isas()) {
    double acc = 0.0;
    gram::accumulate_isa(isa, x.data(), 1, y.data(), 1, 3, 1, 1, &acc, 1, false);
    EXPECT_EQ(acc, 0.0) << gram::isa_name(isa);
    double acc2 = -1.0;
    gram::accumulate_isa(isa, x2.data(), 1, x2.data(), 1, 1, 1, 1, &acc2, 1, true);
    EXPECT_EQ(acc2, std::ldexp(1.0, -29)) << gram::isa_name(isa);
  }
}

// accumulate() and accumulate_lower_packed() over many calls into the same
// acc, as the programs use them
// (where two versions are measured against each other, the calls switch
// between them): the plain loop's bits after every call.
TEST(GramKernel, DispatchedKernelOverManyCalls) {
  std::mt19937_64 rng(6);
  const size_t n = 100, sites = 120, ld = n + 1;
  std::vector<double> want(n * ld), got;
  for (double& v : want) v = random_value(rng);
  got = want;
  for (int call = 0; call < 40; ++call) {
    const bool lower = call % 2 == 0;
    std::vector<double> x = panel(rng, sites, n, ld);
    std::vector<double> y = lower ? x : panel(rng, sites, n, ld);
    gram::accumulate_ref(x.data(), ld, y.data(), ld, sites, n, n, want.data(), ld, lower);
    if (call % 4 == 0) {
      std::vector<double> packed = packed_panel(x, ld, sites, n);
      gram::accumulate_lower_packed(packed.data(), sites, n, got.data(), ld);
    } else {
      gram::accumulate(x.data(), ld, lower ? x.data() : y.data(), ld, sites, n, n, got.data(),
                       ld, lower);
    }
    ASSERT_TRUE(same_bits(want, got, ld)) << "call " << call;
  }
}

// The choice between two versions from measured costs: version 0 costs 1.0
// and version 1 costs 1.2 per cell, except where `slow` says otherwise.
// Returns how many of `calls` calls ran version 1.
template <class Slow>
int calls_on_slower(int calls, Slow slow) {
  gram::detail::Chooser ch;
  int on_1 = 0;
  for (int call = 0; call < calls; ++call) {
    const int use = ch.next();
    on_1 += use;
    ch.record(use, use == 0 ? slow(call) : 1.2);
  }
  return on_1;
}

TEST(GramKernel, ChooserFollowsTheLoadButNotOneSlowCall) {
  const int trials = 320 / int(gram::detail::Chooser::kTrial);
  // Steady costs: the slower version runs only for its trials.
  EXPECT_LE(calls_on_slower(320, [](int) { return 1.0; }), trials + 1);
  // Isolated slow calls of the faster version (a burst from another
  // program) hand at most a few calls each to the slower one.
  EXPECT_LE(calls_on_slower(320, [](int c) { return c % 40 == 20 ? 5.0 : 1.0; }),
            trials + 1 + 3 * 8);
  // A lasting slowdown of version 0 (another thread on the core) moves the
  // calls to version 1 within a few calls, and back once it ends.
  const int during = calls_on_slower(320, [](int c) { return c >= 100 && c < 200 ? 2.0 : 1.0; });
  EXPECT_GE(during, 90);
  EXPECT_LE(during, 100 + trials + 10);
}

TEST(GramKernel, DispatchPicksTheWidestAvailable) {
  EXPECT_TRUE(gram::isa_available(Isa::sse2));
  const std::string chosen = gram::kernel_isa();
  if (gram::isa_available(Isa::avx512)) {
    // The 512-bit version, or its 256-bit form where the processor halves
    // 512-bit operations (and has AVX-512VL).
    EXPECT_TRUE(chosen == "avx512" ||
                (chosen == "avx512vl" && gram::isa_available(Isa::avx512vl)))
        << chosen;
  } else if (gram::isa_available(Isa::avx2)) {
    EXPECT_EQ(chosen, "avx2");
  } else {
    EXPECT_EQ(chosen, "sse2");
  }
}

}  // namespace
