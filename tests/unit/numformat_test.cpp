#include "numformat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

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

}  // namespace
