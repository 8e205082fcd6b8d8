// The dense matrix of doubles shared by the programs: row-major, addressed row
// first, then column (m[r][c]). Rows lie end to end in one allocation so that
// kernels can stream them.
#pragma once

#include <cstddef>
#include <vector>

struct Matrix {
  std::vector<double> cells;
  size_t n_rows = 0;
  size_t n_cols = 0;

  double* operator[](size_t r) { return cells.data() + r * n_cols; }
  const double* operator[](size_t r) const { return cells.data() + r * n_cols; }
  size_t rows() const { return n_rows; }
  size_t cols() const { return n_cols; }
};

// Empties `m` and gives it `rows` x `cols` cells, every one 0.0. Negative
// counts are taken as 0.
void sizeMatrix(Matrix& m, long rows, long cols);
