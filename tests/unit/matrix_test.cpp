#include "matrix.h"

#include <gtest/gtest.h>

TEST(SizeMatrix, ResizesAndZeroesWhateverWasThere) {
  Matrix m;
  sizeMatrix(m, 3, 4);
  m[2][3] = 7.0;
  m[0][0] = -1.0;
  sizeMatrix(m, 2, 5);
  ASSERT_EQ(m.rows(), 2u);
  ASSERT_EQ(m.cols(), 5u);
  for (size_t r = 0; r < 2; ++r)
    for (size_t c = 0; c < 5; ++c) EXPECT_EQ(m[r][c], 0.0);
  m[1][4] = 3.0;
  EXPECT_EQ(m.cells[9], 3.0);  // row-major, rows end to end
  sizeMatrix(m, 0, 3);
  EXPECT_EQ(m.rows(), 0u);
  EXPECT_TRUE(m.cells.empty());
}
