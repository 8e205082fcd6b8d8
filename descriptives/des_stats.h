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

}  // namespace des
