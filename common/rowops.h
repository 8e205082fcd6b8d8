// Element-wise row operations of the centring and standardizing steps, with
// one IEEE subtraction and one IEEE division per element, as the plain loops
// do them, several elements per instruction where the processor has wide
// vectors (the widest it has is chosen on first use). Results equal the
// plain loops bit for bit: a vector lane is one element, and nothing is fused
// or reordered.
#pragma once

#include <cstddef>

namespace rowops {

// dst[j] = src[j] / d for j < n; dst may be src.
void divide(const double* src, double* dst, std::size_t n, double d);

// row[j] = (row[j] - m) / d for j < n.
void sub_divide(double* row, std::size_t n, double m, double d);

// Row by row, each row r with its own operand: dst[r*ldd + j] =
// src[r*lds + j] - m[r] (subtract_rows) or / d[r] (divide_rows), r < rows,
// j < n.
void subtract_rows(const double* src, std::size_t lds, double* dst, std::size_t ldd,
                   std::size_t rows, std::size_t n, const double* m);
void divide_rows(const double* src, std::size_t lds, double* dst, std::size_t ldd,
                 std::size_t rows, std::size_t n, const double* d);

// The same at one vector width (16, 32 or 64 bytes), for tests: false where
// the processor lacks it. Width 0 is the plain loop.
bool divide_at(unsigned bytes, const double* src, double* dst, std::size_t n, double d);
bool sub_divide_at(unsigned bytes, double* row, std::size_t n, double m, double d);
bool subtract_rows_at(unsigned bytes, const double* src, std::size_t lds, double* dst,
                      std::size_t ldd, std::size_t rows, std::size_t n, const double* m);
bool divide_rows_at(unsigned bytes, const double* src, std::size_t lds, double* dst,
                    std::size_t ldd, std::size_t rows, std::size_t n, const double* d);

}  // namespace rowops
