#include "fields.h"
#include "parsers.h"

namespace prep {

namespace {

// Splits a bedMethyl line: 18 tab-separated fields, or 10 tab-separated
// whose last holds fields 10-18 separated by single spaces (the caller's
// default). False when it is neither.
bool split_bedmethyl(std::string_view line, std::vector<std::string_view>& f, std::vector<std::string_view>& tail) {
  split_fields(line, '\t', f);
  if (f.size() == 18) return true;
  if (f.size() != 10) return false;
  split_fields(f[9], ' ', tail);
  if (tail.size() != 9) return false;
  f.pop_back();
  f.insert(f.end(), tail.begin(), tail.end());
  return true;
}

// A kept row waiting, with --mod mh, for the row of the other code at the
// same position and strand.
struct ModRow {
  bool live = false;
  int chrom = 0;
  int64_t pos = 0;
  char strand = '.';
  char code = 0;
  uint64_t n_mod = 0, n_valid = 0, line = 0;
};

}  // namespace

void parse_bedmethyl(InputLines& in, const std::string& path, size_t sample, const StrandRule& rule,
                     ChromMap& chroms, Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f, tail;
  StrandSites sites(split, sample, rule.merge_strands, path);
  const bool pair = rule.mod_m && rule.mod_h;
  ModRow held;
  auto send = [&](const ModRow& r) { sites.add(r.chrom, r.pos, r.strand, r.n_mod, r.n_valid, r.line); };
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    if (!split_bedmethyl(line, f, tail))
      bad_line(path, ln, "expected 18 fields (10 tab-separated, then 8 more separated by spaces or tabs), found " +
                             std::to_string(f.size()) + " tab-separated");
    if (f[0].empty()) bad_line(path, ln, "empty chromosome name");
    int64_t start = position_field(f[1], path, ln, "start");
    int64_t end = position_field(f[2], path, ln, "end");
    if (end <= start) bad_line(path, ln, "end " + std::string(f[2]) + " is not after start " + std::string(f[1]));
    if (start + 1 > kMaxPosition) bad_line(path, ln, "start " + std::string(f[1]) + " is too large");
    if (f[3].empty()) bad_line(path, ln, "empty modification code");
    if (f[5] != "+" && f[5] != "-" && f[5] != ".")
      bad_line(path, ln, "strand " + quoted(f[5]) + " is not +, - or .");
    uint64_t n_valid = count_field(f[9], path, ln, "N_valid_cov");
    double percent = 0;
    if (!to_double(f[10], percent) || percent < 0 || percent > 100)
      bad_line(path, ln, "percent modified " + quoted(f[10]) + " is not a number from 0 to 100");
    uint64_t n_mod = count_field(f[11], path, ln, "N_mod");
    for (size_t k = 12; k < 18; ++k) {
      static const char* const names[] = {"N_canonical", "N_other_mod", "N_delete", "N_fail", "N_diff", "N_nocall"};
      count_field(f[k], path, ln, names[k - 12]);
    }
    if (n_mod > n_valid)
      bad_line(path, ln, "N_mod " + std::string(f[11]) + " is larger than N_valid_cov " + std::string(f[9]));
    const char code = f[3] == "m" ? 'm' : f[3] == "h" ? 'h' : 0;
    if (!((code == 'm' && rule.mod_m) || (code == 'h' && rule.mod_h))) {
      count_other_code();
      continue;
    }
    int chrom = chroms.lookup(f[0]);
    if (chrom == 0) { chroms.count_dropped(f[0]); continue; }
    ModRow row{true, chrom, start + 1, f[5][0], code, n_mod, n_valid, ln};
    if (!pair) {
      send(row);
      continue;
    }
    // 5mC + 5hmC: the m and h rows of one C follow each other and share
    // N_valid_cov.
    if (held.live && held.chrom == chrom && held.pos == row.pos && held.strand == row.strand && held.code != code) {
      if (held.n_valid != n_valid)
        bad_line(path, ln, "N_valid_cov " + std::string(f[9]) + " differs from " + std::to_string(held.n_valid) +
                               " on line " + std::to_string(held.line) + " (the other code of the same C)");
      if (held.n_mod + n_mod > n_valid)
        bad_line(path, ln, "N_mod of m and h together exceed N_valid_cov " + std::string(f[9]));
      held.n_mod += n_mod;
      send(held);
      held.live = false;
      continue;
    }
    if (held.live) send(held);
    held = row;
  }
  check_read(in, path);
  if (held.live) send(held);
  sites.finish();
}

}  // namespace prep
