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

}  // namespace prep
