#include "numparse.h"

#include "numparse_fast.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

// fast_float (Debian's libfast-float-dev, header only): decimal text to the
// correctly rounded double, as strtod gives it, without strtod's cost.
#if !defined(METHPCA_PLAIN) && __has_include(<fast_float/fast_float.h>)
#define METHPCA_FAST_FLOAT 1
#include <fast_float/fast_float.h>
#endif

namespace num {
namespace {

[[maybe_unused]] inline bool is_c_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');  // \t \n \v \f \r
}
[[maybe_unused]] inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

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

#ifdef METHPCA_PLAIN
// Plain build: every conversion goes through the C library.
double parse_double(const char* first, const char* last) { return parse_double_ref(first, last); }
int parse_int(const char* first, const char* last) { return parse_int_ref(first, last); }
#else
// Fast path: after optional white space and sign, an ordinary decimal whose
// significant digits form an integer m <= 2^53 with at most 19 digits, and
// that is not followed by an exponent or a hex marker; see
// parse_plain_decimal (numparse_fast.h) for why its one division of exact
// operands gives strtod's correctly rounded result. Other decimals (an
// exponent, a longer mantissa: the shortest text of many doubles has 17
// digits) go to fast_float where it is installed, which also rounds
// correctly and, like strtod, reads the longest decimal prefix. Everything
// else (hex, inf, nan, no digits, or fast_float missing or refusing) goes to
// strtod.
double parse_double(const char* first, const char* last) {
  const char* p = first;
  while (p != last && is_c_space(*p)) ++p;
  bool neg = false;
  if (p != last && (*p == '+' || *p == '-')) neg = (*p++ == '-');
  double v;
  const char* q = parse_plain_decimal(p, last, v);
  if (q && (q == last || (*q != 'e' && *q != 'E' && *q != 'x' && *q != 'X'))) return neg ? -v : v;
#ifdef METHPCA_FAST_FLOAT
  // A decimal: a digit, or a point and a digit, and not "0x" (hex for strtod).
  const bool decimal = p != last && (is_digit(*p) || (*p == '.' && p + 1 != last && is_digit(p[1]))) &&
                       !(*p == '0' && p + 1 != last && (p[1] == 'x' || p[1] == 'X'));
  if (decimal) {
    const auto r = fast_float::from_chars(p, last, v);
    if (r.ec == std::errc()) return neg ? -v : v;
  }
#endif
  return parse_double_ref(first, last);
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

#endif  // METHPCA_PLAIN

}  // namespace num
