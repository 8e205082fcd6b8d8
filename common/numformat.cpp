#include "numformat.h"

#include "numparse_fast.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if !defined(METHPCA_PLAIN) && defined(__x86_64__) && defined(__GNUC__)
#define METHPCA_G15_AVX512 1
#include <immintrin.h>
#endif

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

// The text of %.15g from its 15 digits d (the first nd significant, the
// rest zeros) and the power of ten e of the first: fixed-size copies (the
// buffer has room), then the end where the text ends.
inline size_t g15_text(char* buf, const char* d, int nd, int e) {
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
  return g15_text(buf, d, nd, e);
}
#endif

#ifdef METHPCA_G15_AVX512
constexpr uint64_t kZeros = 0x3030303030303030ull;  // "00000000"

// The text of a value g15_fast has taken, from its digits as two words of
// text (`top`: digits 1-7 in bytes 0-6; `low`: digits 8-15) and the power of
// ten of its first digit: what g15_fast writes, sign first.
inline size_t g15_emit(char* buf, uint64_t top, uint64_t low, int e, bool neg) {
  char d[16];
  std::memcpy(d, &top, 8);
  std::memcpy(d + 7, &low, 8);
  // %g drops trailing zeros: the zero digits at the top of `low`, then of `top`.
  const uint64_t zl = low - kZeros, zt = top - (kZeros >> 8);
  const int nd = 15 - (zl ? __builtin_clzll(zl) / 8 : 8 + __builtin_clzll(zt) / 8 - 1);
  *buf = '-';
  return neg + g15_text(buf + neg, d, nd, e);
}
#endif

}  // namespace

