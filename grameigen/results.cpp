#include "results.h"

#include "eigen.h"
#include "numformat.h"

#include <cstdio>

namespace ge {

namespace {

void put_g17(std::string& s, double v) {
  char buf[num::kFormatBuf];
  s.append(buf, num::format_g17(buf, v));
}

}  // namespace

std::string eigenval_text(const std::vector<double>& values) {
  std::string s = "eigenvalue\n";
  for (double v : values) {
    put_g17(s, v);
    s += '\n';
  }
  return s;
}

std::string eigenvec_text(const std::vector<std::string>& names, const Matrix& vecs) {
  std::string s = "\"\"";
  for (size_t k = 0; k < vecs.cols(); ++k) s += ",\"PC" + std::to_string(k + 1) + "\"";
  s += '\n';
  for (size_t i = 0; i < vecs.rows(); ++i) {
    s += '"';
    s += names[i];
    s += '"';
    for (size_t k = 0; k < vecs.cols(); ++k) {
      s += ',';
      put_g17(s, vecs[i][k]);
    }
    s += '\n';
  }
  return s;
}

std::string summary_text(long n, const std::vector<BlockFile>& used, const std::vector<double>& values,
                         size_t leading) {
  std::string s = "samples: " + std::to_string(n) + "\nblock files used: " + std::to_string(used.size()) + "\n";
  for (const BlockFile& b : used) s += "  " + b.path + "\n";
  double total = 0.0;
  for (double v : values) total += v;
  s += "leading eigenvalues (share of the total variance " ;
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.6g", total);
  s += buf;
  s += "):\n";
  double cumulative = 0.0;
  for (size_t k = 0; k < values.size() && k < leading; ++k) {
    double pct = total > 0 ? share(values[k], total) : 0.0;
    cumulative += pct;
    std::snprintf(buf, sizeof buf, "  PC%-3zu %14.6g  %6.2f%%  (cumulative %6.2f%%)\n", k + 1, values[k], pct,
                  cumulative);
    s += buf;
  }
  return s;
}

}  // namespace ge
