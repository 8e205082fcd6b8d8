// Input format readers. Each reads one opened input to its end, maps the
// chromosome of every line and hands the sites to the splitter; any malformed
// line ends the run with a message naming the file and the line.
#pragma once

#include "chrom.h"
#include "lines.h"
#include "split.h"

#include <string>
#include <vector>

namespace prep {

// Tab-separated chr, start, end, percent, count_methylated, count_unmethylated.
void parse_bismark(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms, Splitter& split);
// Header, then chr, pos, N, X (tab- or comma-separated, as the header is).
void parse_counts(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms, Splitter& split);
// chr, start (0-based), end, percent; optional track/browser/# lines first.
void parse_bedgraph(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms, Splitter& split);
// Per-strand layouts of methylation callers. Each line is one C with X of N
// reads methylated; with merge_strands the C on + at p and the C on - at
// p + 1 become one site at p (their lines must follow each other, as the
// callers write them).
struct StrandRule {
  bool merge_strands = false;
  bool mod_m = true, mod_h = false;  // bedmethyl: modification codes kept (--mod)
};
// modkit pileup bedMethyl: 18 fields, the first 10 tab-separated and the rest
// by spaces or all by tabs; 0-based start; X = N_mod (12), N = N_valid_cov (10).
void parse_bedmethyl(InputLines& in, const std::string& path, size_t sample, const StrandRule& rule,
                     ChromMap& chroms, Splitter& split);
// CpG report: chr, pos (1-based), strand, count methylated, count
// unmethylated, context, trinucleotide; CG context only.
void parse_cpgreport(InputLines& in, const std::string& path, size_t sample, const StrandRule& rule,
                     ChromMap& chroms, Splitter& split);
// allc: chr, pos (1-based), strand, context, mc, cov, methylated flag; CG
// contexts only; an optional header line.
void parse_allc(InputLines& in, const std::string& path, size_t sample, const StrandRule& rule, ChromMap& chroms,
                Splitter& split);
// bedGraph of a per-base caller: optional track line, then chr, start
// (0-based), end, integer percent, count methylated, count unmethylated.
void parse_methyldackel(InputLines& in, const std::string& path, size_t sample, ChromMap& chroms,
                        Splitter& split);
// Lines skipped for another modification code or context, over all inputs.
uint64_t other_code_lines();

// Reads the header "chr,pos,<sample>,..." and returns the sample names.
std::vector<std::string> matrix_header(InputLines& in, const std::string& path);
// The data lines of the matrix after matrix_header; samples first..first+n-1.
void parse_matrix(InputLines& in, const std::string& path, size_t first, size_t n, ChromMap& chroms, Splitter& split);

// Shared pieces of the readers.
bool blank_line(std::string_view line);
// Position field: a whole number from 0 to kMaxPosition, else fatal.
int64_t position_field(std::string_view f, const std::string& path, size_t line, const char* what);
// Fatal "cannot read <path>: <reason>" after a failed read.
void check_read(const InputLines& in, const std::string& path);
[[noreturn]] void bad_line(const std::string& path, size_t line, const std::string& what);
// Whole number of reads, else fatal naming the field.
uint64_t count_field(std::string_view f, const std::string& path, size_t line, const char* what);
// Hands X of N reads at 1-based `pos` to the splitter: value X / N, coverage
// N (a line without reads is a site seen but not covered).
void add_counts(Splitter& split, size_t sample, int chrom, int64_t pos, uint64_t x, uint64_t n, uint64_t line);
void count_other_code();

// The per-strand sites of one input, merged across strands when asked: a +
// line waits for the - line at the next position; anything else sends it on
// alone.
class StrandSites {
 public:
  StrandSites(Splitter& split, size_t sample, bool merge, const std::string& path)
      : split_(split), sample_(sample), merge_(merge), path_(path) {}
  // strand '+', '-' or '.' (already both strands).
  void add(int chrom, int64_t pos, char strand, uint64_t x, uint64_t n, uint64_t line);
  void finish() { flush(); }

 private:
  void flush() {
    if (pending_) add_counts(split_, sample_, chrom_, pos_, x_, n_, line_);
    pending_ = false;
  }
  Splitter& split_;
  size_t sample_;
  bool merge_;
  const std::string& path_;
  bool pending_ = false;  // a + line waiting for its - partner
  int chrom_ = 0;
  int64_t pos_ = 0;
  uint64_t x_ = 0, n_ = 0, line_ = 0;
};

}  // namespace prep
