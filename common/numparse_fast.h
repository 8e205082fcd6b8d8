// Inline fast path of num::parse_double for the ordinary decimal field, shared
// by the number parser and the line reader's fused field scan.
#pragma once

#include <cstddef>
#include <cstdint>

namespace num {

// Exact powers of ten: every 10^k for k <= 22 is a double without rounding
// (5^22 < 2^53).
inline constexpr double kPow10Exact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The value m / 10^frac of a decimal's digits m with frac of them after the
// point (frac <= 22): one IEEE division of two exact operands when m <= 2^53
// (see below). False, and v untouched, for a larger m.
inline bool exact_decimal(uint64_t m, std::size_t frac, double& v) {
  if (m > (uint64_t{1} << 53)) return false;
  v = frac ? static_cast<double>(m) / kPow10Exact[frac] : static_cast<double>(m);
  return true;
}

// Reads an unsigned plain decimal "ddd", "ddd.ddd" or ".ddd" at p (no sign,
// no exponent) with at most 19 digits in all, whose digits form an integer
// m <= 2^53. On success stores its value in v and returns the first byte not
// taken (the caller decides whether that byte may follow such a number);
// otherwise returns nullptr and the caller takes the general path.
//
// Exactness: m <= 2^53 is an exact double, and with f digits after the point
// (f <= 19 <= 22) 10^f is an exact double too. The value is m / 10^f, so the
// result is one IEEE division of two exact operands, which rounds the exact
// quotient to nearest: the same double strtod returns for the text, since
// strtod too gives the correctly rounded value of the decimal it reads.
// With no point, v = m exactly.
inline const char* parse_plain_decimal(const char* p, const char* last, double& v) {
  const char* start = p;
  uint64_t m = 0;
  while (p != last && static_cast<unsigned char>(*p - '0') < 10) {
    m = m * 10 + static_cast<unsigned>(*p - '0');
    ++p;
  }
  std::size_t digits = static_cast<std::size_t>(p - start);
  std::size_t frac = 0;
  if (p != last && *p == '.') {
    const char* f = ++p;
    while (p != last && static_cast<unsigned char>(*p - '0') < 10) {
      m = m * 10 + static_cast<unsigned>(*p - '0');
      ++p;
    }
    frac = static_cast<std::size_t>(p - f);
    digits += frac;
  }
  // 19 digits cannot overflow 64 bits; more may have, so they go the slow way.
  if (digits == 0 || digits > 19 || !exact_decimal(m, frac, v)) return nullptr;
  return p;
}

}  // namespace num
