#include "fields.h"
#include "parsers.h"

namespace prep {

namespace {
bool starts_with(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
}  // namespace

void parse_bedgraph(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms, Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f;
  bool in_header = true;
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    if (in_header && (starts_with(line, "track") || starts_with(line, "browser") || starts_with(line, "#")))
      continue;
    in_header = false;
    split_fields(line, '\t', f);
    if (f.size() != 4)
      bad_line(path, ln, "expected 4 tab-separated fields (chr, start, end, value), found " + std::to_string(f.size()));
    if (f[0].empty()) bad_line(path, ln, "empty chromosome name");
    // BED coordinates: start counts from 0, end is exclusive. The site's
    // position is start + 1, the 1-based position the coverage formats give.
    int64_t start = position_field(f[1], path, ln, "start");
    int64_t end = position_field(f[2], path, ln, "end");
    if (end <= start) bad_line(path, ln, "end " + std::string(f[2]) + " is not after start " + std::string(f[1]));
    if (start + 1 > kMaxPosition) bad_line(path, ln, "start " + std::string(f[1]) + " is too large");
    double percent = 0;
    if (!to_double(f[3], percent) || percent < 0 || percent > 100)
      bad_line(path, ln, "value " + quoted(f[3]) + " is not a percentage from 0 to 100");
    int chrom = chroms.lookup(f[0]);
    if (chrom == 0) { chroms.count_dropped(f[0]); continue; }
    split.add(sample, chrom, static_cast<int32_t>(start + 1), kCovUnknown, percent / 100.0, ln);
  }
  check_read(in, path);
}

}  // namespace prep
