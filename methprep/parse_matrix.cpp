#include "fields.h"
#include "parsers.h"
#include "workspace.h"

namespace prep {

namespace {
// Spreadsheet exports quote text fields; one pair of quotes is dropped.
std::string_view unquote(std::string_view f) {
  if (f.size() >= 2 && f.front() == '"' && f.back() == '"') return f.substr(1, f.size() - 2);
  return f;
}
}  // namespace

std::vector<std::string> matrix_header(InputLines& in, const std::string& path) {
  std::string_view line;
  std::vector<std::string_view> f;
  while (in.next(line) && blank_line(line)) {}
  check_read(in, path);
  if (in.line_no() == 0 || blank_line(line)) fatal(path + ": empty file, expected a header chr,pos,<sample>,...\n");
  split_fields(line, ',', f);
  int64_t probe = 0;
  if (f.size() < 3 || to_int64(unquote(f[1]), probe))
    bad_line(path, in.line_no(), "expected a header chr,pos,<sample>,... with at least one sample");
  std::vector<std::string> names;
  for (size_t i = 2; i < f.size(); ++i) names.emplace_back(unquote(f[i]));
  return names;
}

void parse_matrix(InputLines& in, const std::string& path, size_t first, size_t n, ChromMap& chroms, Splitter& split) {
  std::string_view line;
  std::vector<std::string_view> f;
  while (in.next(line)) {
    if (blank_line(line)) continue;
    size_t ln = in.line_no();
    split_fields(line, ',', f);
    if (f.size() != n + 2)
      bad_line(path, ln, "expected " + std::to_string(n + 2) + " comma-separated fields (chr, pos and " +
                             std::to_string(n) + " samples), found " + std::to_string(f.size()));
    std::string_view name = unquote(f[0]);
    if (name.empty()) bad_line(path, ln, "empty chromosome name");
    int64_t pos = position_field(f[1], path, ln, "pos");
    int chrom = chroms.lookup(name);
    // Values are checked on dropped chromosomes too: a bad line is bad anywhere.
    for (size_t k = 0; k < n; ++k) {
      std::string_view v = f[k + 2];
      if (v.empty() || v == "NA") continue;
      double beta = 0;
      if (!to_double(v, beta) || beta < 0 || beta > 1)
        bad_line(path, ln, "sample column " + std::to_string(k + 1) + ": " + quoted(v) +
                               " is not a beta value from 0 to 1, NA or empty");
      if (chrom != 0) split.add(first + k, chrom, static_cast<int32_t>(pos), kCovUnknown, beta, ln);
    }
    if (chrom == 0) chroms.count_dropped(name);
  }
  check_read(in, path);
}

}  // namespace prep
