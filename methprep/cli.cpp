#include "options.h"

#include "fields.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

namespace prep {

namespace {
// A whole number from 1 to `max`. CLI11 names the option in the message of a
// listed option; a hidden one passes its `name` for the message.
CLI::Validator whole_number(uint64_t max, const char* name = "") {
  return CLI::Validator(
      [name, max](std::string& v) -> std::string {
        uint64_t x = 0;
        if (!to_uint64(v, x) || x < 1 || x > max)
          return (*name ? std::string(name) + ": " : std::string()) + v + " is not a whole number from 1 to " + std::to_string(max);
        return {};
      },
      "1-" + std::to_string(max));
}
}  // namespace

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
                 "matrix: one CSV chr,pos,<sample>,... of beta values, NA or empty for missing;\n"
                 "bedmethyl: modkit pileup (18 fields); cpgreport: CpG report (chr, pos, strand, meth,\n"
                 "unmeth, context, trinucleotide); methyldackel: bedGraph with counts; allc: allc table")
      ->required()
      ->check(CLI::IsMember(
          {"bismark", "counts", "bedgraph", "matrix", "bedmethyl", "cpgreport", "methyldackel", "allc"}));
  app.add_option("--out", o.out, "output folder (created if missing; must not hold an earlier output)")
      ->required();
  app.add_option("--min-coverage", o.min_coverage, "reads a sample needs at a site to cover it (default 1)")
      ->check(whole_number(UINT32_MAX - 1));
  app.add_option("--min-samples", o.min_samples,
                 "fraction of the samples that must cover a site to keep it (default 1.0); a sample\n"
                 "that does not cover a kept site gets the mean of the covering samples")
      ->check(CLI::Validator(
          [](std::string& v) -> std::string {
            // Strict and finite: CLI11's range check lets "nan" through.
            double x = 0;
            if (!to_double(v, x) || !(x >= 0.0 && x <= 1.0)) return v + " is not a number from 0 to 1";
            return {};
          },
          "FRACTION 0-1"));
  auto* mod = app.add_option("--mod", o.mod,
                              "bedmethyl: modification counted, m (5mC, default), h (5hmC) or mh (both added)")
                  ->check(CLI::IsMember({"m", "h", "mh"}));
  app.add_flag("--merge-strands", o.merge_strands,
               "one site per CpG: the counts of the C on + at p and on - at p+1 added at p\n"
               "(bedmethyl, cpgreport, allc)");
  app.add_option("--chroms", o.chroms, "chromosomes to keep: numbers, ranges and names, e.g. 1-22,X");
  app.add_option("--chrom-map", o.chrom_map,
                 "file of name,number lines: chromosome names to map besides (or instead of) chr1..chr22,X,Y,M");
  app.add_option("--names", o.names, "sample names, one per line in the order of the samples");
  app.add_flag("-q,--quiet", o.quiet, "no progress on standard error");
  app.add_option("--run-records", o.run_records, "sites held in memory before sorting them to disk")
      ->group("")
      ->check(whole_number(UINT64_MAX / 2, "--run-records"));
  app.add_option("--max-open", o.max_open, "runs open at once while merging")
      ->group("")
      ->check(whole_number(1000000000, "--max-open"));
  app.add_option("INPUT", o.inputs, "coverage files (plain or gzip), or the one matrix file")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, std::cout, std::cout);
    std::cout.flush();
    std::exit(code == 0 ? 0 : 2);
  }
  o.mod_given = mod->count() > 0;
  // Options that the format cannot use are command-line errors.
  auto usage = [](const std::string& msg) {
    std::cout << msg << "\nRun with --help for more information.\n";
    std::cout.flush();
    std::exit(2);
  };
  if (o.mod_given && o.format != "bedmethyl") usage("--mod applies to --format bedmethyl only");
  if (o.merge_strands && o.format != "bedmethyl" && o.format != "cpgreport" && o.format != "allc")
    usage("--merge-strands: --format " + o.format +
          " has no strand column, so the two C of a CpG cannot be told apart from two neighbouring C "
          "(use the caller's own strand merging, or a layout with a strand: cpgreport, allc, bedmethyl)");
  return o;
}

}  // namespace prep
