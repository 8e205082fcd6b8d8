#include "numformat.h"

#include "numparse_fast.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace num {
namespace {

[[maybe_unused]] size_t to_chars_len(char* buf, double v, std::chars_format f, int precision) {
  auto r = std::to_chars(buf, buf + kFormatBuf, v, f, precision);
  return static_cast<size_t>(r.ptr - buf);
}

size_t printf_len(char* buf, const char* fmt, double v) {
  return static_cast<size_t>(std::snprintf(buf, kFormatBuf, fmt, v));
}

#ifndef METHPCA_PLAIN
// The doubles nearest 10^-8 .. 10^14, for a first guess of the exponent.
constexpr double kPow10Near[] = {1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3,
                                 1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14};

// a * b = hi + lo exactly (Dekker's product: each factor split into two
// 26-bit halves whose products are exact).
inline void two_product(double a, double b, double& hi, double& lo) {
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double ca = kSplit * a, cb = kSplit * b;
  const double ah = ca - (ca - a), al = a - ah;
  const double bh = cb - (cb - b), bl = b - bh;
  hi = a * b;
  lo = ((ah * bh - hi) + ah * bl + al * bh) + al * bl;
}

// "%.15g" of a positive v whose first significant digit is at 10^e for e in
// [-8, 14], without the general conversion: v * 10^(14 - e) is formed
// exactly as hi + lo (10^(14-e) is exact), so its rounding to an integer q
// (15 digits) is the exact value's, as printf rounds it. Returns 0 when that
// rounding is too close to a tie to be decided this way, or when v is below
// 10^e (the caller then tries e - 1) or well above 10^(e+1).
size_t g15_fast(char* buf, double v, int e) {
  double hi, lo;
  two_product(v, kPow10Exact[14 - e], hi, lo);  // 10^(14-e) <= 10^22: exact
  if (hi < 1e14 || (hi == 1e14 && lo < 0)) return 0;  // below 10^14: e was too high (the caller retries)
  double fi = static_cast<double>(static_cast<int64_t>(hi));  // floor: hi is positive, below 2^63
  double frac = (hi - fi) + lo;  // hi - fi is exact; |lo| <= half an ulp of hi
  if (frac < 0) {
    fi -= 1;
    frac += 1;
  } else if (frac >= 1) {
    fi += 1;
    frac -= 1;
  }
  if (std::fabs(frac - 0.5) < 1e-6) return 0;
  uint64_t q = static_cast<uint64_t>(fi) + (frac > 0.5 ? 1 : 0);
  if (q >= 1000000000000000ull) {
    if (q > 1000000000000000ull) return 0;  // e was too low
    q = 100000000000000ull;  // rounded up to the next power of ten
    ++e;
    if (e > 14) return 0;
  }
  // The 15 digits, two at a time from a table.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char d[16];
  uint32_t top = static_cast<uint32_t>(q / 100000000), low = static_cast<uint32_t>(q % 100000000);
  for (int i = 14; i > 6; i -= 2) {
    std::memcpy(d + i - 1, kPairs + 2 * (low % 100), 2);
    low /= 100;
  }
  for (int i = 6; i > 0; i -= 2) {
    std::memcpy(d + i - 1, kPairs + 2 * (top % 100), 2);
    top /= 100;
  }
  d[0] = static_cast<char>('0' + top);
  int nd = 15;
  while (nd > 1 && d[nd - 1] == '0') --nd;  // %g drops trailing zeros
  // Fixed-size copies (the buffer has room), then the end where the text ends.
  char* p = buf;
  if (e < -4) {
    p[0] = d[0];
    p[1] = '.';
    std::memcpy(p + 2, d + 1, 14);
    p += nd > 1 ? nd + 1 : 1;
    const int x = -e;
    p[0] = 'e';
    p[1] = '-';
    p[2] = static_cast<char>('0' + x / 10);
    p[3] = static_cast<char>('0' + x % 10);
    p += 4;
  } else if (e < 0) {
    std::memcpy(p, "0.000", 5);
    p += 1 - e;  // "0." and -e - 1 zeros
    std::memcpy(p, d, 15);
    p += nd;
  } else {
    const int ni = e + 1;  // integer digits
    std::memcpy(p, d, 15);
    if (nd > ni) {
      std::memmove(p + ni + 1, p + ni, 15);
      p[ni] = '.';
      p += nd + 1;
    } else {
      p += ni;
    }
  }
  return static_cast<size_t>(p - buf);
}
#endif

}  // namespace

#ifdef METHPCA_PLAIN
// Plain build: the C library's printf conversions.
size_t format_g15(char* buf, double v) { return format_g15_ref(buf, v); }
size_t format_e15(char* buf, double v) { return format_e15_ref(buf, v); }
size_t format_g17(char* buf, double v) { return format_g17_ref(buf, v); }
#else
size_t format_g15(char* buf, double v) {
  // Finite values from 1e-8 to below 1e15 (every mean, SD and loading in
  // practice) take the exact shortcut; the rest, and its rare undecided
  // cases, std::to_chars.
  const double a = std::fabs(v);
  if (a >= 1e-8 && a < 1e15) {
    // The first digit's power of ten from the binary exponent: a lies in
    // [2^b, 2^(b+1)), so floor((b + 1) log10 2) is that power or one above.
    uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int b = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
    int e = ((b + 1) * 78913) >> 18;  // floor((b + 1) * log10(2)) for |b| < 1000
    e = e < -8 ? -8 : e > 14 ? 14 : e;
    e -= e > -8 && a < kPow10Near[e + 8];  // a good guess; g15_fast decides exactly
    char* p = buf;
    *p = '-';  // kept only for a negative v
    p += std::signbit(v);
    size_t n = g15_fast(p, a, e);
    if (n == 0 && e > -8) n = g15_fast(p, a, e - 1);
    if (n) return n + static_cast<size_t>(p - buf);
  }
  return to_chars_len(buf, v, std::chars_format::general, 15);
}
size_t format_e15(char* buf, double v) { return to_chars_len(buf, v, std::chars_format::scientific, 15); }
size_t format_g17(char* buf, double v) { return to_chars_len(buf, v, std::chars_format::general, 17); }
#endif

size_t format_g15_ref(char* buf, double v) { return printf_len(buf, "%.15g", v); }
size_t format_e15_ref(char* buf, double v) { return printf_len(buf, "%.15e", v); }
size_t format_g17_ref(char* buf, double v) { return printf_len(buf, "%.17g", v); }

}  // namespace num
