#include "options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

namespace prep {

Options parse_options(int argc, char** argv) {
  Options o;
  CLI::App app{
      "methprep: turns per-sample coverage files (or one matrix of beta values) into the\n"
      "methylation files of the analysis: DIR/samples.txt, DIR/meth/chrN/<sample>.csv and\n"
      "DIR/manifest.tsv, with the sites of every sample aligned.",
      "methprep"};
  app.add_option("--format", o.format,
                 "bismark: chr, start, end, percent, count_methylated, count_unmethylated (tab-separated);\n"
                 "counts: header, then chr, pos, N, X (tab or comma); bedgraph: chr, start, end, percent;\n"
                 "matrix: one CSV chr,pos,<sample>,... of beta values, NA or empty for missing")
      ->required()
      ->check(CLI::IsMember({"bismark", "counts", "bedgraph", "matrix"}));
  app.add_option("--out", o.out, "output folder (created if missing; must not hold an earlier output)")
      ->required();
  app.add_option("--min-coverage", o.min_coverage, "reads a sample needs at a site to cover it (default 1)")
      ->check(CLI::Range(uint32_t{1}, uint32_t{UINT32_MAX - 1}));
  app.add_option("--min-samples", o.min_samples,
                 "fraction of the samples that must cover a site to keep it (default 1.0); a sample\n"
                 "that does not cover a kept site gets the mean of the covering samples")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--chroms", o.chroms, "chromosomes to keep: numbers, ranges and names, e.g. 1-22,X");
  app.add_option("--chrom-map", o.chrom_map,
                 "file of name,number lines: chromosome names to map besides (or instead of) chr1..chr22,X,Y,M");
  app.add_option("--names", o.names, "sample names, one per line in the order of the samples");
  app.add_flag("-q,--quiet", o.quiet, "no progress on standard error");
  app.add_option("--run-records", o.run_records, "sites held in memory before sorting them to disk")
      ->group("")
      ->check(CLI::PositiveNumber);
  app.add_option("--max-open", o.max_open, "runs open at once while merging")->group("")->check(CLI::PositiveNumber);
  app.add_option("INPUT", o.inputs, "coverage files (plain or gzip), or the one matrix file")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, std::cout, std::cout);
    std::cout.flush();
    std::exit(code == 0 ? 0 : 2);
  }
  return o;
}

}  // namespace prep
