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

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace prep;

namespace {

bool g_quiet = false;

void progress(const std::string& msg) {
  if (g_quiet) return;
  std::fputs(msg.c_str(), stderr);
  std::fflush(stderr);
}

// Status of a failed open: the input's fault (1), or the run's (255).
int open_status(const InputLines& in) {
  int e = in.open_errno();
  return e == EMFILE || e == ENFILE || e == ENOMEM ? 255 : 1;
}

struct SeenFile {
  dev_t dev;
  ino_t ino;
  std::string label;
};

// Checks that `path` can be opened for reading without opening it: every
// file is opened once, when it is read, so that a pipe or named pipe works.
// Two files that are one (one pipe given twice, a link beside its target, the
// names file as an input) are refused. `what` names the kind of file in the
// messages ("names file ", or empty for an input). Error message or empty.
std::string check_file(const std::string& what, const std::string& path, std::vector<SeenFile>& seen) {
  struct stat st;
  const std::string label = what + path;
  if (stat(path.c_str(), &st) != 0) return "cannot open " + label + ": " + std::strerror(errno) + "\n";
  if (S_ISDIR(st.st_mode)) return "cannot open " + label + ": " + std::strerror(EISDIR) + "\n";
  if (access(path.c_str(), R_OK) != 0) return "cannot open " + label + ": " + std::strerror(errno) + "\n";
  for (const SeenFile& f : seen)
    if (f.dev == st.st_dev && f.ino == st.st_ino)
      return (what.empty() && f.label.find(' ') == std::string::npos ? "inputs " : "") + f.label + " and " +
             label + " are the same file\n";
  seen.push_back({st.st_dev, st.st_ino, label});
  return {};
}

int run(int argc, char** argv) {
  set_activity("reading the command line");
  Options o = parse_options(argc, argv);
  g_quiet = o.quiet;
  if (o.out.empty()) die("--out: empty folder name\n", 2);
  bool matrix = o.format == "matrix";
  if (matrix && o.inputs.size() != 1) die("--format matrix reads exactly one input file\n", 2);

  // Every file must be readable, and each given once, before any is read
  // (and before the output folder is touched).
  {
    std::vector<SeenFile> seen;
    for (const auto& p : o.inputs)
      if (std::string err = check_file("", p, seen); !err.empty()) die(err, 1);
    if (!o.names.empty())
      if (std::string err = check_file("names file ", o.names, seen); !err.empty()) die(err, 1);
    if (!o.chrom_map.empty())
      if (std::string err = check_file("chromosome map ", o.chrom_map, seen); !err.empty()) die(err, 1);
  }

  ChromMap chroms;
  if (!o.chrom_map.empty()) {
    set_activity("reading chromosome map " + o.chrom_map);
    std::string err = chroms.load_map(o.chrom_map);
    if (!err.empty()) die(err, 1);
  }
  if (!o.chroms.empty()) {
    std::string err = chroms.select(o.chroms);
    if (!err.empty()) die(err, 2);
  }

  // Sample names and origins, checked before any work.
  std::vector<std::string> names, origins;
  InputLines matrix_in;
  if (matrix) {
    set_activity("reading " + o.inputs[0]);
    if (!matrix_in.open(o.inputs[0]))
      die("cannot open " + o.inputs[0] + ": " + matrix_in.error() + "\n", open_status(matrix_in));
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
    set_activity("reading names file " + o.names);
    std::vector<std::string> given = read_names(o.names, err);
    if (!err.empty()) die(err, 1);
    if (given.size() != names.size())
      die("names file " + o.names + " holds " + std::to_string(given.size()) + " names for " +
          std::to_string(names.size()) + " samples\n", 1);
    names = std::move(given);
    for (size_t k = 0; k < names.size(); ++k) origins[k] = "line " + std::to_string(k + 1) + " of " + o.names;
  }
  if (std::string err = check_names(names, origins); !err.empty()) die(err, 1);
  size_t n = names.size();

  if (std::string err = workspace_open(o.out); !err.empty()) die(err);

  Splitter split(n, static_cast<size_t>(o.run_records));
  StrandRule strands;
  strands.merge_strands = o.merge_strands;
  strands.mod_m = o.mod != "h";
  strands.mod_h = o.mod != "m";
  if (matrix) {
    progress("reading " + o.inputs[0] + " (" + std::to_string(n) + " samples)\n");
    split.begin_file(o.inputs[0], 0, n);
    parse_matrix(matrix_in, o.inputs[0], 0, n, chroms, split);
    split.end_file();
  } else {
    for (size_t s = 0; s < n; ++s) {
      const std::string& p = o.inputs[s];
      progress("reading " + p + " (" + std::to_string(s + 1) + "/" + std::to_string(n) + ")\n");
      set_activity("reading " + p);
      InputLines in;
      if (!in.open(p)) fatal("cannot open " + p + ": " + in.error() + "\n", open_status(in));
      split.begin_file(p, s, 1);
      if (o.format == "bismark") parse_bismark(in, p, s, chroms, split);
      else if (o.format == "counts") parse_counts(in, p, s, chroms, split);
      else if (o.format == "bedgraph") parse_bedgraph(in, p, s, chroms, split);
      else if (o.format == "bedmethyl") parse_bedmethyl(in, p, s, strands, chroms, split);
      else if (o.format == "cpgreport") parse_cpgreport(in, p, s, strands, chroms, split);
      else if (o.format == "allc") parse_allc(in, p, s, strands, chroms, split);
      else parse_methyldackel(in, p, s, chroms, split);
      split.end_file();
    }
  }

  AlignRule rule;
  rule.min_coverage = o.min_coverage;
  rule.min_covering = min_covering(o.min_samples, n);
  // Runs open at once while merging: what the open-file limit allows, less
  // room for the tallies in and out, the standard streams and a margin (a
  // merge needs runs + 5 descriptors).
  size_t max_open = n;
  long limit = raise_open_file_limit();
  if (limit > 0) max_open = limit > 40 ? static_cast<size_t>(limit) - 32 : limit > 9 ? static_cast<size_t>(limit) - 8 : 1;
  if (o.max_open > 0) max_open = static_cast<size_t>(o.max_open);

  std::vector<ChromStats> stats;
  for (int chrom : split.chromosomes()) {
    progress("merging chromosome " + std::to_string(chrom) + " (" + std::to_string(n) + " samples)\n");
    set_activity("merging chromosome " + std::to_string(chrom));
    std::string kept;
    ChromStats st = decide_sites(split, chrom, n, rule, max_open, kept);
    progress("writing chromosome " + std::to_string(chrom) + ": " + std::to_string(st.kept) + " of " +
             std::to_string(st.seen) + " sites kept\n");
    set_activity("writing chromosome " + std::to_string(chrom));
    write_chrom(split, chrom, names, rule, kept, st);
    stats.push_back(std::move(st));
  }
  set_activity("writing " + o.out);
  write_samples(names);
  write_manifest(stats, chroms, names);
  workspace_publish();
  print_summary(stats, chroms, n, o.out, other_code_lines());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  // No exception leaves the program: out of memory (or any other failure
  // without its own message) is one line naming what was being done.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    fatal("out of memory while " + activity() + "\n", 255);
  } catch (const std::exception& e) {
    fatal(activity() + ": " + e.what() + "\n", 255);
  }
}
