#include "outliers.h"

#include "numformat.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

namespace ge {

std::string component_range(size_t components) {
  return components == 1 ? "PC1" : "PC1-PC" + std::to_string(components);
}

size_t outlier_components(const std::vector<double>& values, size_t n, const OutlierRule& rule) {
  size_t k = 0;
  const size_t want = rule.components > 0 ? static_cast<size_t>(rule.components) : 0;
  const double zero = values.empty() ? 0 : static_cast<double>(n) * DBL_EPSILON * values[0];
  while (k < want && k < n && k < values.size() && values[k] > 0 && values[k] > zero) ++k;
  return k;
}

std::vector<Outlier> find_outliers(const std::vector<double>& values, const Matrix& vecs, const OutlierRule& rule) {
  const size_t n = vecs.rows();
  const size_t comps = std::min(outlier_components(values, n, rule), vecs.cols());
  std::vector<Outlier> found;
  std::vector<char> flagged(n, 0);
  size_t m = n;
  for (int round = 1; m >= 2; ++round) {
    // Per sample, the component of its largest deviation beyond the rule.
    std::vector<size_t> comp(n, comps);
    std::vector<double> dev(n, 0.0);
    for (size_t k = 0; k < comps; ++k) {
      double sum = 0;
      for (size_t i = 0; i < n; ++i)
        if (!flagged[i]) sum += vecs[i][k];
      const double mean = sum / static_cast<double>(m);
      double ss = 0;
      for (size_t i = 0; i < n; ++i)
        if (!flagged[i]) ss += (vecs[i][k] - mean) * (vecs[i][k] - mean);
      const double sd = std::sqrt(ss / static_cast<double>(m - 1));
      if (!(sd > 0)) continue;
      for (size_t i = 0; i < n; ++i) {
        if (flagged[i]) continue;
        const double d = (vecs[i][k] - mean) / sd;
        if (std::fabs(d) > rule.sd && (comp[i] == comps || std::fabs(d) > std::fabs(dev[i]))) {
          comp[i] = k;
          dev[i] = d;
        }
      }
    }
    size_t now = 0;
    for (size_t i = 0; i < n; ++i)
      if (comp[i] < comps) {
        found.push_back({i, comp[i], dev[i], round});
        ++now;
      }
    if (now == 0) break;
    for (size_t i = 0; i < n; ++i)
      if (comp[i] < comps) flagged[i] = 1;
    m -= now;
  }
  return found;
}

std::string outliers_csv(const std::vector<std::string>& names, const std::vector<Outlier>& found) {
  std::string s = "sample,component,deviation,round\n";
  char buf[num::kFormatBuf];
  for (const Outlier& o : found) {
    s += '"' + names[o.sample] + "\"," + std::to_string(o.component + 1) + ',';
    s.append(buf, num::format_g17(buf, o.deviation));
    s += ',' + std::to_string(o.round) + '\n';
  }
  return s;
}

std::string outliers_report(const std::vector<std::string>& names, const std::vector<Outlier>& found,
                            const OutlierRule& rule, size_t components) {
  if (found.empty()) return {};
  char buf[512];
  std::snprintf(buf, sizeof buf, "outliers beyond %g SD on any of %s, in rounds: %zu\n", rule.sd,
                component_range(components).c_str(), found.size());
  std::string s = buf;
  for (const Outlier& o : found) {
    std::snprintf(buf, sizeof buf, "  round %-3d PC%-3zu %+9.2f SD  ", o.round, o.component + 1, o.deviation);
    s += buf + names[o.sample] + "\n";
  }
  return s;
}

}  // namespace ge
