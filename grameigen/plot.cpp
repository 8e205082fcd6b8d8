#include "plot.h"

#include "eigen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ge {

namespace {

const char* const kPalette[] = {"#1f6fb4", "#d0312d", "#2e9e44", "#f28e1c", "#8a5fbf",
                                "#8c564b", "#d9489e", "#17a8b8", "#a5a31a", "#555555"};
const char* const kNoGroup = "#9a9a9a";
const char* const kOutlier = "#c00000";

std::string esc(const std::string& s) {
  std::string o;
  for (char c : s) {
    switch (c) {
      case '&': o += "&amp;"; break;
      case '<': o += "&lt;"; break;
      case '>': o += "&gt;"; break;
      case '"': o += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') o += c;  // XML forbids other controls
    }
  }
  return o;
}

std::string fmt(const char* f, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

std::string tick_label(double v, double step) {
  if (v == 0 || std::fabs(v) < step * 1e-9) return "0";
  int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  if (decimals > 6 || std::fabs(v) >= 1e6) return fmt("%.3g", v);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

struct Axis {
  double lo, hi;    // data range
  double p0, p1;    // pixel range
  double at(double v) const { return hi == lo ? (p0 + p1) / 2 : p0 + (v - lo) / (hi - lo) * (p1 - p0); }
};

// The plot area's background and border.
std::string frame(double x0, double y0, double x1, double y1) {
  return "<rect x=\"" + fmt("%g", x0) + "\" y=\"" + fmt("%g", y0) + "\" width=\"" + fmt("%g", x1 - x0) +
         "\" height=\"" + fmt("%g", y1 - y0) + "\" fill=\"#fbfbfb\" stroke=\"#444\"/>\n";
}

// A horizontal grid line from x0 to x1 at each tick of the y axis, its label
// left of x0 (labels rounded to the tick spacing).
std::string y_grid(const Axis& ay, const std::vector<double>& ticks, double x0, double x1) {
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  std::string s;
  for (double v : ticks) {
    std::string py = fmt("%.2f", ay.at(v));
    s += "<line x1=\"" + fmt("%g", x0) + "\" y1=\"" + py + "\" x2=\"" + fmt("%g", x1) + "\" y2=\"" + py +
         "\" stroke=\"#e2e2e2\"/>\n";
    s += "<text x=\"" + fmt("%g", x0 - 6) + "\" y=\"" + py + "\" dy=\"4\" font-size=\"11\" text-anchor=\"end\">" +
         tick_label(v, step) + "</text>\n";
  }
  return s;
}

}  // namespace

std::vector<double> nice_ticks(double lo, double hi, int want) {
  std::vector<double> t;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return t;
  double raw = (hi - lo) / std::max(1, want);
  double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * mag >= raw) { step = m * mag; break; }
  for (double v = std::ceil(lo / step - 1e-9) * step; v <= hi + step * 1e-9; v += step) t.push_back(v);
  return t;
}

std::string pca_svg(const std::string& title, const std::vector<std::string>& names,
                    const std::vector<std::string>& groups, const std::vector<double>& values, const Matrix& vecs,
                    const std::vector<int>& rounds, const std::string& outlier_note) {
  const size_t n = vecs.rows();
  const double W = 1120, H = 560;
  std::string s;
  s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1120\" height=\"560\" viewBox=\"0 0 1120 560\" "
       "font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n";
  s += "<rect x=\"0\" y=\"0\" width=\"" + fmt("%g", W) + "\" height=\"" + fmt("%g", H) + "\" fill=\"white\"/>\n";
  s += "<text x=\"560\" y=\"28\" font-size=\"18\" text-anchor=\"middle\" font-weight=\"bold\">" + esc(title) +
       "</text>\n";

  double total = 0;
  for (double v : values) total += v;
  auto pct = [&](size_t k) { return total > 0 && k < values.size() ? share(values[k], total) : 0.0; };

  // Groups in order of first appearance, each with its colour.
  std::vector<std::string> order;
  for (const std::string& g : groups)
    if (!g.empty() && std::find(order.begin(), order.end(), g) == order.end()) order.push_back(g);
  // Legend in natural order: numbers by value, then names.
  std::stable_sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
    char* ea;
    char* eb;
    double va = std::strtod(a.c_str(), &ea), vb = std::strtod(b.c_str(), &eb);
    bool na = *ea == '\0', nb = *eb == '\0';
    if (na && nb) return va < vb;
    if (na != nb) return na;
    return a < b;
  });
  auto colour = [&](size_t i) -> std::string {
    if (groups.empty()) return kPalette[0];
    if (groups[i].empty()) return kNoGroup;
    size_t k = static_cast<size_t>(std::find(order.begin(), order.end(), groups[i]) - order.begin());
    return kPalette[k % (sizeof kPalette / sizeof kPalette[0])];
  };

  // --- Scatter: PC1 (x) against PC2 (y).
  double x0 = 80, x1 = 600, y0 = 60, y1 = 490;
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
  for (size_t i = 0; i < n; ++i) {
    xmin = std::min(xmin, vecs[i][0]); xmax = std::max(xmax, vecs[i][0]);
    ymin = std::min(ymin, vecs[i][1]); ymax = std::max(ymax, vecs[i][1]);
  }
  double padx = (xmax - xmin) * 0.08 + 1e-12, pady = (ymax - ymin) * 0.08 + 1e-12;
  Axis ax{xmin - padx, xmax + padx, x0, x1}, ay{ymin - pady, ymax + pady, y1, y0};
  s += "<g id=\"scatter\">\n";
  s += frame(x0, y0, x1, y1);
  std::vector<double> tx = nice_ticks(ax.lo, ax.hi, 6), ty = nice_ticks(ay.lo, ay.hi, 6);
  double stx = tx.size() > 1 ? tx[1] - tx[0] : 1;
  for (double v : tx) {
    std::string px = fmt("%.2f", ax.at(v));
    s += "<line x1=\"" + px + "\" y1=\"" + fmt("%g", y0) + "\" x2=\"" + px + "\" y2=\"" + fmt("%g", y1) +
         "\" stroke=\"#e2e2e2\"/>\n";
    s += "<text x=\"" + px + "\" y=\"" + fmt("%g", y1 + 16) + "\" font-size=\"11\" text-anchor=\"middle\">" +
         tick_label(v, stx) + "</text>\n";
  }
  s += y_grid(ay, ty, x0, x1);
  // Zero lines.
  if (ax.lo < 0 && ax.hi > 0)
    s += "<line x1=\"" + fmt("%.2f", ax.at(0)) + "\" y1=\"" + fmt("%g", y0) + "\" x2=\"" + fmt("%.2f", ax.at(0)) +
         "\" y2=\"" + fmt("%g", y1) + "\" stroke=\"#aaa\" stroke-dasharray=\"4 3\"/>\n";
  if (ay.lo < 0 && ay.hi > 0)
    s += "<line x1=\"" + fmt("%g", x0) + "\" y1=\"" + fmt("%.2f", ay.at(0)) + "\" x2=\"" + fmt("%g", x1) +
         "\" y2=\"" + fmt("%.2f", ay.at(0)) + "\" stroke=\"#aaa\" stroke-dasharray=\"4 3\"/>\n";
  s += "<text x=\"" + fmt("%g", (x0 + x1) / 2) + "\" y=\"" + fmt("%g", y1 + 38) +
       "\" font-size=\"13\" text-anchor=\"middle\">PC1 (" + fmt("%.1f", pct(0)) + "%)</text>\n";
  s += "<text transform=\"translate(" + fmt("%g", x0 - 52) + "," + fmt("%g", (y0 + y1) / 2) +
       ") rotate(-90)\" font-size=\"13\" text-anchor=\"middle\">PC2 (" + fmt("%.1f", pct(1)) + "%)</text>\n";
  const double label_size = n <= 40 ? 10 : n <= 150 ? 7.5 : 6;
  for (size_t i = 0; i < n; ++i) {
    std::string px = fmt("%.2f", ax.at(vecs[i][0])), py = fmt("%.2f", ay.at(vecs[i][1]));
    s += "<circle cx=\"" + px + "\" cy=\"" + py + "\" r=\"4\" fill=\"" + colour(i) +
         "\" fill-opacity=\"0.85\" stroke=\"#222\" stroke-width=\"0.6\"><title>" + esc(names[i]) +
         (groups.empty() ? std::string() : " (" + esc(groups[i]) + ")") + "</title></circle>\n";
  }
  auto outlier = [&](size_t i) { return i < rounds.size() && rounds[i] > 0; };
  for (size_t i = 0; i < n; ++i)
    if (outlier(i))
      s += "<circle cx=\"" + fmt("%.2f", ax.at(vecs[i][0])) + "\" cy=\"" + fmt("%.2f", ay.at(vecs[i][1])) +
           "\" r=\"8\" fill=\"none\" stroke=\"" + kOutlier + "\" stroke-width=\"1.8\"><title>" + esc(names[i]) +
           ": outlier, round " + std::to_string(rounds[i]) + "</title></circle>\n";
  // Labels placed greedily, outliers first: beside, left of, above or below
  // the point, and left out where every place is taken (the point keeps its
  // tooltip).
  struct Box { double x0, y0, x1, y1; };
  std::vector<Box> taken;
  for (size_t i = 0; i < n; ++i) {
    double px = ax.at(vecs[i][0]), py = ay.at(vecs[i][1]);
    taken.push_back({px - 4, py - 4, px + 4, py + 4});
  }
  std::vector<size_t> label_order;
  for (int pass = 0; pass < 2; ++pass)
    for (size_t i = 0; i < n; ++i)
      if (outlier(i) == (pass == 0)) label_order.push_back(i);
  size_t hidden = 0;
  for (size_t i : label_order) {
    const double w = 0.6 * label_size * static_cast<double>(std::min<size_t>(names[i].size(), 40)), h = label_size;
    const double px = ax.at(vecs[i][0]), py = ay.at(vecs[i][1]);
    const double gap = outlier(i) ? 4 : 0;  // clear of the ring
    const double tries[4][2] = {{px + 5 + gap, py + h / 2 - 1}, {px - 5 - gap - w, py + h / 2 - 1},
                                {px - w / 2, py - 6 - gap}, {px - w / 2, py + 6 + gap + h}};  // baseline-left corners
    bool placed = false;
    for (const auto& t : tries) {
      Box b{t[0], t[1] - h, t[0] + w, t[1]};
      if (b.x0 < x0 || b.x1 > x1 || b.y0 < y0 || b.y1 > y1) continue;
      bool clash = false;
      for (size_t k = 0; k < taken.size() && !clash; ++k) {
        if (k == i) continue;  // its own point
        clash = b.x0 < taken[k].x1 && taken[k].x0 < b.x1 && b.y0 < taken[k].y1 && taken[k].y0 < b.y1;
      }
      if (clash) continue;
      taken.push_back(b);
      s += "<text x=\"" + fmt("%.2f", t[0]) + "\" y=\"" + fmt("%.2f", t[1]) + "\" font-size=\"" +
           fmt("%g", label_size) + "\" fill=\"" + (outlier(i) ? kOutlier : "#333") + "\">" + esc(names[i]) +
           "</text>\n";
      placed = true;
      break;
    }
    if (!placed) ++hidden;
  }
  if (hidden > 0)
    s += "<text x=\"" + fmt("%g", x1 - 4) + "\" y=\"" + fmt("%g", y1 - 6) +
         "\" font-size=\"10\" fill=\"#777\" text-anchor=\"end\">" + std::to_string(hidden) +
         " labels left out where points crowd (hover a point for its name)</text>\n";
  if (!outlier_note.empty())
    s += "<text x=\"" + fmt("%g", x0) + "\" y=\"" + fmt("%g", y1 + 58) + "\" font-size=\"12\" fill=\"" + kOutlier +
         "\">" + esc(outlier_note) + "</text>\n";
  s += "</g>\n";

  // --- Legend.
  if (!order.empty()) {
    bool any_unknown = std::find(groups.begin(), groups.end(), std::string()) != groups.end();
    double ly = y0 + 4;
    s += "<g id=\"legend\">\n<text x=\"614\" y=\"" + fmt("%g", ly + 8) + "\" font-size=\"12\" font-weight=\"bold\">group</text>\n";
    size_t shown = std::min<size_t>(order.size(), 24);
    for (size_t k = 0; k <= shown; ++k) {
      if (k == shown && !any_unknown) break;
      std::string c = k == shown ? kNoGroup : kPalette[k % (sizeof kPalette / sizeof kPalette[0])];
      std::string label = k == shown ? "(no group)" : order[k];
      if (label.size() > 14) label = label.substr(0, 13) + "~";
      double yy = ly + 26 + 18 * static_cast<double>(k);
      s += "<circle cx=\"620\" cy=\"" + fmt("%g", yy - 4) + "\" r=\"5\" fill=\"" + c + "\" stroke=\"#222\" stroke-width=\"0.6\"/>\n";
      s += "<text x=\"630\" y=\"" + fmt("%g", yy) + "\" font-size=\"12\">" + esc(label) + "</text>\n";
    }
    s += "</g>\n";
  }

  // --- Scree plot of the leading eigenvalues.
  const size_t m = std::min<size_t>(values.size(), 10);
  double sx0 = 790, sx1 = 1090, sy0 = 60, sy1 = 490;
  double vmax = 0;
  for (size_t k = 0; k < m; ++k) vmax = std::max(vmax, values[k]);
  if (!(vmax > 0)) vmax = 1;
  // Headroom above the tallest bar, none where it would overflow.
  const double room = std::isfinite(vmax * 1.12) ? vmax * 1.12 : vmax;
  std::vector<double> tv = nice_ticks(0, room, 5);
  if (!tv.empty() && !std::isfinite(tv.back())) tv.clear();
  double top = tv.empty() ? room : std::max(room, tv.back());
  Axis sy{0, top, sy1, sy0};
  s += "<g id=\"scree\">\n";
  s += frame(sx0, sy0, sx1, sy1);
  s += y_grid(sy, tv, sx0, sx1);
  double slot = (sx1 - sx0) / static_cast<double>(std::max<size_t>(m, 1));
  for (size_t k = 0; k < m; ++k) {
    double v = std::max(0.0, values[k]);
    double bx = sx0 + slot * static_cast<double>(k) + slot * 0.18, bw = slot * 0.64;
    double by = sy.at(v);
    s += "<rect x=\"" + fmt("%.2f", bx) + "\" y=\"" + fmt("%.2f", by) + "\" width=\"" + fmt("%.2f", bw) +
         "\" height=\"" + fmt("%.2f", sy1 - by) + "\" fill=\"#4a7db8\"><title>PC" + std::to_string(k + 1) + ": " +
         fmt("%.6g", values[k]) + "</title></rect>\n";
    s += "<text x=\"" + fmt("%.2f", bx + bw / 2) + "\" y=\"" + fmt("%.2f", by - 4) +
         "\" font-size=\"10\" text-anchor=\"middle\">" + fmt("%.1f", pct(k)) + "%</text>\n";
    s += "<text x=\"" + fmt("%.2f", bx + bw / 2) + "\" y=\"" + fmt("%g", sy1 + 16) +
         "\" font-size=\"11\" text-anchor=\"middle\">" + std::to_string(k + 1) + "</text>\n";
  }
  s += "<text x=\"" + fmt("%g", (sx0 + sx1) / 2) + "\" y=\"" + fmt("%g", sy1 + 38) +
       "\" font-size=\"13\" text-anchor=\"middle\">component</text>\n";
  s += "<text transform=\"translate(" + fmt("%g", sx0 - 50) + "," + fmt("%g", (sy0 + sy1) / 2) +
       ") rotate(-90)\" font-size=\"13\" text-anchor=\"middle\">eigenvalue</text>\n";
  s += "<text x=\"" + fmt("%g", (sx0 + sx1) / 2) + "\" y=\"" + fmt("%g", sy0 - 8) +
       "\" font-size=\"13\" text-anchor=\"middle\">scree: leading eigenvalues (% of total variance)</text>\n";
  s += "<text x=\"" + fmt("%g", (x0 + x1) / 2) + "\" y=\"" + fmt("%g", y0 - 8) +
       "\" font-size=\"13\" text-anchor=\"middle\">samples on PC1 and PC2 (eigenvector components)</text>\n";
  s += "</g>\n</svg>\n";
  return s;
}

}  // namespace ge
