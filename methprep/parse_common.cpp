#include "parsers.h"

#include "fields.h"
#include "workspace.h"

namespace prep {

bool blank_line(std::string_view line) { return line.empty() || line == "\r"; }

void bad_line(const std::string& path, size_t line, const std::string& what) {
  fatal(at_line(path, line, what));
}

int64_t position_field(std::string_view f, const std::string& path, size_t line, const char* what) {
  int64_t v = 0;
  if (!to_int64(f, v) || v < 0 || v > kMaxPosition)
    bad_line(path, line, std::string(what) + " " + quoted(f) + " is not a whole number from 0 to " +
                             std::to_string(kMaxPosition));
  return v;
}

uint64_t count_field(std::string_view f, const std::string& path, size_t line, const char* what) {
  uint64_t v = 0;
  if (!to_uint64(f, v)) bad_line(path, line, std::string(what) + " " + quoted(f) + " is not a whole number of reads");
  return v;
}

void add_counts(Splitter& split, size_t sample, int chrom, int64_t pos, uint64_t x, uint64_t n, uint64_t line) {
  double value = n > 0 ? static_cast<double>(x) / static_cast<double>(n) : 0.0;
  uint32_t cov = n >= kCovUnknown ? kCovUnknown - 1 : static_cast<uint32_t>(n);
  split.add(sample, chrom, static_cast<int32_t>(pos), cov, value, line);
}

namespace {
uint64_t g_other_code = 0;
}  // namespace

void count_other_code() { ++g_other_code; }
uint64_t other_code_lines() { return g_other_code; }

void StrandSites::add(int chrom, int64_t pos, char strand, uint64_t x, uint64_t n, uint64_t line) {
  if (!merge_ || strand == '.') {
    flush();
    add_counts(split_, sample_, chrom, pos, x, n, line);
    return;
  }
  if (strand == '-') {
    if (pos < 1) bad_line(path_, line, "position 0 on the - strand has no + strand position before it");
    if (pending_ && chrom == chrom_ && pos - 1 == pos_) {
      if (x > UINT64_MAX - x_ || n > UINT64_MAX - n_) bad_line(path_, line, "read counts too large");
      add_counts(split_, sample_, chrom, pos_, x_ + x, n_ + n, line_);
      pending_ = false;
      return;
    }
    flush();
    add_counts(split_, sample_, chrom, pos - 1, x, n, line);
    return;
  }
  flush();
  pending_ = true;
  chrom_ = chrom;
  pos_ = pos;
  x_ = x;
  n_ = n;
  line_ = line;
}

void check_read(const InputLines& in, const std::string& path) {
  if (in.failed()) fatal("cannot read " + path + ": " + in.error() + "\n");
}

}  // namespace prep
