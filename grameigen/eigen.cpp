#include "eigen.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <new>

// LAPACK's symmetric eigensolver (relatively robust representations), Fortran
// calling convention: everything by pointer, column-major arrays, and one
// hidden length argument per character argument.
extern "C" void dsyevr_(const char* jobz, const char* range, const char* uplo, const int* n, double* a,
                        const int* lda, const double* vl, const double* vu, const int* il, const int* iu,
                        const double* abstol, int* m, double* w, double* z, const int* ldz, int* isuppz,
                        double* work, const int* lwork, int* iwork, const int* liwork, int* info, size_t,
                        size_t, size_t);
extern "C" double dlamch_(const char* cmach, size_t);

namespace ge {

void fix_signs(Matrix& vecs) {
  const size_t n = vecs.rows();
  for (size_t k = 0; k < vecs.cols(); ++k) {
    size_t best = 0;
    for (size_t i = 1; i < n; ++i)
      if (std::fabs(vecs[i][k]) > std::fabs(vecs[best][k])) best = i;
    if (n > 0 && vecs[best][k] < 0)
      for (size_t i = 0; i < n; ++i) vecs[i][k] = -vecs[i][k];
  }
}

namespace {

std::string g6(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

bool decompose(const Matrix& a, std::vector<double>& values, Matrix& vecs, std::string& err) {
  if (a.rows() != a.cols() || a.rows() == 0 || a.rows() > 46340) {
    err = "the matrix to decompose must be square with 1 to 46340 rows";
    return false;
  }
  for (size_t i = 0; i < a.cells.size(); ++i)
    if (!std::isfinite(a.cells[i])) {
      err = "the assembled matrix holds a value that is not finite (row " + std::to_string(i / a.cols() + 1) +
            ", column " + std::to_string(i % a.cols() + 1) + "): the sum of the blocks overflows";
      return false;
    }
  const int n = static_cast<int>(a.rows());
  // Symmetric: the row-major cells read as column-major are the same matrix.
  std::vector<double> work_a(a.cells);
  std::vector<double> w(n), z(static_cast<size_t>(n) * n);
  std::vector<int> isuppz(2 * static_cast<size_t>(n));
  const double vl = 0, vu = 0, abstol = dlamch_("S", 1);
  const int il = 0, iu = 0;
  int m = 0, info = 0;
  int lwork = -1, liwork = -1, iwork_query = 0;
  double work_query = 0;
  dsyevr_("V", "A", "L", &n, work_a.data(), &n, &vl, &vu, &il, &iu, &abstol, &m, w.data(), z.data(), &n,
          isuppz.data(), &work_query, &lwork, &iwork_query, &liwork, &info, 1, 1, 1);
  if (info != 0) {
    err = "LAPACK dsyevr workspace query failed (info " + std::to_string(info) + ")";
    return false;
  }
  lwork = static_cast<int>(work_query);
  liwork = iwork_query;
  std::vector<double> work(static_cast<size_t>(lwork));
  std::vector<int> iwork(static_cast<size_t>(liwork));
  dsyevr_("V", "A", "L", &n, work_a.data(), &n, &vl, &vu, &il, &iu, &abstol, &m, w.data(), z.data(), &n,
          isuppz.data(), work.data(), &lwork, iwork.data(), &liwork, &info, 1, 1, 1);
  if (info != 0 || m != n) {
    err = "LAPACK dsyevr failed to decompose the matrix (info " + std::to_string(info) + ")";
    return false;
  }
  // LAPACK gives ascending order, eigenvector k in column k of z.
  values.assign(static_cast<size_t>(n), 0.0);
  sizeMatrix(vecs, n, n);
  for (int k = 0; k < n; ++k) {
    const int src = n - 1 - k;
    values[k] = w[src];
    for (int i = 0; i < n; ++i) vecs[i][k] = z[static_cast<size_t>(src) * n + i];
  }
  fix_signs(vecs);
  return true;
}

}  // namespace

bool sym_eigen(const Matrix& a, std::vector<double>& values, Matrix& vecs, std::string& err) {
  try {
    return decompose(a, values, vecs, err);
  } catch (const std::bad_alloc&) {
    values = {};
    vecs = Matrix();
    err = "out of memory for the eigen-decomposition of the " + std::to_string(a.rows()) + " x " +
          std::to_string(a.rows()) + " matrix";
    return false;
  }
}

bool check_result(const std::vector<double>& values, const Matrix& vecs, std::string& err) {
  for (size_t k = 0; k < values.size(); ++k)
    if (!std::isfinite(values[k])) {
      err = "the eigen-decomposition gives eigenvalue " + std::to_string(k + 1) + " as " + g6(values[k]) +
            ": the matrix is too large in magnitude to decompose";
      return false;
    }
  for (size_t i = 0; i < vecs.cells.size(); ++i)
    if (!std::isfinite(vecs.cells[i])) {
      err = "the eigen-decomposition gives a value that is not finite in eigenvector " +
            std::to_string(i % vecs.cols() + 1);
      return false;
    }
  if (values.empty() || !(values[0] > 0)) {
    err = "the matrix has no positive eigenvalue (the largest is " +
          (values.empty() ? std::string("missing") : g6(values[0])) + "): " +
          (!values.empty() && values[0] == 0 ? "the blocks hold no variance (all zero, say, from a run of no chromosomes)"
                                              : "the matrix is not an inner-product matrix");
    return false;
  }
  double total = 0;
  for (double v : values) total += v;
  if (!std::isfinite(total) || !(total > 0)) {
    err = "the sum of the eigenvalues (the total variance) is " + g6(total) +
          (std::isfinite(total) ? ", not positive: the matrix is not an inner-product matrix"
                                : ": too large to give each component's share");
    return false;
  }
  return true;
}

double share(double v, double total) {
  const double p = 100.0 * v / total;
  return std::isfinite(p) ? p : v / total * 100.0;  // 100 v overflows near the largest double
}

}  // namespace ge
