// roadcheck: checks the mathematics of a whole analysis against the raw data.
//
// roadcheck <std|cen> <methylation prefix> <sample list> <first chr> <last chr> <results prefix> <label> <K>
//
// From the methylation files alone it forms Z, the standardized (std) or
// centred (cen) sample-by-site matrix over the chromosomes, and checks
//  1. the eigenvalues in <results prefix><label>_eigenval.csv against those of
//     Z Z^T / (n - 1), found here by Jacobi rotations (independent of LAPACK),
//     and each eigenvector of the eigenvector file against that matrix;
//  2. the loadings of all chromosomes together: unit-length, mutually
//     orthogonal columns, each an eigenvector of Z^T Z / (n - 1) (the sites'
//     correlation or covariance matrix) with its eigenvalue.
// Tolerance 1e-9, relative to the largest eigenvalue for eigenvalues and
// residuals (a relative test is meaningless for the eigenvalues near zero of
// a rank-deficient matrix), relative to 1 for lengths and inner products.
// Exit 0 when every check passes, 1 otherwise; a test tool, so it may use stderr.

#include "linereader.h"
#include "numparse.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double kTol = 1e-9;
int failures = 0;

[[noreturn]] void fatal(const std::string& m) {
  std::fprintf(stderr, "roadcheck: %s\n", m.c_str());
  std::exit(2);
}

std::vector<std::string> lines_of(const std::string& path) {
  LineReader in;
  if (!in.open(path.c_str())) fatal("cannot open " + path);
  std::vector<std::string> out;
  std::string_view l;
  while (in.next(l)) out.emplace_back(l);
  return out;
}

double num_of(std::string_view f) { return num::parse_double(f.data(), f.data() + f.size()); }

// Field i (0-based) of a comma-separated line.
std::string_view field(std::string_view l, size_t i) {
  size_t s = 0;
  for (size_t k = 0; k < i; ++k) {
    size_t c = l.find(',', s);
    if (c == std::string_view::npos) return {};
    s = c + 1;
  }
  size_t e = l.find(',', s);
  return l.substr(s, e == std::string_view::npos ? std::string_view::npos : e - s);
}

void check(bool ok, const std::string& what) {
  if (!ok) {
    ++failures;
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  }
}