#ifdef METHPCA_G15_AVX512
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // GCC 12's AVX-512 headers
#endif
namespace {

// Eight digits of each lane's x < 10^8 as text, as ascii8 forms them in
// g15_emit's words: x / 10^4 and x % 10^4 in the halves, then pairs, then
// digits, each a multiply and shift per lane.
__attribute__((target("avx512f,avx512dq"))) inline __m512i ascii8_x8(__m512i x) {
  const __m512i hi4 = _mm512_srli_epi64(_mm512_mullo_epi64(x, _mm512_set1_epi64(3518437209ll)), 45);
  const __m512i lo4 = _mm512_sub_epi64(x, _mm512_mullo_epi64(hi4, _mm512_set1_epi64(10000)));
  __m512i v = _mm512_or_si512(hi4, _mm512_slli_epi64(lo4, 32));
  const __m512i h = _mm512_and_si512(_mm512_srli_epi64(_mm512_mullo_epi64(v, _mm512_set1_epi64(10486)), 20),
                                     _mm512_set1_epi64(0x0000007F0000007Fll));
  v = _mm512_or_si512(h, _mm512_slli_epi64(_mm512_sub_epi64(v, _mm512_mullo_epi64(h, _mm512_set1_epi64(100))), 16));
  const __m512i t = _mm512_and_si512(_mm512_srli_epi64(_mm512_mullo_epi64(v, _mm512_set1_epi64(103)), 10),
                                     _mm512_set1_epi64(0x000F000F000F000Fll));
  v = _mm512_or_si512(t, _mm512_slli_epi64(_mm512_sub_epi64(v, _mm512_mullo_epi64(t, _mm512_set1_epi64(10))), 8));
  return _mm512_add_epi64(v, _mm512_set1_epi64(static_cast<long long>(kZeros)));
}

// g15_fast on eight values at once, the same operations lane by lane: the
// first guess of the power of ten, Dekker's exact product, the rounding to
// 15 digits and its checks. A lane it cannot decide (out of the shortcut's
// range, too close to a tie, a guess one too high) is formatted by
// format_g15 alone, as are the values after the last whole or partial group.
// One of the 23 powers of ten of kPow10Near or kPow10Exact, held in three
// registers, per lane (index 0..22): two permutes and a blend, where a
// gather from memory is slow on some processors (Zen 4).
struct Pow10Table {
  __m512d t[3];
};
__attribute__((target("avx512f,avx512dq"))) inline Pow10Table pow10_table(const double* p) {
  return {{_mm512_loadu_pd(p), _mm512_loadu_pd(p + 8), _mm512_maskz_loadu_pd(0x7f, p + 16)}};
}
__attribute__((target("avx512f,avx512dq"))) inline __m512d pow10_lookup(const Pow10Table& tb, __m512i idx) {
  const __m512d lo = _mm512_permutex2var_pd(tb.t[0], idx, tb.t[1]);
  const __m512d hi = _mm512_permutexvar_pd(idx, tb.t[2]);
  return _mm512_mask_blend_pd(_mm512_cmpgt_epi64_mask(idx, _mm512_set1_epi64(15)), lo, hi);
}

__attribute__((target("avx512f,avx512dq"))) size_t g15_list_avx512(char* buf, const double* v, size_t n) {
  static_assert(sizeof kPow10Near / sizeof(double) == 23 && sizeof kPow10Exact / sizeof(double) == 23);
  const Pow10Table near_t = pow10_table(kPow10Near), exact_t = pow10_table(kPow10Exact);
  const __m512d absmask = _mm512_castsi512_pd(_mm512_set1_epi64(0x7fffffffffffffffll));
  const __m512d split = _mm512_set1_pd(134217729.0);
  char* p = buf;
  alignas(64) uint64_t top[8], low[8];
  alignas(64) int64_t ex[8];
  for (size_t i = 0; i < n; i += 8) {
    const size_t m = n - i < 8 ? n - i : 8;
    const __mmask8 live = static_cast<__mmask8>((1u << m) - 1);
    const __m512d x = _mm512_maskz_loadu_pd(live, v + i);
    const __m512d a = _mm512_and_pd(x, absmask);
    const __mmask8 neg = _mm512_movepi64_mask(_mm512_castpd_si512(x));
    __mmask8 ok = _mm512_cmp_pd_mask(a, _mm512_set1_pd(1e-8), _CMP_GE_OQ) &
                  _mm512_cmp_pd_mask(a, _mm512_set1_pd(1e15), _CMP_LT_OQ) & live;
    const __m512i b = _mm512_sub_epi64(_mm512_and_si512(_mm512_srli_epi64(_mm512_castpd_si512(a), 52), _mm512_set1_epi64(0x7ff)),
                                       _mm512_set1_epi64(1023));
    __m512i e = _mm512_srai_epi64(_mm512_mul_epi32(_mm512_add_epi64(b, _mm512_set1_epi64(1)), _mm512_set1_epi64(78913)), 18);
    e = _mm512_min_epi64(_mm512_max_epi64(e, _mm512_set1_epi64(-8)), _mm512_set1_epi64(14));
    const __m512d near = pow10_lookup(near_t, _mm512_add_epi64(e, _mm512_set1_epi64(8)));
    const __mmask8 lower = _mm512_cmpgt_epi64_mask(e, _mm512_set1_epi64(-8)) & _mm512_cmp_pd_mask(a, near, _CMP_LT_OQ);
    e = _mm512_mask_sub_epi64(e, lower, e, _mm512_set1_epi64(1));
    const __m512d pw = pow10_lookup(exact_t, _mm512_sub_epi64(_mm512_set1_epi64(14), e));
    // two_product(a, pw)
    const __m512d ca = _mm512_mul_pd(split, a), cb = _mm512_mul_pd(split, pw);
    const __m512d ah = _mm512_sub_pd(ca, _mm512_sub_pd(ca, a)), al = _mm512_sub_pd(a, ah);
    const __m512d bh = _mm512_sub_pd(cb, _mm512_sub_pd(cb, pw)), bl = _mm512_sub_pd(pw, bh);
    const __m512d hi = _mm512_mul_pd(a, pw);
    const __m512d lo = _mm512_add_pd(
        _mm512_add_pd(_mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(ah, bh), hi), _mm512_mul_pd(ah, bl)),
                      _mm512_mul_pd(al, bh)),
        _mm512_mul_pd(al, bl));
    const __m512d e14 = _mm512_set1_pd(1e14);
    ok &= ~(_mm512_cmp_pd_mask(hi, e14, _CMP_LT_OQ) |
            (_mm512_cmp_pd_mask(hi, e14, _CMP_EQ_OQ) & _mm512_cmp_pd_mask(lo, _mm512_setzero_pd(), _CMP_LT_OQ)));
    __m512d fi = _mm512_roundscale_pd(hi, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    __m512d frac = _mm512_add_pd(_mm512_sub_pd(hi, fi), lo);
    const __m512d one = _mm512_set1_pd(1.0);
    const __mmask8 under = _mm512_cmp_pd_mask(frac, _mm512_setzero_pd(), _CMP_LT_OQ);
    const __mmask8 over = ~under & _mm512_cmp_pd_mask(frac, one, _CMP_GE_OQ);
    fi = _mm512_mask_sub_pd(fi, under, fi, one);
    frac = _mm512_mask_add_pd(frac, under, frac, one);
    fi = _mm512_mask_add_pd(fi, over, fi, one);
    frac = _mm512_mask_sub_pd(frac, over, frac, one);
    ok &= ~_mm512_cmp_pd_mask(_mm512_and_pd(_mm512_sub_pd(frac, _mm512_set1_pd(0.5)), absmask),
                              _mm512_set1_pd(1e-6), _CMP_LT_OQ);
    const __mmask8 up = _mm512_cmp_pd_mask(frac, _mm512_set1_pd(0.5), _CMP_GT_OQ);
    __m512i q = _mm512_mask_add_epi64(_mm512_cvttpd_epu64(_mm512_maskz_mov_pd(ok, fi)), up,
                                      _mm512_cvttpd_epu64(_mm512_maskz_mov_pd(ok, fi)), _mm512_set1_epi64(1));
    const __m512i p15 = _mm512_set1_epi64(1000000000000000ll);
    ok &= ~_mm512_cmpgt_epu64_mask(q, p15);
    const __mmask8 ten = _mm512_cmpeq_epu64_mask(q, p15);  // rounded up to the next power of ten
    q = _mm512_mask_mov_epi64(q, ten, _mm512_set1_epi64(100000000000000ll));
    e = _mm512_mask_add_epi64(e, ten, e, _mm512_set1_epi64(1));
    ok &= ~_mm512_cmpgt_epi64_mask(e, _mm512_set1_epi64(14));
    // The 15 digits: 7 above 10^8, 8 below.
    const __m512i t8 = _mm512_cvttpd_epu64(_mm512_roundscale_pd(
        _mm512_div_pd(_mm512_cvtepu64_pd(q), _mm512_set1_pd(1e8)), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
    const __m512i l8 = _mm512_sub_epi64(q, _mm512_mullo_epi64(t8, _mm512_set1_epi64(100000000)));
    _mm512_store_si512(top, _mm512_srli_epi64(ascii8_x8(t8), 8));
    _mm512_store_si512(low, ascii8_x8(l8));
    _mm512_store_si512(ex, e);
    for (size_t l = 0; l < m; ++l) {
      *p++ = ',';
      p += (ok >> l) & 1 ? g15_emit(p, top[l], low[l], static_cast<int>(ex[l]), (neg >> l) & 1)
                         : format_g15(p, v[i + l]);
    }
  }
  return static_cast<size_t>(p - buf);
}

bool has_avx512_g15() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"); }

}  // namespace
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

size_t format_g15_list_one(char* buf, const double* v, size_t n) {
  char* p = buf;
  for (size_t i = 0; i < n; ++i) {
    *p++ = ',';
    p += format_g15(p, v[i]);
  }
  return static_cast<size_t>(p - buf);
}

size_t format_g15_list(char* buf, const double* v, size_t n) {
#ifdef METHPCA_G15_AVX512
  static const bool wide = has_avx512_g15();
  if (wide) return g15_list_avx512(buf, v, n);
#endif
  return format_g15_list_one(buf, v, n);
}

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
