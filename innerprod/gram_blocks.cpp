#include "gram_blocks.h"

#include "rowops.h"

#include <algorithm>
#include <vector>

namespace gram {

size_t chunk_sites(size_t width) {
  size_t per_site = std::max<size_t>(width, 1) * sizeof(double);
  return std::max<size_t>(kPanelBytes / per_site, kMinChunkSites);
}

void centre(double* p, size_t ld, size_t width, size_t n, const double* mean) {
  for (size_t k = 0; k < n; ++k) {
    double* row = p + k * ld;
    const double mk = mean[k];
    for (size_t j = 0; j < width; ++j) row[j] = row[j] - mk;
  }
}

void standardize(const double* c, size_t ldc, size_t width, size_t n, const double* sd, double* z,
                 size_t ldz) {
  for (size_t k = 0; k < n; ++k) {
    const double* ck = c + k * ldc;
    double* zk = z + k * ldz;
    const double sk = sd[k];
    if (sd_is_zero(sk)) {
      std::fill(zk, zk + width, 0.0);
    } else {
      rowops::divide(ck, zk, width, sk);
    }
  }
}

namespace {

// Centred and standardized values of n sites in the fast kernel's packed
// layout (see accumulate_lower_packed), one column panel at a time: c = x -
// mean, z = c / sd, or 0 where the SD is zero, the same operations as
// centre() and standardize(); padding columns 0. `div` is scratch for n
// divisors.
void centre_standardize_packed(const double* x, size_t ld, size_t m, size_t n, const double* mean,
                               const double* sd, size_t pw, double* c, double* z, double* div) {
  bool any_zero = false;
  for (size_t k = 0; k < n; ++k) {
    const bool zero = sd_is_zero(sd[k]);
    div[k] = zero ? 1.0 : sd[k];  // rows of zero SD are overwritten below
    any_zero |= zero;
  }
  // A few sites at a time, so their rows of x stay in L1 across the panels.
  constexpr size_t kSites = 16;
  for (size_t k0 = 0; k0 < n; k0 += kSites) {
    const size_t kn = n - k0 < kSites ? n - k0 : kSites;
    for (size_t j0 = 0; j0 < m; j0 += pw) {
      const size_t cols = m - j0 < pw ? m - j0 : pw;
      double* cp = c + j0 * n + k0 * pw;  // panel j0 / pw starts at (j0 / pw) * pw * n
      double* zp = z + j0 * n + k0 * pw;
      rowops::subtract_rows(x + k0 * ld + j0, ld, cp, pw, kn, cols, mean + k0);
      if (cols < pw)
        for (size_t k = 0; k < kn; ++k) std::fill(cp + k * pw + cols, cp + (k + 1) * pw, 0.0);
      rowops::divide_rows(cp, pw, zp, pw, kn, pw, div + k0);  // 0 / sd = 0 in the padding
      if (any_zero)
        for (size_t k = 0; k < kn; ++k)
          if (sd_is_zero(sd[k0 + k])) std::fill(zp + k * pw, zp + (k + 1) * pw, 0.0);
    }
  }
}

}  // namespace

void self_chunk(double* x, size_t ld, size_t n, const double* mean, const double* sd, Matrix& C,
                Matrix& S, double* z, AccumulateFn acc) {
  const size_t m = C.cols();
  if (m == 0 || n == 0) return;
  if (acc == accumulate) {
    // The fast kernel reads the values from its packed layout, written here
    // once instead of copied into it on every call.
    const size_t pw = lower_panel_width(), len = (m + pw - 1) / pw * pw * n;
    thread_local std::vector<double> cp, zp, div;
    if (cp.size() < len) {
      cp.resize(len);
      zp.resize(len);
    }
    if (div.size() < n) div.resize(n);
    centre_standardize_packed(x, ld, m, n, mean, sd, pw, cp.data(), zp.data(), div.data());
    accumulate_lower_packed(cp.data(), n, m, C[0], C.cols());
    accumulate_lower_packed(zp.data(), n, m, S[0], S.cols());
    return;
  }
  centre(x, ld, m, n, mean);
  standardize(x, ld, m, n, sd, z, m);
  acc(x, ld, x, ld, n, m, m, C[0], C.cols(), true);
  acc(z, m, z, m, n, m, m, S[0], S.cols(), true);
}

void self_accumulate(Matrix& data, const double* mean, const double* sd, size_t n_sites,
                     Matrix& C, Matrix& S, size_t chunk, AccumulateFn acc) {
  const size_t m = data.cols();
  if (m == 0 || n_sites == 0) return;
  chunk = std::max<size_t>(chunk, 1);
  std::vector<double> z(std::min(chunk, n_sites) * m);
  for (size_t k0 = 0; k0 < n_sites; k0 += chunk) {
    const size_t n = std::min(chunk, n_sites - k0);
    self_chunk(data[k0], m, n, mean + k0, sd + k0, C, S, z.data(), acc);
  }
}

void cross_panel_chunk(double* p, size_t ld, size_t width, size_t n, size_t xo, size_t yo,
                       const double* mean, const double* sd, Matrix& C, Matrix& S, double* z,
                       AccumulateFn acc) {
  const size_t m = C.rows(), w = C.cols();
  if (m == 0 || w == 0 || n == 0) return;
  centre(p, ld, width, n, mean);
  standardize(p, ld, width, n, sd, z, ld);
  acc(p + xo, ld, p + yo, ld, n, m, w, C[0], C.cols(), false);
  acc(z + xo, ld, z + yo, ld, n, m, w, S[0], S.cols(), false);
}

void cross_chunk(double* x, size_t ldx, double* y, size_t ldy, size_t n, const double* mean,
                 const double* sd, Matrix& C, Matrix& S, std::vector<double>& zx,
                 std::vector<double>& zy, AccumulateFn acc) {
  const size_t m = C.rows(), w = C.cols();
  if (m == 0 || w == 0 || n == 0) return;
  centre(x, ldx, m, n, mean);
  centre(y, ldy, w, n, mean);
  if (zx.size() < n * m) zx.resize(n * m);
  if (zy.size() < n * w) zy.resize(n * w);
  standardize(x, ldx, m, n, sd, zx.data(), m);
  standardize(y, ldy, w, n, sd, zy.data(), w);
  // acc[i][j] += x[k][i] * y[k][j]: row value times column value, which is
  // the column value times the row value bit for bit.
  acc(x, ldx, y, ldy, n, m, w, C[0], C.cols(), false);
  acc(zx.data(), m, zy.data(), w, n, m, w, S[0], S.cols(), false);
}

void mirror_lower(Matrix& m) {
  const size_t n = m.rows();
  for (size_t j = 1; j < n; ++j)
    for (size_t i = 0; i < j; ++i) m[i][j] = m[j][i];
}

}  // namespace gram
