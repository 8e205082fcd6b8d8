#include "numformat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

void expect_same(double v) {
  char a[num::kFormatBuf], b[num::kFormatBuf];
  using F = size_t (*)(char*, double);
  const F fast[] = {num::format_g15, num::format_e15, num::format_g17};
  const F ref[] = {num::format_g15_ref, num::format_e15_ref, num::format_g17_ref};
  for (int f = 0; f < 3; ++f) {
    size_t na = fast[f](a, v), nb = ref[f](b, v);
    ASSERT_EQ(std::string(a, na), std::string(b, nb)) << "format " << f << " of " << std::hexfloat << v;
  }
}

TEST(NumFormat, SpecialValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double specials[] = {0.0, -0.0, inf, -inf, std::nan(""), -std::nan(""), 1e-5, 0.5,
                             0.707106781186548, 1.0 / 3, 1e15, 1e16, 999999999999999.5,
                             123456789012345.6, 5e-324, 2.2250738585072014e-308,
                             1.7976931348623157e308, 1e-4, 9.99999999999999e-5, -1234.5};
  for (double v : specials) expect_same(v);
  char buf[num::kFormatBuf];
  volatile double zero = 0.0;
  EXPECT_EQ(std::string(buf, num::format_g15(buf, zero * inf)), "-nan");  // x86-64's default NaN
  EXPECT_EQ(std::string(buf, num::format_e15(buf, 0.0)), "0.000000000000000e+00");
}

TEST(NumFormat, RandomBitPatternsAndMagnitudes) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 300000; ++i) {
    double v;
    if (i % 2 == 0) {
      uint64_t u = rng();
      std::memcpy(&v, &u, sizeof v);
    } else {
      v = std::ldexp(unit(rng), static_cast<int>(rng() % 120) - 60);
    }
    expect_same(v);
  }
}

// The exact shortcut of %.15g (values from 1e-8 to below 1e15) against
// printf where it is easiest to get wrong: next to every power of ten, next
// to 15-digit rounding ties (16-digit decimals ending in 5, read back as the
// nearest double), integers near 10^15, and every decimal exponent of the
// range with random digits, of either sign.
TEST(NumFormat, G15ShortcutAtPowersOfTenAndTies) {
  char a[num::kFormatBuf], b[num::kFormatBuf];
  auto same = [&](double v) {
    const size_t na = num::format_g15(a, v), nb = num::format_g15_ref(b, v);
    return std::string(a, na) == std::string(b, nb);
  };
  for (int k = -9; k <= 16; ++k) {
    double p = std::pow(10.0, k);
    for (double x : {p, -p}) {
      double lo = x, hi = x;
      for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(same(lo)) << std::hexfloat << lo;
        ASSERT_TRUE(same(hi)) << std::hexfloat << hi;
        lo = std::nextafter(lo, 0.0);
        hi = std::nextafter(hi, 2 * hi);
      }
    }
  }
  std::mt19937_64 rng(77);
  char text[64];
  for (int i = 0; i < 400000; ++i) {
    const int e = static_cast<int>(rng() % 24) - 9;  // first digit at 10^e
    const uint64_t digits = 100000000000000ull + rng() % 900000000000000ull;
    double v;
    if (i % 2) {
      // a 16-digit decimal ending in 5: halfway between two 15-digit ones
      std::snprintf(text, sizeof text, "%llu5e%d", static_cast<unsigned long long>(digits), e - 15);
      v = std::strtod(text, nullptr);
    } else {
      v = static_cast<double>(digits) * std::pow(10.0, e - 14);
    }
    if (rng() % 2) v = -v;
    ASSERT_TRUE(same(v)) << std::hexfloat << v << " (" << std::string(b, num::format_g15_ref(b, v)) << ")";
  }
  for (uint64_t q = 999999999999000ull; q <= 1000000000001000ull; ++q) ASSERT_TRUE(same(static_cast<double>(q)));
  // exact ties: 15-digit integers plus one half (printf rounds them to even)
  for (int i = 0; i < 20000; ++i) {
    const double q = static_cast<double>(100000000000000ull + rng() % 900000000000000ull);
    for (double f : {0.5, 0.25, 0.75, 0.125}) ASSERT_TRUE(same(q + f)) << std::hexfloat << q + f;
  }
}

// format_g15_list against its one-at-a-time form and printf, over lists of
// every length up to 20 (whole and partial groups of eight): random bit
// patterns, loadings-like values of both signs over many decades, values
// next to powers of ten, at and next to 15-digit ties, zeros, infinities
// and NaNs.
TEST(NumFormat, G15ListEqualsOneAtATimeAndPrintf) {
  std::mt19937_64 rng(99);
  std::normal_distribution<double> loading(0.0, 1e-3);
  auto value = [&]() -> double {
    char text[64];
    switch (rng() % 8) {
      case 0: {
        const uint64_t u = rng();
        double v;
        std::memcpy(&v, &u, sizeof v);
        return v;
      }
      case 1: return std::ldexp(loading(rng), static_cast<int>(rng() % 80) - 40);
      case 2: {
        const double p = std::pow(10.0, static_cast<int>(rng() % 26) - 9);
        double v = p;
        for (int k = static_cast<int>(rng() % 4); k > 0; --k) v = std::nextafter(v, rng() % 2 ? 0.0 : 2 * v);
        return rng() % 2 ? v : -v;
      }
      case 3:
        std::snprintf(text, sizeof text, "%llu5e%d",
                      static_cast<unsigned long long>(100000000000000ull + rng() % 900000000000000ull),
                      static_cast<int>(rng() % 24) - 24);
        return std::strtod(text, nullptr);
      case 4: {
        const double specials[] = {0.0, -0.0, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                   std::nan(""), 1e15, 999999999999999.5, 1e-8, 9.99999999999999e-9, 1.0};
        return specials[rng() % 10];
      }
      case 5: {  // an exact tie: a 15-digit integer and a half (printf rounds to even)
        const double q = static_cast<double>(100000000000000ull + rng() % 900000000000000ull);
        return (rng() % 2 ? 0.5 : 0.25) + q;
      }
      default: return loading(rng);
    }
  };
  std::vector<double> v(20);
  std::vector<char> a(20 * num::kListRoom), b(20 * num::kListRoom);
  for (int round = 0; round < 40000; ++round) {
    const size_t n = rng() % 21;
    for (size_t i = 0; i < n; ++i) v[i] = value();
    const size_t na = num::format_g15_list(a.data(), v.data(), n);
    const size_t nb = num::format_g15_list_one(b.data(), v.data(), n);
    ASSERT_EQ(std::string(a.data(), na), std::string(b.data(), nb));
    std::string want;
    char one[num::kFormatBuf];
    for (size_t i = 0; i < n; ++i) want += "," + std::string(one, num::format_g15_ref(one, v[i]));
    ASSERT_EQ(std::string(a.data(), na), want);
  }
}

}  // namespace
