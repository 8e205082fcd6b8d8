#include "align.h"

#include "outfile.h"
#include "workspace.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace prep {

size_t format_value(char* buf, double v) {
  auto r = std::to_chars(buf, buf + 64, v);
  return static_cast<size_t>(r.ptr - buf);
}

size_t min_covering(double fraction, size_t n) {
  // A hair of tolerance so that 0.9 * 50 asks for 45, not 46.
  double need = std::ceil(fraction * static_cast<double>(n) - 1e-9);
  return need < 1 ? 1 : static_cast<size_t>(need);
}

namespace {

// Merges the runs of samples [first, last) with the running tallies of the
// samples before them (acc_in, empty for the first group) into acc_out.
void merge_group(const Splitter& split, int chrom, size_t first, size_t last, uint32_t min_cov,
                 const std::string& acc_in, const std::string& acc_out) {
  size_t n = last - first;
  size_t buf = std::clamp<size_t>((size_t{32} << 20) / 16 / (n + 1), 256, 1 << 14);
  std::vector<RunReader<Site>> runs;
  runs.reserve(n);
  std::vector<Site> head(n);
  std::vector<uint8_t> live(n, 0);
  for (size_t k = 0; k < n; ++k) {
    runs.emplace_back(buf);
    std::string p = split.run_path(first + k, chrom);
    if (p.empty()) continue;
    runs[k].open(p);
    live[k] = runs[k].next(head[k]);
  }
  RunReader<Tally> acc(buf);
  Tally acc_head{};
  bool acc_live = false;
  if (!acc_in.empty()) {
    acc.open(acc_in);
    acc_live = acc.next(acc_head);
  }
  RunWriter<Tally> out;
  out.open(acc_out);
  for (;;) {
    // The next site: the smallest position at any head.
    bool any = acc_live;
    int32_t pos = acc_live ? acc_head.pos : 0;
    for (size_t k = 0; k < n; ++k)
      if (live[k] && (!any || head[k].pos < pos)) { pos = head[k].pos; any = true; }
    if (!any) break;
    Tally t{pos, 0, 0.0};
    if (acc_live && acc_head.pos == pos) {
      t = acc_head;
      acc_live = acc.next(acc_head);
    }
    // Samples in list order, so the sum is the same however they are grouped.
    for (size_t k = 0; k < n; ++k) {
      if (!live[k] || head[k].pos != pos) continue;
      if (head[k].cov >= min_cov) {
        ++t.n_cov;
        t.sum += head[k].value;
      }
      live[k] = runs[k].next(head[k]);
    }
    out.put(t);
  }
  out.close();
}

}  // namespace

ChromStats decide_sites(const Splitter& split, int chrom, size_t n_samples, const AlignRule& rule, size_t max_open,
                        std::string& kept_path) {
  ChromStats st;
  st.chrom = chrom;
  st.filled.assign(n_samples, 0);
  std::string base = tmp_dir() + "c" + std::to_string(chrom);
  size_t group = std::max<size_t>(max_open, 1);
  std::string acc;
  for (size_t first = 0, g = 0; first < n_samples; first += group, ++g) {
    std::string next = base + "_acc" + std::to_string(g);
    merge_group(split, chrom, first, std::min(n_samples, first + group), rule.min_coverage, acc, next);
    if (!acc.empty()) remove_tree(acc);
    acc = next;
  }
  kept_path = base + ".kept";
  RunReader<Tally> in(1 << 14);
  in.open(acc);
  RunWriter<Tally> out;
  out.open(kept_path);
  Tally t;
  while (in.next(t)) {
    ++st.seen;
    if (t.n_cov >= rule.min_covering && t.n_cov > 0) {
      ++st.kept;
      out.put(Tally{t.pos, t.n_cov, t.sum / t.n_cov});
    } else {
      ++st.dropped_coverage;
    }
  }
  in.close();
  out.close();
  remove_tree(acc);
  return st;
}

void write_chrom(const Splitter& split, int chrom, const std::vector<std::string>& names, const AlignRule& rule,
                 const std::string& kept_path, ChromStats& st) {
  std::string dir = stage_dir() + "meth/chr" + std::to_string(chrom) + "/";
  if (st.kept > 0) {
    make_dir(stage_dir() + "meth");
    make_dir(dir);
  }
  char line[96];  // position (at most 11), ',', value (at most 24), '\n'
  for (size_t s = 0; s < names.size(); ++s) {
    std::string run = split.run_path(s, chrom);
    if (st.kept == 0) {
      if (!run.empty()) remove_tree(run);
      continue;
    }
    RunReader<Tally> kept(1 << 14);
    kept.open(kept_path);
    RunReader<Site> mine(1 << 14);
    Site site{};
    bool live = false;
    if (!run.empty()) {
      mine.open(run);
      live = mine.next(site);
    }
    std::string path = dir + names[s] + ".csv";
    OutFile f;
    if (!f.open(path)) fatal("cannot write output file " + path + ": " + f.error() + "\n", 255);
    f.write("position,value\n");
    uint64_t filled = 0;
    Tally k;
    while (kept.next(k)) {
      while (live && site.pos < k.pos) live = mine.next(site);
      double v;
      if (live && site.pos == k.pos && site.cov >= rule.min_coverage) {
        v = site.value;
      } else {
        v = k.sum;  // the mean of the covering samples
        ++filled;
      }
      char* p = std::to_chars(line, line + 16, k.pos).ptr;
      *p++ = ',';
      p += format_value(p, v);
      *p++ = '\n';
      f.write(line, static_cast<size_t>(p - line));
    }
    if (!f.commit()) fatal("cannot write output file " + path + ": " + f.error() + "\n", 255);
    st.filled[s] = filled;
    mine.close();
    if (!run.empty()) remove_tree(run);
  }
  remove_tree(kept_path);
}

}  // namespace prep
