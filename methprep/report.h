// The run's account: DIR/manifest.tsv and the summary on standard output.
#pragma once

#include "align.h"
#include "chrom.h"

#include <string>
#include <vector>

namespace prep {

// Writes stage/manifest.tsv: one row per chromosome found, then one per
// dropped chromosome name (its input lines over all samples in sites_seen).
void write_manifest(const std::vector<ChromStats>& stats, const ChromMap& chroms,
                    const std::vector<std::string>& names);
// Writes stage/samples.txt.
void write_samples(const std::vector<std::string>& names);
// The closing summary; `other_code` lines were skipped for another
// modification code or context.
void print_summary(const std::vector<ChromStats>& stats, const ChromMap& chroms, size_t n_samples,
                   const std::string& out_dir, uint64_t other_code = 0);

}  // namespace prep
