#include "numparse.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

uint64_t bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

// Compares with the C library on `s` as a whole field, and on `s` followed by
// a comma and more text (fields end at a comma inside a line).
void expect_same(const std::string& s) {
  double want = std::strtod(s.c_str(), nullptr);
  double got = num::parse_double(s.data(), s.data() + s.size());
  if (std::isnan(want)) {
    ASSERT_TRUE(std::isnan(got)) << "[" << s << "]";
    ASSERT_EQ(std::signbit(want), std::signbit(got)) << "[" << s << "]";
  } else {
    ASSERT_EQ(bits(want), bits(got)) << "[" << s << "] want " << std::hexfloat << want
                                     << " got " << got;
  }
  std::string line = s + ",9.5,x";
  double in_line = num::parse_double(line.data(), line.data() + s.size());
  if (!std::isnan(want)) {
    ASSERT_EQ(bits(want), bits(in_line)) << "[" << s << "] in a line";
  }
  int iwant = std::atoi(s.c_str());
  ASSERT_EQ(iwant, num::parse_int(s.data(), s.data() + s.size())) << "[" << s << "]";
}

TEST(ParseDouble, CraftedForms) {
  const char* cases[] = {
      "", " ", "0", "-0", "+0", "0.0", "-0.0", ".", "-.", "+", "-", "e5", ".e5", "0.5", "0.75",
      "1", "-1", "+1.5", "  0.25", "\t\n\v\f\r0.5", "0.5\r", "0.5 ", "0.5abc", "NA", "na", "nan",
      "NaN", "-nan", "nan(123)", "nan(", "inf", "-inf", "INF", "Infinity", "-infinity", "infinit",
      "infx", "0x1p3", "0X1P-3", "-0x1.8p1", "0x", "0xg", "0x.8", "1e", "1e+", "1e-", "1e5",
      "1E5", "1e-5", "1.5e+3", "1.5e-3x", "1e22", "1e23", "1e-22", "1e-23", "1e308", "1e309",
      "1e-308", "1e-324", "4.9e-324", "2.2250738585072014e-308", "1.7976931348623157e308",
      "9007199254740992", "9007199254740993", "9007199254740991", "18014398509481985",
      "123456789012345678901234567890", "0.1", "0.2", "0.3", "0.123456789012345",
      "0.1234567890123456", "0.12345678901234567", "0.000001", "00000.5000000", "0001e0001",
      "0e999999999999", "-0e-99999", "1e-99999999999", "1e99999999999", "100", "0100",
      "1,5", "1.5,2", "--1", "+-1", "- 1", "1 e5", "1.e5", ".5e-1", "5.", "5.e", "0.", "1e0x",
      "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967296", "99999999999999999999",
      "-99999999999999999999", "12345678901234567", "1234567890123456789", "12345678901234567890",
      "3.14159265358979323846264338327950288", "0.30000000000000004", "7.2057594037927933e16",
      "8.98846567431158e307", "1e-320", "0.0000000000000000000000000001", "1e-7",
      "000000000000000000000000000000000000000000001", "0.000000000000000000000000000000000000000001",
  };
  for (const char* c : cases) expect_same(c);
}

TEST(ParseDouble, NulEndsTheField) {
  std::string s("0.5\0" "7", 5);
  EXPECT_EQ(0.5, num::parse_double(s.data(), s.data() + s.size()));
  std::string t("\0" "1", 2);
  EXPECT_EQ(0.0, num::parse_double(t.data(), t.data() + t.size()));
  EXPECT_EQ(0, num::parse_int(t.data(), t.data() + t.size()));
}

TEST(ParseDouble, RandomDecimalsAndPrintfOutput) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  char buf[128];
  for (int i = 0; i < 60000; ++i) {
    double v = unit(rng);
    if (i % 3 == 1) v = std::ldexp(v, static_cast<int>(rng() % 200) - 100);
    if (i % 7 == 0) v = -v;
    const char* fmts[] = {"%.6g", "%.15g", "%.17g", "%.3f", "%.15e", "%.10f", "%g", "%.20f"};
    std::snprintf(buf, sizeof buf, fmts[i % 8], v);
    expect_same(buf);
  }
}

