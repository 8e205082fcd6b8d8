// Command line of methprep.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace prep {

struct Options {
  std::string format;  // bismark, counts, bedgraph, matrix, bedmethyl, cpgreport, methyldackel or allc
  std::string mod = "m";       // bedmethyl: m, h or mh
  bool mod_given = false;
  bool merge_strands = false;  // C on + at p and on - at p + 1 as one site at p
  std::string out;
  uint32_t min_coverage = 1;
  double min_samples = 1.0;
  std::string chroms, chrom_map, names;
  std::vector<std::string> inputs;
  bool quiet = false;
  uint64_t run_records = 4u << 20;  // sites held in memory before spilling to disk
  long max_open = 0;                // runs open at once while merging (0: from the limit)
};

// Parses the command line; prints help or a usage error and exits as needed.
Options parse_options(int argc, char** argv);

}  // namespace prep
