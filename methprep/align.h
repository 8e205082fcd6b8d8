// Aligns the samples of one chromosome: merges their runs in step to decide
// which sites are kept (and the mean of the covering samples at each), then
// writes every sample's methylation file over exactly the kept sites.
#pragma once

#include "split.h"

#include <cstdint>
#include <string>
#include <vector>

namespace prep {

struct AlignRule {
  uint32_t min_coverage = 1;  // reads a sample needs to cover a site
  size_t min_covering = 1;    // samples that must cover a site to keep it
};

struct ChromStats {
  int chrom = 0;
  uint64_t seen = 0, kept = 0, dropped_coverage = 0;
  std::vector<uint64_t> filled;  // per sample
};

// Decides the kept sites of `chrom` into a kept list (temporary file) and
// counts them. `max_open` bounds the runs open at once; more samples than
// that are merged in groups, carrying the running sums in sample order.
ChromStats decide_sites(const Splitter& split, int chrom, size_t n_samples, const AlignRule& rule,
                        size_t max_open, std::string& kept_path);
// Writes stage/meth/chr<chrom>/<name>.csv for every sample and fills
// stats.filled; removes the sample runs once written.
void write_chrom(const Splitter& split, int chrom, const std::vector<std::string>& names, const AlignRule& rule,
                 const std::string& kept_path, ChromStats& stats);

// Samples that must cover a site when a fraction of n must: the smallest
// whole number not below fraction * n, and at least 1.
size_t min_covering(double fraction, size_t n);

// Shortest text that reads back to the same double.
size_t format_value(char* buf, double v);

}  // namespace prep