TEST(ParseDouble, RandomDigitStrings) {
  std::mt19937_64 rng(777);
  const char alphabet[] = "0123456789.eE+- \t\rxXpPaAnNiIfFtTyY,";
  for (int i = 0; i < 100000; ++i) {
    std::string s;
    int len = static_cast<int>(rng() % 24);
    for (int k = 0; k < len; ++k) {
      // Mostly digits, so that long numbers and exponents come up often.
      if (rng() % 3) s.push_back(static_cast<char>('0' + rng() % 10));
      else s.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    }
    expect_same(s);
  }
}

TEST(ParseDouble, RandomMantissaExponent) {
  std::mt19937_64 rng(99);
  char buf[128];
  for (int i = 0; i < 60000; ++i) {
    unsigned long long m = rng() >> (rng() % 64);
    int e = static_cast<int>(rng() % 80) - 40;
    int point = static_cast<int>(rng() % 21);
    std::string digits = std::to_string(m);
    if (point < static_cast<int>(digits.size())) digits.insert(digits.size() - point, ".");
    std::snprintf(buf, sizeof buf, "%s%se%d", (i & 1) ? "-" : "", digits.c_str(), e);
    expect_same(buf);
  }
}

// The decimals past the one-division path: the shortest text of random
// doubles (what std::to_chars writes, 17 significant digits for many),
// mantissas of 17 to 40 digits with exponents over the whole range
// (subnormals, overflow), halfway cases, and hundreds of digits.
TEST(ParseDouble, LongMantissasAndExtremeExponents) {
  std::mt19937_64 rng(4242);
  char buf[1024];
  for (int i = 0; i < 60000; ++i) {
    const uint64_t u = rng();
    double d;
    std::memcpy(&d, &u, sizeof d);
    if (!std::isfinite(d)) continue;
    if (i % 2) d = std::ldexp(static_cast<double>(u >> 11), -53);  // in [0, 1), as beta values
    expect_same(std::string(buf, std::to_chars(buf, buf + sizeof buf, d).ptr));
  }
  for (int i = 0; i < 40000; ++i) {
    std::string digits;
    for (int k = 17 + static_cast<int>(rng() % 24); k > 0; --k) digits.push_back(static_cast<char>('0' + rng() % 10));
    if (rng() % 2) digits.insert(1 + rng() % (digits.size() - 1), ".");
    std::snprintf(buf, sizeof buf, "%s%se%d", (i & 1) ? "-" : "", digits.c_str(), static_cast<int>(rng() % 700) - 360);
    expect_same(buf);
  }
  // Halfway between two doubles: the shortest text of a double with "5" and
  // more digits after it, read back both ways.
  for (int i = 0; i < 20000; ++i) {
    const double d = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 200) - 150);
    std::snprintf(buf, sizeof buf, "%.25e", d);
    expect_same(buf);
    std::snprintf(buf, sizeof buf, "%.40g", std::nextafter(d, 2 * d));
    expect_same(buf);
  }
  std::string big = "0.";
  for (int k = 0; k < 800; ++k) big.push_back(static_cast<char>('0' + rng() % 10));
  expect_same(big);
  expect_same(big + "e-300");
  expect_same("1" + big.substr(2) + "e-700");
}

TEST(ParseInt, MatchesAtoi) {
  const char* cases[] = {"", "0", "-0", "12", "-12", "+7", "  42x", "0100", "07", "1e5", "1.9",
                         "-1.9", "2147483647", "2147483648", "-2147483649", "9223372036854775807",
                         "9223372036854775808", "-9223372036854775809", "99999999999999999999999",
                         "000000000000000000000000000012", "abc", " -", "\t+3", "0x10"};
  for (const char* c : cases)
    EXPECT_EQ(std::atoi(c), num::parse_int(c, c + std::strlen(c))) << "[" << c << "]";
}

}  // namespace
