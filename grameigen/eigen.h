// Eigen-decomposition of the assembled symmetric matrix through LAPACK.
#pragma once

#include "matrix.h"

#include <string>
#include <vector>

namespace ge {

// All eigenpairs of the symmetric n x n matrix `a` (LAPACK dsyevr). `values`
// come in descending order; column k of `vecs` (vecs[i][k], i the sample) is
// the unit eigenvector of values[k], its sign fixed so that its entry of
// largest magnitude (the first such entry on a tie) is positive.
bool sym_eigen(const Matrix& a, std::vector<double>& values, Matrix& vecs, std::string& err);

// Refuses a result whose shares of the variance cannot be told: an
// eigenvalue or an eigenvector entry that is not finite, no positive
// eigenvalue (all-zero blocks, say), or a sum of the eigenvalues (the total
// variance, the divisor of every share) that is not finite and positive.
bool check_result(const std::vector<double>& values, const Matrix& vecs, std::string& err);

// The share of the total variance `total` held by eigenvalue `v`, in percent.
double share(double v, double total);

// The sign rule above, applied to every column of `vecs`.
void fix_signs(Matrix& vecs);

}  // namespace ge
