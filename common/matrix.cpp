#include "matrix.h"

void sizeMatrix(Matrix& m, long rows, long cols) {
  if (rows < 0) rows = 0;
  if (cols < 0) cols = 0;
  m.cells.clear();
  m.cells.shrink_to_fit();
  m.n_rows = static_cast<size_t>(rows);
  m.n_cols = static_cast<size_t>(cols);
  m.cells.assign(m.n_rows * m.n_cols, 0.0);
}
