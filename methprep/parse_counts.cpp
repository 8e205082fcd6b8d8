#include "fields.h"
#include "parsers.h"

namespace prep {

void parse_counts(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms, Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f;
  // The header fixes the separator: tab when it holds one, else comma.
  while (in.next(line) && blank_line(line)) {}
  check_read(in, path);
  if (in.line_no() == 0 || blank_line(line)) fatal(path + ": empty file, expected a header chr, pos, N, X\n");
  char sep = line.find('\t') != std::string_view::npos ? '\t' : ',';
  split_fields(line, sep, f);
  int64_t probe = 0;
  if (f.size() != 4 || to_int64(f[1], probe))
    bad_line(path, in.line_no(), "expected a header of 4 fields chr, pos, N, X");
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    split_fields(line, sep, f);
    if (f.size() != 4)
      bad_line(path, ln, std::string("expected 4 ") + (sep == '\t' ? "tab" : "comma") +
                             "-separated fields (chr, pos, N, X), found " + std::to_string(f.size()));
    if (f[0].empty()) bad_line(path, ln, "empty chromosome name");
    int64_t pos = position_field(f[1], path, ln, "pos");
    uint64_t n = 0, x = 0;
    if (!to_uint64(f[2], n)) bad_line(path, ln, "N " + quoted(f[2]) + " is not a whole number of reads");
    if (!to_uint64(f[3], x)) bad_line(path, ln, "X " + quoted(f[3]) + " is not a whole number of reads");
    if (x > n) bad_line(path, ln, "X " + std::string(f[3]) + " is larger than N " + std::string(f[2]));
    int chrom = chroms.lookup(f[0]);
    if (chrom == 0) { chroms.count_dropped(f[0]); continue; }
    double value = n > 0 ? static_cast<double>(x) / static_cast<double>(n) : 0.0;
    uint32_t cov = n >= kCovUnknown ? kCovUnknown - 1 : static_cast<uint32_t>(n);
    split.add(sample, chrom, static_cast<int32_t>(pos), cov, value, ln);
  }
  check_read(in, path);
}

}  // namespace prep
