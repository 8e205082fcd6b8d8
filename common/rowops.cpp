#include "rowops.h"

#include <initializer_list>

#if defined(__x86_64__) && !defined(METHPCA_PLAIN)
#define METHPCA_ROWOPS_SIMD 1
#include <immintrin.h>
#endif

namespace rowops {
namespace {

void divide_plain(const double* src, double* dst, std::size_t n, double d) {
  for (std::size_t j = 0; j < n; ++j) dst[j] = src[j] / d;
}

void sub_divide_plain(double* row, std::size_t n, double m, double d) {
  for (std::size_t j = 0; j < n; ++j) row[j] = (row[j] - m) / d;
}

void subtract_plain(const double* src, double* dst, std::size_t n, double m) {
  for (std::size_t j = 0; j < n; ++j) dst[j] = src[j] - m;
}

// The row-by-row forms over a one-row operation, each row with its operand
// (the row's body inlined: rows may be a few vectors long).
#define ROWOPS_ROWS(NAME, ROW, TARGET)                                                        \
  TARGET [[gnu::flatten]] void NAME(const double* src, std::size_t lds, double* dst,         \
                                    std::size_t ldd, std::size_t rows, std::size_t n,         \
                                    const double* a) {                                        \
    for (std::size_t r = 0; r < rows; ++r) ROW(src + r * lds, dst + r * ldd, n, a[r]);        \
  }

ROWOPS_ROWS(subtract_rows_plain, subtract_plain, )
ROWOPS_ROWS(divide_rows_plain, divide_plain, )

#ifdef METHPCA_ROWOPS_SIMD
// One body per width: whole vectors of W doubles, then the plain loop for
// the last elements. dst[j] = OP(src[j], a) for NAME = divide or subtract.
#define ROWOPS_ELEMENTWISE(NAME, SUFFIX, TARGET, VEC, W, SET1, LOAD, STORE, OP)              \
  TARGET void NAME##_##SUFFIX(const double* src, double* dst, std::size_t n, double a) {     \
    const VEC av = SET1(a);                                                                   \
    std::size_t j = 0;                                                                        \
    for (; j + W <= n; j += W) STORE(dst + j, OP(LOAD(src + j), av));                         \
    NAME##_plain(src + j, dst + j, n - j, a);                                                 \
  }
#define ROWOPS_BODIES(SUFFIX, TARGET, VEC, W, SET1, LOAD, STORE, SUB, DIV)                   \
  ROWOPS_ELEMENTWISE(divide, SUFFIX, TARGET, VEC, W, SET1, LOAD, STORE, DIV)                  \
  ROWOPS_ELEMENTWISE(subtract, SUFFIX, TARGET, VEC, W, SET1, LOAD, STORE, SUB)                \
  TARGET void sub_divide_##SUFFIX(double* row, std::size_t n, double m, double d) {           \
    const VEC mv = SET1(m), dv = SET1(d);                                                     \
    std::size_t j = 0;                                                                        \
    for (; j + W <= n; j += W) STORE(row + j, DIV(SUB(LOAD(row + j), mv), dv));               \
    sub_divide_plain(row + j, n - j, m, d);                                                   \
  }                                                                                           \
  ROWOPS_ROWS(subtract_rows_##SUFFIX, subtract_##SUFFIX, TARGET)                              \
  ROWOPS_ROWS(divide_rows_##SUFFIX, divide_##SUFFIX, TARGET)

ROWOPS_BODIES(sse2, , __m128d, 2, _mm_set1_pd, _mm_loadu_pd, _mm_storeu_pd, _mm_sub_pd, _mm_div_pd)
ROWOPS_BODIES(avx, [[gnu::target("avx")]], __m256d, 4, _mm256_set1_pd, _mm256_loadu_pd,
              _mm256_storeu_pd, _mm256_sub_pd, _mm256_div_pd)
ROWOPS_BODIES(avx512, [[gnu::target("avx512f")]], __m512d, 8, _mm512_set1_pd, _mm512_loadu_pd,
              _mm512_storeu_pd, _mm512_sub_pd, _mm512_div_pd)
#undef ROWOPS_BODIES
#undef ROWOPS_ELEMENTWISE
#endif
#undef ROWOPS_ROWS

struct Ops {
  void (*divide)(const double*, double*, std::size_t, double);
  void (*sub_divide)(double*, std::size_t, double, double);
  void (*subtract_rows)(const double*, std::size_t, double*, std::size_t, std::size_t,
                        std::size_t, const double*);
  void (*divide_rows)(const double*, std::size_t, double*, std::size_t, std::size_t,
                      std::size_t, const double*);
};

const Ops* ops_at(unsigned bytes) {
  static constexpr Ops plain{divide_plain, sub_divide_plain, subtract_rows_plain,
                             divide_rows_plain};
  if (bytes == 0) return &plain;
#ifdef METHPCA_ROWOPS_SIMD
  static constexpr Ops sse2{divide_sse2, sub_divide_sse2, subtract_rows_sse2, divide_rows_sse2},
      avx{divide_avx, sub_divide_avx, subtract_rows_avx, divide_rows_avx},
      avx512{divide_avx512, sub_divide_avx512, subtract_rows_avx512, divide_rows_avx512};
  switch (bytes) {
    case 16: return &sse2;
    case 32: return __builtin_cpu_supports("avx") ? &avx : nullptr;
    case 64: return __builtin_cpu_supports("avx512f") ? &avx512 : nullptr;
  }
#endif
  return nullptr;
}

const Ops& chosen() {
  static const Ops* const ops = [] {
    for (unsigned b : {64u, 32u, 16u})
      if (const Ops* o = ops_at(b)) return o;
    return ops_at(0);
  }();
  return *ops;
}

}  // namespace

void divide(const double* src, double* dst, std::size_t n, double d) { chosen().divide(src, dst, n, d); }

void sub_divide(double* row, std::size_t n, double m, double d) { chosen().sub_divide(row, n, m, d); }

void subtract_rows(const double* src, std::size_t lds, double* dst, std::size_t ldd,
                   std::size_t rows, std::size_t n, const double* m) {
  chosen().subtract_rows(src, lds, dst, ldd, rows, n, m);
}

void divide_rows(const double* src, std::size_t lds, double* dst, std::size_t ldd,
                 std::size_t rows, std::size_t n, const double* d) {
  chosen().divide_rows(src, lds, dst, ldd, rows, n, d);
}

bool subtract_rows_at(unsigned bytes, const double* src, std::size_t lds, double* dst,
                      std::size_t ldd, std::size_t rows, std::size_t n, const double* m) {
  const Ops* o = ops_at(bytes);
  if (o) o->subtract_rows(src, lds, dst, ldd, rows, n, m);
  return o != nullptr;
}

bool divide_rows_at(unsigned bytes, const double* src, std::size_t lds, double* dst,
                    std::size_t ldd, std::size_t rows, std::size_t n, const double* d) {
  const Ops* o = ops_at(bytes);
  if (o) o->divide_rows(src, lds, dst, ldd, rows, n, d);
  return o != nullptr;
}

bool divide_at(unsigned bytes, const double* src, double* dst, std::size_t n, double d) {
  const Ops* o = ops_at(bytes);
  if (o) o->divide(src, dst, n, d);
  return o != nullptr;
}

bool sub_divide_at(unsigned bytes, double* row, std::size_t n, double m, double d) {
  const Ops* o = ops_at(bytes);
  if (o) o->sub_divide(row, n, m, d);
  return o != nullptr;
}

}  // namespace rowops
