// The arithmetic of one site of the descriptives file and the file's lines,
// shared by descriptives and fullgram so both write the same bytes.
#pragma once

#include "numformat.h"
#include "numparse.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace des {

// Mean of v[0..n) (a sum in order, divided by n) and sample SD (squared
// deviations summed in order, divided by n - 1; 0 unless that variance is
// above 1e-10, which also makes a single sample's SD 0).
inline void site_stats(const double* v, size_t n, double& mean, double& sd) {
  double sum = 0.0;
  for (size_t j = 0; j < n; ++j) sum += v[j];
  mean = sum / static_cast<double>(n);
  double ss = 0.0;
  for (size_t j = 0; j < n; ++j) {
    const double d = v[j] - mean;
    ss += d * d;
  }
  const double var = ss / static_cast<double>(n - 1);
  sd = var > 1e-10 ? std::sqrt(var) : 0.0;
}

// site_stats for `rows` sites, site k's n values at v[k * n]. Four sites are
// summed side by side, each in its own order, so the four chains of additions
// overlap; every site gets exactly site_stats' value.
inline void site_stats_rows(const double* v, size_t n, size_t rows, double* mean, double* sd) {
  size_t k = 0;
  for (; k + 4 <= rows; k += 4) {
    const double* a = v + k * n;
    const double* b = a + n;
    const double* c = b + n;
    const double* d = c + n;
    double sa = 0.0, sb = 0.0, sc = 0.0, sd4 = 0.0;
    for (size_t j = 0; j < n; ++j) {
      sa += a[j];
      sb += b[j];
      sc += c[j];
      sd4 += d[j];
    }
    const double dn = static_cast<double>(n);
    const double ma = sa / dn, mb = sb / dn, mc = sc / dn, md = sd4 / dn;
    double qa = 0.0, qb = 0.0, qc = 0.0, qd = 0.0;
    for (size_t j = 0; j < n; ++j) {
      const double da = a[j] - ma, db = b[j] - mb, dc = c[j] - mc, dd = d[j] - md;
      qa += da * da;
      qb += db * db;
      qc += dc * dc;
      qd += dd * dd;
    }
    const double dn1 = static_cast<double>(n - 1);
    const double q[4] = {qa / dn1, qb / dn1, qc / dn1, qd / dn1};
    const double m[4] = {ma, mb, mc, md};
    for (int i = 0; i < 4; ++i) {
      mean[k + i] = m[i];
      sd[k + i] = q[i] > 1e-10 ? std::sqrt(q[i]) : 0.0;
    }
  }
  for (; k < rows; ++k) site_stats(v + k * n, n, mean[k], sd[k]);
}

// Field 1 of a coverage-file line, as atoi reads it: the site's coordinate.
inline int line_coord(std::string_view line) {
  const char* b = line.data();
  const void* c = std::memchr(b, ',', line.size());
  return num::parse_int(b, c ? static_cast<const char*>(c) : b + line.size());
}

// Room for one line of the file.
constexpr size_t kLineBuf = 16 + 2 * num::kFormatBuf;

// "<coord>,<mean>,<SD>\n" (mean and SD as %.15g) into buf; returns its length.
inline size_t format_line(char* buf, int coord, double mean, double sd) {
  char* p = std::to_chars(buf, buf + 16, coord).ptr;
  *p++ = ',';
  p += num::format_g15(p, mean);
  *p++ = ',';
  p += num::format_g15(p, sd);
  *p++ = '\n';
  return static_cast<size_t>(p - buf);
}

// format_line, and the mean and SD as read back from the line's text (what
// a program reading the descriptives file gets).
inline size_t format_line(char* buf, int coord, double mean, double sd, double& mean_read,
                          double& sd_read) {
  char* p = std::to_chars(buf, buf + 16, coord).ptr;
  *p++ = ',';
  const size_t lm = num::format_g15(p, mean);
  mean_read = num::parse_double(p, p + lm);
  p += lm;
  *p++ = ',';
  const size_t ls = num::format_g15(p, sd);
  sd_read = num::parse_double(p, p + ls);
  p += ls;
  *p++ = '\n';
  return static_cast<size_t>(p - buf);
}

}  // namespace des
