#include "numparse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace num {
namespace {

inline bool is_c_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');  // \t \n \v \f \r
}
inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Exact powers of ten: every 10^k for k <= 22 is a double without rounding.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The field as a NUL-terminated string, without heap traffic for short fields.
template <typename F>
auto with_c_string(const char* first, const char* last, F f) {
  const void* nul = std::memchr(first, '\0', static_cast<size_t>(last - first));
  if (nul) last = static_cast<const char*>(nul);
  size_t n = static_cast<size_t>(last - first);
  char small[128];
  if (n < sizeof small) {
    std::memcpy(small, first, n);
    small[n] = '\0';
    return f(small);
  }
  std::string big(first, n);
  return f(big.c_str());
}

}  // namespace

double parse_double_ref(const char* first, const char* last) {
  return with_c_string(first, last, [](const char* s) { return std::strtod(s, nullptr); });
}

int parse_int_ref(const char* first, const char* last) {
  return with_c_string(first, last,
                       [](const char* s) { return static_cast<int>(std::strtol(s, nullptr, 10)); });
}

// Fast path: a plain decimal number whose significant digits form an integer
// m <= 2^53 and whose decimal exponent e satisfies |e| <= 22. Then m and 10^|e|
// are exact doubles and m * 10^e (or m / 10^-e) is one correctly rounded
// operation, which is exactly the correctly rounded value strtod returns.
// Everything else (hex, inf, nan, long mantissas, large exponents, no digits)
// goes to strtod.
double parse_double(const char* first, const char* last) {
  const char* p = first;
  while (p != last && is_c_space(*p)) ++p;
  bool neg = false;
  if (p != last && (*p == '+' || *p == '-')) neg = (*p++ == '-');
  if (p != last && *p == '0' && p + 1 != last && (p[1] == 'x' || p[1] == 'X'))
    return parse_double_ref(first, last);

  uint64_t m = 0;
  int sig = 0;        // significant digits taken into m (leading zeros skipped)
  int dropped = 0;    // significant digits beyond 19 (forces the slow path)
  int frac_sig = 0;   // significant digits after the point
  int frac_zeros = 0; // zeros after the point before the first significant digit
  bool any = false;
  for (; p != last && is_digit(*p); ++p) {
    any = true;
    if (m == 0 && *p == '0') continue;
    if (sig < 19) { m = m * 10 + static_cast<unsigned>(*p - '0'); ++sig; } else ++dropped;
  }
  if (p != last && *p == '.') {
    ++p;
    for (; p != last && is_digit(*p); ++p) {
      any = true;
      if (m == 0 && *p == '0') { ++frac_zeros; continue; }
      if (sig < 19) { m = m * 10 + static_cast<unsigned>(*p - '0'); ++sig; ++frac_sig; } else ++dropped;
    }
  }
  if (!any) return parse_double_ref(first, last);  // inf, nan, or no number at all
  long exp = 0;
  if (p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool eneg = false;
    if (q != last && (*q == '+' || *q == '-')) eneg = (*q++ == '-');
    if (q != last && is_digit(*q)) {
      for (; q != last && is_digit(*q); ++q)
        if (exp < 100000) exp = exp * 10 + (*q - '0');
      if (eneg) exp = -exp;
    }
  }
  if (m == 0) return neg ? -0.0 : 0.0;
  if (dropped || m > (uint64_t{1} << 53)) return parse_double_ref(first, last);
  long e10 = exp - frac_sig - frac_zeros;
  double v = static_cast<double>(m);
  if (e10 >= 0 && e10 <= 22) v = v * kPow10[e10];
  else if (e10 < 0 && e10 >= -22) v = v / kPow10[-e10];
  else return parse_double_ref(first, last);
  return neg ? -v : v;
}

int parse_int(const char* first, const char* last) {
  const char* p = first;
  while (p != last && is_c_space(*p)) ++p;
  bool neg = false;
  if (p != last && (*p == '+' || *p == '-')) neg = (*p++ == '-');
  int64_t v = 0;
  int n = 0;
  for (; p != last && is_digit(*p); ++p) {
    if (n == 0 && *p == '0') continue;
    if (++n > 18) return parse_int_ref(first, last);  // strtol saturates; let it
    v = v * 10 + (*p - '0');
  }
  if (neg) v = -v;
  return static_cast<int>(v);  // the same wrap as glibc's (int)strtol
}

}  // namespace num
