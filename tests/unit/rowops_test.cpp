// The vector row operations against the plain loops, bit for bit, at every
// width the processor has: lengths across whole vectors and remainders,
// values over the whole double range with zeros, subnormals, infinities and
// NaNs, in place and into another row.
#include "rowops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

uint64_t bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

double any_double(std::mt19937_64& rng) {
  switch (rng() % 8) {
    case 0: return 0.0;
    case 1: return -0.0;
    case 2: return std::ldexp(double(rng() % 1000), -1074 + int(rng() % 40));  // subnormal range
    case 3: return rng() % 2 ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
    case 4: return std::numeric_limits<double>::quiet_NaN();
    default: {
      double v;
      uint64_t b = rng();
      std::memcpy(&v, &b, sizeof v);
      return std::isnan(v) ? 1.5 : v;
    }
  }
}

// Every result to the bit, NaNs included.
void expect_same(const std::vector<double>& got, const std::vector<double>& want, unsigned width) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t j = 0; j < got.size(); ++j)
    ASSERT_EQ(bits(got[j]), bits(want[j])) << "width " << width << " element " << j;
}

TEST(RowOps, EveryWidthEqualsThePlainLoop) {
  std::mt19937_64 rng(5);
  int widths_run = 0;
  for (unsigned width : {16u, 32u, 64u}) {
    std::vector<double> probe(1, 1.0);
    if (!rowops::divide_at(width, probe.data(), probe.data(), 1, 2.0)) continue;
    ++widths_run;
    for (size_t n : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 100, 201}) {
      for (int rep = 0; rep < 20; ++rep) {
        std::vector<double> src(n);
        for (double& v : src) v = rep < 10 ? std::ldexp(double(rng() % 2000001) - 1e6, -int(rng() % 60)) : any_double(rng);
        const double d = rep % 3 == 0 ? any_double(rng) : 0.01 + double(rng() % 1000) / 7.0;
        const double m = rep % 4 == 0 ? any_double(rng) : double(rng() % 1000) / 1000.0;
        if (d == 0.0 || std::isnan(d)) continue;

        std::vector<double> want(n), got(n);
        ASSERT_TRUE(rowops::divide_at(0, src.data(), want.data(), n, d));
        ASSERT_TRUE(rowops::divide_at(width, src.data(), got.data(), n, d));
        expect_same(got, want, width);
        got = src;  // in place
        rowops::divide_at(width, got.data(), got.data(), n, d);
        expect_same(got, want, width);

        want = src;
        got = src;
        ASSERT_TRUE(rowops::sub_divide_at(0, want.data(), n, m, d));
        ASSERT_TRUE(rowops::sub_divide_at(width, got.data(), n, m, d));
        expect_same(got, want, width);
      }
    }
  }
  EXPECT_GE(widths_run, 1);
}

// The row-by-row forms: every row its own operand, strided source and
// destination; the cells between rows of the destination stay untouched.
TEST(RowOps, RowFormsEqualThePlainLoopAtEveryWidth) {
  std::mt19937_64 rng(6);
  for (unsigned width : {0u, 16u, 32u, 64u}) {
    std::vector<double> probe(1, 1.0);
    if (!rowops::divide_at(width, probe.data(), probe.data(), 1, 2.0)) continue;
    for (size_t n : {0, 1, 3, 8, 13, 24, 25}) {
      const size_t rows = 7, lds = n + 5, ldd = n + 3;
      std::vector<double> src(rows * lds), m(rows), d(rows);
      for (double& v : src) v = any_double(rng);
      for (size_t r = 0; r < rows; ++r) {
        m[r] = any_double(rng);
        d[r] = r % 2 ? any_double(rng) : 0.01 + double(rng() % 1000) / 7.0;
      }
      std::vector<double> want(rows * ldd, 7.0), got = want;
      for (size_t r = 0; r < rows; ++r)
        for (size_t j = 0; j < n; ++j) want[r * ldd + j] = src[r * lds + j] - m[r];
      ASSERT_TRUE(rowops::subtract_rows_at(width, src.data(), lds, got.data(), ldd, rows, n,
                                           m.data()));
      expect_same(got, want, width);
      for (size_t r = 0; r < rows; ++r)
        for (size_t j = 0; j < n; ++j) want[r * ldd + j] = src[r * lds + j] / d[r];
      ASSERT_TRUE(rowops::divide_rows_at(width, src.data(), lds, got.data(), ldd, rows, n,
                                         d.data()));
      expect_same(got, want, width);
    }
  }
  std::vector<double> src = {1.0, 2.0, 3.0, 4.0}, got(4), m = {0.5, 1.5}, d = {2.0, 4.0};
  rowops::subtract_rows(src.data(), 2, got.data(), 2, 2, 2, m.data());
  EXPECT_EQ(got, (std::vector<double>{0.5, 1.5, 1.5, 2.5}));
  rowops::divide_rows(src.data(), 2, got.data(), 2, 2, 2, d.data());
  EXPECT_EQ(got, (std::vector<double>{0.5, 1.0, 0.75, 1.0}));
}

// The chosen width gives the plain loop's results too.
TEST(RowOps, ChosenWidthEqualsThePlainLoop) {
  std::vector<double> src, want, got;
  for (int j = 0; j < 37; ++j) src.push_back(0.1 * j - 1.3);
  want.resize(src.size());
  got.resize(src.size());
  rowops::divide_at(0, src.data(), want.data(), src.size(), 0.7);
  rowops::divide(src.data(), got.data(), src.size(), 0.7);
  expect_same(got, want, 0);
  want = src;
  got = src;
  rowops::sub_divide_at(0, want.data(), want.size(), 0.37, 3.1);
  rowops::sub_divide(got.data(), got.size(), 0.37, 3.1);
  expect_same(got, want, 0);
}

}  // namespace
