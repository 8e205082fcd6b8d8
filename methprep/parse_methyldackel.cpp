#include "fields.h"
#include "parsers.h"

namespace prep {

void parse_methyldackel(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms,
                        Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f;
  bool in_header = true;
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    if (in_header && (line.substr(0, 5) == "track" || line.substr(0, 7) == "browser" || line.substr(0, 1) == "#"))
      continue;
    in_header = false;
    split_fields(line, '\t', f);
    if (f.size() != 6)
      bad_line(path, ln, "expected 6 tab-separated fields (chr, start, end, percent, count_methylated, "
                         "count_unmethylated), found " + std::to_string(f.size()));
    if (f[0].empty()) bad_line(path, ln, "empty chromosome name");
    int64_t start = position_field(f[1], path, ln, "start");
    int64_t end = position_field(f[2], path, ln, "end");
    if (end <= start) bad_line(path, ln, "end " + std::string(f[2]) + " is not after start " + std::string(f[1]));
    if (start + 1 > kMaxPosition) bad_line(path, ln, "start " + std::string(f[1]) + " is too large");
    // The percent is cut to a whole number; the value comes from the counts.
    uint64_t percent = 0;
    if (!to_uint64(f[3], percent) || percent > 100)
      bad_line(path, ln, "percent " + quoted(f[3]) + " is not a whole number from 0 to 100");
    uint64_t meth = count_field(f[4], path, ln, "count_methylated");
    uint64_t unmeth = count_field(f[5], path, ln, "count_unmethylated");
    if (meth > UINT64_MAX - unmeth) bad_line(path, ln, "read counts too large");
    int chrom = chroms.lookup(f[0]);
    if (chrom == 0) { chroms.count_dropped(f[0]); continue; }
    add_counts(split, sample, chrom, start + 1, meth, meth + unmeth, ln);
  }
  check_read(in, path);
}

}  // namespace prep
