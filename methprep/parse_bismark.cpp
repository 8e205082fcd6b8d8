#include "fields.h"
#include "parsers.h"

namespace prep {

void parse_bismark(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms, Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f;
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    split_fields(line, '\t', f);
    if (f.size() != 6)
      bad_line(path, ln, "expected 6 tab-separated fields (chr, start, end, percent, count_methylated, "
                         "count_unmethylated), found " + std::to_string(f.size()));
    if (f[0].empty()) bad_line(path, ln, "empty chromosome name");
    int64_t start = position_field(f[1], path, ln, "start");
    int64_t end = position_field(f[2], path, ln, "end");
    if (end < start) bad_line(path, ln, "end " + std::string(f[2]) + " lies before start " + std::string(f[1]));
    double percent = 0;
    if (!to_double(f[3], percent) || percent < 0 || percent > 100)
      bad_line(path, ln, "percent " + quoted(f[3]) + " is not a number from 0 to 100");
    uint64_t meth = 0, unmeth = 0;
    if (!to_uint64(f[4], meth))
      bad_line(path, ln, "count_methylated " + quoted(f[4]) + " is not a whole number of reads");
    if (!to_uint64(f[5], unmeth))
      bad_line(path, ln, "count_unmethylated " + quoted(f[5]) + " is not a whole number of reads");
    if (meth > UINT64_MAX - unmeth) bad_line(path, ln, "read counts too large");
    int chrom = chroms.lookup(f[0]);
    if (chrom == 0) { chroms.count_dropped(f[0]); continue; }
    uint64_t total = meth + unmeth;
    // A line without reads is a site seen but not covered.
    double value = total > 0 ? static_cast<double>(meth) / static_cast<double>(total) : 0.0;
    uint32_t cov = total >= kCovUnknown ? kCovUnknown - 1 : static_cast<uint32_t>(total);
    split.add(sample, chrom, static_cast<int32_t>(start), cov, value, ln);
  }
  check_read(in, path);
}

}  // namespace prep
