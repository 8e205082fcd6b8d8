#include "fields.h"
#include "parsers.h"

namespace prep {

namespace {

char strand_field(std::string_view f, const std::string& path, size_t line) {
  if (f != "+" && f != "-") bad_line(path, line, "strand " + quoted(f) + " is not + or -");
  return f[0];
}

}  // namespace

void parse_cpgreport(InputLines& in, const std::string& path, size_t sample, const StrandRule& rule,
                     ChromMap& chroms, Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f;
  StrandSites sites(split, sample, rule.merge_strands, path);
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    split_fields(line, '\t', f);
    if (f.size() != 7)
      bad_line(path, ln, "expected 7 tab-separated fields (chr, pos, strand, count_methylated, count_unmethylated, "
                         "context, trinucleotide), found " + std::to_string(f.size()));
    if (f[0].empty()) bad_line(path, ln, "empty chromosome name");
    int64_t pos = position_field(f[1], path, ln, "pos");
    char strand = strand_field(f[2], path, ln);
    uint64_t meth = count_field(f[3], path, ln, "count_methylated");
    uint64_t unmeth = count_field(f[4], path, ln, "count_unmethylated");
    if (meth > UINT64_MAX - unmeth) bad_line(path, ln, "read counts too large");
    if (f[5].empty()) bad_line(path, ln, "empty context");
    if (f[5] != "CG") { count_other_code(); continue; }
    int chrom = chroms.lookup(f[0]);
    if (chrom == 0) { chroms.count_dropped(f[0]); continue; }
    sites.add(chrom, pos, strand, meth, meth + unmeth, ln);
  }
  check_read(in, path);
  sites.finish();
}

void parse_allc(InputLines& in, const std::string& path, size_t sample, const StrandRule& rule, ChromMap& chroms,
                Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f;
  StrandSites sites(split, sample, rule.merge_strands, path);
  bool first = true;
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    split_fields(line, '\t', f);
    if (f.size() != 7)
      bad_line(path, ln, "expected 7 tab-separated fields (chr, pos, strand, context, mc, cov, methylated), found " +
                             std::to_string(f.size()));
    // Some writers put a header line first: its pos is a column name.
    int64_t probe = 0;
    if (first && !to_int64(f[1], probe)) { first = false; continue; }
    first = false;
    if (f[0].empty()) bad_line(path, ln, "empty chromosome name");
    int64_t pos = position_field(f[1], path, ln, "pos");
    char strand = strand_field(f[2], path, ln);
    uint64_t mc = count_field(f[4], path, ln, "mc");
    uint64_t cov = count_field(f[5], path, ln, "cov");
    if (mc > cov) bad_line(path, ln, "mc " + std::string(f[4]) + " is larger than cov " + std::string(f[5]));
    if (f[6] != "0" && f[6] != "1") bad_line(path, ln, "methylated flag " + quoted(f[6]) + " is not 0 or 1");
    if (f[3].empty()) bad_line(path, ln, "empty context");
    // The context is the C's trinucleotide (CGA, CHG, ...) or CG itself.
    if (f[3].size() < 2 || f[3][0] != 'C' || f[3][1] != 'G') { count_other_code(); continue; }
    int chrom = chroms.lookup(f[0]);
    if (chrom == 0) { chroms.count_dropped(f[0]); continue; }
    sites.add(chrom, pos, strand, mc, cov, ln);
  }
  check_read(in, path);
  sites.finish();
}

}  // namespace prep
