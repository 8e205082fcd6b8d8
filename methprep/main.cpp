// methprep: per-sample coverage files (or one beta-value matrix) to the
// aligned methylation files of the analysis.
//
// 1. Read every input, split its sites by sample and chromosome into sorted
//    temporary runs (memory bounded by --run-records, not by the cohort).
// 2. Per chromosome, merge all samples' runs in step to decide the kept
//    sites and the mean of the covering samples at each.
// 3. Per chromosome and sample, walk the kept list beside the sample's run
//    and write its file; then move everything into DIR at once.
#include "align.h"
#include "chrom.h"
#include "lines.h"
#include "names.h"
#include "options.h"
#include "parsers.h"
#include "process.h"
#include "report.h"
#include "split.h"
#include "sysutil.h"
#include "workspace.h"

#include <cmath>
#include <cstdio>

using namespace prep;

namespace {

bool g_quiet = false;

void progress(const std::string& msg) {
  if (g_quiet) return;
  std::fputs(msg.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  Options o = parse_options(argc, argv);
  g_quiet = o.quiet;
  bool matrix = o.format == "matrix";
  if (matrix && o.inputs.size() != 1) die("--format matrix reads exactly one input file\n", 2);

  ChromMap chroms;
  if (!o.chrom_map.empty()) {
    std::string err = chroms.load_map(o.chrom_map);
    if (!err.empty()) die(err);
  }
  if (!o.chroms.empty()) {
    std::string err = chroms.select(o.chroms);
    if (!err.empty()) die(err, 2);
  }

  // Sample names and origins, checked before any work.
  std::vector<std::string> names, origins;
  InputLines matrix_in;
  if (matrix) {
    if (!matrix_in.open(o.inputs[0])) die("cannot open " + o.inputs[0] + ": " + matrix_in.error() + "\n");
    names = matrix_header(matrix_in, o.inputs[0]);
    for (size_t k = 0; k < names.size(); ++k)
      origins.push_back("column " + std::to_string(k + 3) + " of " + o.inputs[0]);
  } else {
    for (const auto& p : o.inputs) {
      names.push_back(name_from_path(p));
      origins.push_back("from " + p);
    }
  }
  if (!o.names.empty()) {
    std::string err;
    std::vector<std::string> given = read_names(o.names, err);
    if (!err.empty()) die(err);
    if (given.size() != names.size())
      die("names file " + o.names + " holds " + std::to_string(given.size()) + " names for " +
          std::to_string(names.size()) + " samples\n");
    names = std::move(given);
    for (size_t k = 0; k < names.size(); ++k) origins[k] = "line " + std::to_string(k + 1) + " of " + o.names;
  }
  if (std::string err = check_names(names, origins); !err.empty()) die(err);
  size_t n = names.size();

  // Inputs must all open before the output folder is touched.
  if (!matrix)
    for (const auto& p : o.inputs) {
      InputLines probe;
      if (!probe.open(p)) die("cannot open " + p + ": " + probe.error() + "\n");
    }

  if (std::string err = workspace_open(o.out); !err.empty()) die(err);

  Splitter split(n, static_cast<size_t>(o.run_records));
  if (matrix) {
    progress("reading " + o.inputs[0] + " (" + std::to_string(n) + " samples)\n");
    split.begin_file(o.inputs[0], 0, n);
    parse_matrix(matrix_in, o.inputs[0], 0, n, chroms, split);
    split.end_file();
  } else {
    for (size_t s = 0; s < n; ++s) {
      const std::string& p = o.inputs[s];
      progress("reading " + p + " (" + std::to_string(s + 1) + "/" + std::to_string(n) + ")\n");
      InputLines in;
      if (!in.open(p)) fatal("cannot open " + p + ": " + in.error() + "\n");
      split.begin_file(p, s, 1);
      if (o.format == "bismark") parse_bismark(in, p, s, chroms, split);
      else if (o.format == "counts") parse_counts(in, p, s, chroms, split);
      else parse_bedgraph(in, p, s, chroms, split);
      split.end_file();
    }
  }

  AlignRule rule;
  rule.min_coverage = o.min_coverage;
  rule.min_covering = min_covering(o.min_samples, n);
  // Runs open at once while merging: what the open-file limit allows, less
  // room for the tallies, the output and standard streams.
  size_t max_open = n;
  long limit = raise_open_file_limit();
  if (limit > 0) max_open = limit > 40 ? static_cast<size_t>(limit) - 32 : 8;
  if (o.max_open > 0) max_open = static_cast<size_t>(o.max_open);

  std::vector<ChromStats> stats;
  for (int chrom : split.chromosomes()) {
    progress("merging chromosome " + std::to_string(chrom) + " (" + std::to_string(n) + " samples)\n");
    std::string kept;
    ChromStats st = decide_sites(split, chrom, n, rule, max_open, kept);
    progress("writing chromosome " + std::to_string(chrom) + ": " + std::to_string(st.kept) + " of " +
             std::to_string(st.seen) + " sites kept\n");
    write_chrom(split, chrom, names, rule, kept, st);
    stats.push_back(std::move(st));
  }
  write_samples(names);
  write_manifest(stats, chroms, names);
  workspace_publish();
  print_summary(stats, chroms, n, o.out);
  return 0;
}