// Cyclic Jacobi: a (n x n, row-major, symmetric) is destroyed; values
// descending, vecs[i*n+k] = component i of eigenvector k.
void jacobi(std::vector<double> a, size_t n, std::vector<double>& values, std::vector<double>& vecs) {
  std::vector<double> v(n * n, 0.0);
  for (size_t i = 0; i < n; ++i) v[i * n + i] = 1.0;
  double norm = 0;
  for (double x : a) norm += x * x;
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0;
    for (size_t p = 0; p < n; ++p)
      for (size_t q = p + 1; q < n; ++q) off += a[p * n + q] * a[p * n + q];
    if (off <= 1e-32 * norm) break;
    for (size_t p = 0; p < n; ++p)
      for (size_t q = p + 1; q < n; ++q) {
        double apq = a[p * n + q];
        if (apq == 0.0) continue;
        double theta = (a[q * n + q] - a[p * n + p]) / (2 * apq);
        double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (size_t k = 0; k < n; ++k) {  // A J
          double akp = a[k * n + p], akq = a[k * n + q];
          a[k * n + p] = c * akp - s * akq;
          a[k * n + q] = s * akp + c * akq;
        }
        for (size_t k = 0; k < n; ++k) {  // J^T A
          double apk = a[p * n + k], aqk = a[q * n + k];
          a[p * n + k] = c * apk - s * aqk;
          a[q * n + k] = s * apk + c * aqk;
        }
        for (size_t k = 0; k < n; ++k) {  // V J
          double vkp = v[k * n + p], vkq = v[k * n + q];
          v[k * n + p] = c * vkp - s * vkq;
          v[k * n + q] = s * vkp + c * vkq;
        }
      }
  }
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return a[x * n + x] > a[y * n + y]; });
  values.assign(n, 0);
  vecs.assign(n * n, 0);
  for (size_t k = 0; k < n; ++k) {
    values[k] = a[order[k] * n + order[k]];
    for (size_t i = 0; i < n; ++i) vecs[i * n + k] = v[i * n + order[k]];
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) fatal("usage: roadcheck <std|cen> <meth prefix> <sample list> <first chr> <last chr> <results prefix> <label> <K>");
  const bool standardize = std::string(argv[1]) == "std";
  const std::string meth = argv[2], results = argv[6], label = argv[7];
  const int first = std::atoi(argv[4]), last = std::atoi(argv[5]);
  const size_t K = static_cast<size_t>(std::atoi(argv[8]));
  const std::vector<std::string> names = lines_of(argv[3]);
  const size_t n = names.size();
  if (n < 2) fatal("fewer than two samples");

  // Z: row i = sample i, sites of all chromosomes end to end.
  std::vector<std::vector<double>> x(n);
  for (int chr = first; chr <= last; ++chr) {
    size_t sites = 0;
    for (size_t i = 0; i < n; ++i) {
      std::vector<std::string> l = lines_of(meth + "chr" + std::to_string(chr) + "/" + names[i] + ".csv");
      if (i == 0) sites = l.size() - 1;
      if (l.size() - 1 != sites) fatal("methylation files of chromosome " + std::to_string(chr) + " differ in length");
      for (size_t s = 1; s < l.size(); ++s) x[i].push_back(num_of(field(l[s], 1)));
    }
  }
  const size_t p = x[0].size();
  const double nm1 = static_cast<double>(n - 1);
  size_t constant = 0;
  for (size_t s = 0; s < p; ++s) {
    double mean = 0, var = 0;
    for (size_t i = 0; i < n; ++i) mean += x[i][s];
    mean /= static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) var += (x[i][s] - mean) * (x[i][s] - mean);
    var /= nm1;
    double sd = var > 1e-10 ? std::sqrt(var) : 0.0;
    if (sd == 0.0) ++constant;
    for (size_t i = 0; i < n; ++i) {
      double c = x[i][s] - mean;
      x[i][s] = standardize ? (sd > 1e-10 ? c / sd : 0.0) : c;
    }
  }
  std::printf("roadcheck %s: %zu samples, %zu sites (%zu constant), K = %zu\n", argv[1], n, p, constant, K);

  // 1. Eigenvalues of Z Z^T / (n - 1).
  std::vector<double> g(n * n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) {
      double s = 0;
      for (size_t k = 0; k < p; ++k) s += x[i][k] * x[j][k];
      g[i * n + j] = s / nm1;
    }
  std::vector<double> mu, w;
  jacobi(g, n, mu, w);
  const double scale = mu[0];
  std::vector<std::string> vl = lines_of(results + label + "_eigenval.csv");
  check(vl.size() == n + 1, "eigenvalue file holds " + std::to_string(vl.size() - 1) + " values");
  double worst_val = 0;
  for (size_t k = 0; k < n && k + 1 < vl.size(); ++k)
    worst_val = std::max(worst_val, std::fabs(num_of(vl[k + 1]) - mu[k]) / scale);
  check(worst_val <= kTol, "eigenvalues differ from those of Z Z^T/(n-1)");

  // Each eigenvector of the eigenvector file: unit length and G v = lambda v.
  std::vector<std::string> rl = lines_of(results + label + "_eigenvec.csv");
  check(rl.size() == n + 1, "eigenvector file holds " + std::to_string(rl.size() - 1) + " rows");
  double worst_vec = 0;
  std::vector<double> lam(n);
  for (size_t k = 0; k < n && k + 1 < vl.size(); ++k) lam[k] = num_of(vl[k + 1]);
  for (size_t k = 0; k < n && rl.size() == n + 1; ++k) {
    std::vector<double> v(n);
    double len = 0;
    for (size_t i = 0; i < n; ++i) {
      v[i] = num_of(field(rl[i + 1], k + 1));
      len += v[i] * v[i];
    }
    worst_vec = std::max(worst_vec, std::fabs(std::sqrt(len) - 1));
    for (size_t i = 0; i < n; ++i) {
      double gv = 0;
      for (size_t j = 0; j < n; ++j) gv += g[i * n + j] * v[j];
      worst_vec = std::max(worst_vec, std::fabs(gv - lam[k] * v[i]) / scale);
    }
  }
  check(worst_vec <= kTol, "eigenvectors are not unit eigenvectors of Z Z^T/(n-1)");

  // 2. Loadings of every chromosome, end to end: p rows of K columns.
  std::vector<std::vector<double>> L(K);
  for (int chr = first; chr <= last; ++chr) {
    std::vector<std::string> l = lines_of(results + "loadings/" + label + "_loadings_chr" + std::to_string(chr) + ".csv");
    for (size_t s = 1; s < l.size(); ++s)
      for (size_t k = 0; k < K; ++k) L[k].push_back(num_of(field(l[s], k + 1)));
  }
  check(K > 0 && L[0].size() == p, "loadings files hold " + std::to_string(K ? L[0].size() : 0) + " sites");
  double worst_len = 0, worst_dot = 0, worst_eig = 0;
  for (size_t k = 0; k < K && L[k].size() == p; ++k) {
    for (size_t j = 0; j <= k; ++j) {
      double d = 0;
      for (size_t s = 0; s < p; ++s) d += L[j][s] * L[k][s];
      if (j == k) worst_len = std::max(worst_len, std::fabs(std::sqrt(d) - 1));
      else worst_dot = std::max(worst_dot, std::fabs(d));
    }
    // R L_k = Z^T (Z L_k) / (n - 1), against mu_k L_k.
    std::vector<double> zl(n, 0.0);
    for (size_t i = 0; i < n; ++i)
      for (size_t s = 0; s < p; ++s) zl[i] += x[i][s] * L[k][s];
    double res = 0;
    for (size_t s = 0; s < p; ++s) {
      double r = 0;
      for (size_t i = 0; i < n; ++i) r += x[i][s] * zl[i];
      r = r / nm1 - mu[k] * L[k][s];
      res += r * r;
    }
    worst_eig = std::max(worst_eig, std::sqrt(res) / scale);
  }
  check(worst_len <= kTol, "loadings columns are not of unit length");
  check(worst_dot <= kTol, "loadings columns are not orthogonal");
  check(worst_eig <= kTol, "loadings columns are not eigenvectors of the sites' matrix");
  std::printf("  largest eigenvalue %.6g; worst errors: eigenvalues %.2e, eigenvectors %.2e, "
              "loadings length %.2e, orthogonality %.2e, eigen-equation %.2e (limit %.0e)\n",
              scale, worst_val, worst_vec, worst_len, worst_dot, worst_eig, kTol);
  std::printf("%s\n", failures ? "FAILED" : "passed");
  return failures ? 1 : 0;
}
