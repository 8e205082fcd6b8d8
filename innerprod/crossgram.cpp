// crossgram: the block of the sample-by-sample inner-product matrix between a
// row sample block and a column sample block, summed over the sites of a run
// of chromosomes, from centred values ("rect_") and from standardized values
// ("rectst_").
//
// crossgram <methylation dir prefix> <sample-list file> <descriptives dir prefix>
//           <output prefix> <first chromosome> <last chromosome>
//           <first row sample> <last row sample> <first column sample> <last column sample>
//
// Both blocks' files are read in step, a chunk of sites at a time, so memory
// is the two result blocks and a few panels, whatever the number of sites.
#include "gram_blocks.h"
#include "gram_io.h"
#include "gram_kernel.h"
#include "gram_readers.h"
#include "layout.h"
#include "process.h"
#include "sysutil.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

namespace {

long tot_coord = 0;
long n_rows = 0;
long n_cols = 0;

const char* const kUsage =
    "usage: crossgram <methylation dir prefix> <sample-list file> <descriptives dir prefix> "
    "<output prefix> <first chromosome> <last chromosome> <first row sample> <last row sample> "
    "<first column sample> <last column sample>\n";

int run(int argc, char** argv) {
  require_arguments(argc, argv, kUsage);
  const std::string meth_prefix = argv[1];
  const char* sample_file = argv[2];
  const std::string des_prefix = argv[3];
  const std::string out_prefix = argv[4];
  const long first_chr = gram::arg_int(argv[5]);
  const long last_chr = gram::arg_int(argv[6]);
  const long a = gram::arg_int(argv[7]), b = gram::arg_int(argv[8]);
  const long c = gram::arg_int(argv[9]), d = gram::arg_int(argv[10]);
  gram::check_block("row block", a, b);
  gram::check_block("column block", c, d);

  // Timing starts before any file is read.
  const std::clock_t start = std::clock();

  const gram::RunDescriptives des = gram::read_run_descriptives(des_prefix, first_chr, last_chr);
  tot_coord = start_coord;
  gram::say("total # of sites " + std::to_string(tot_coord) + "\n");

  read_sample(sample_file);
  require_unique_names(samplenames, sample_file);
  gram::say("# samples " + std::to_string(n_sample) + "\n");
  gram::check_in_list("row block", b, sample_file);
  gram::check_in_list("column block", d, sample_file);

  n_rows = b - a + 1;
  n_cols = d - c + 1;
  const size_t m = static_cast<size_t>(n_rows);
  const size_t n_sites = static_cast<size_t>(tot_coord);
  Matrix centred_block, std_block;
  sizeMatrix(centred_block, n_rows, n_cols);
  sizeMatrix(std_block, n_rows, n_cols);

  // Both blocks' files are read in step into one panel, each file once: two
  // blocks that overlap share the columns of their common samples.
  const bool overlap = a <= d && c <= b;
  const long lo = overlap ? std::min(a, c) : 0;
  std::vector<long> panel_samples;
  size_t xo = 0, yo = m;
  if (overlap) {
    for (long s = lo; s <= std::max(b, d); ++s) panel_samples.push_back(s);
    xo = static_cast<size_t>(a - lo);
    yo = static_cast<size_t>(c - lo);
  } else {
    for (long s = a; s <= b; ++s) panel_samples.push_back(s);
    for (long s = c; s <= d; ++s) panel_samples.push_back(s);
  }
  const size_t width = panel_samples.size();
  std::vector<std::string> names, paths;
  for (long s : panel_samples) {
    names.push_back(samplenames[static_cast<size_t>(s - 1)]);
    for (size_t q = 0; q < des.paths.size(); ++q)
      paths.push_back(gram::meth_path(meth_prefix, des, q, names.back()));
  }
  gram::require_regular_if_grouped(paths, width);
  gram::RunReader in(meth_prefix, des, std::move(names));
  const bool ok = gram::sum_run_chunks(in, des, cpg_data_row, width, n_sites, [&](double* v, size_t n, double* z) {
    gram::cross_panel_chunk(v, width, width, n, xo, yo, mean_vector.data(), sd_vector.data(),
                            centred_block, std_block, z, gram::kAccumulate);
  });
  if (!ok) {
    // Files that cannot be read twice (pipes) are reported as found here.
    if (!gram::all_rereadable(paths)) die(in.fault_message());
    // Read again one by one, in the order that prints what it meets: the row
    // block's files, then whether the column block's open, then their lengths.
    sizeMatrix(cpg_data_row, 0, n_rows);
    sizeMatrix(cpg_data_col, 0, n_cols);
    gram::check_block_files(meth_prefix, des, a, b, read_cpg_data_row);
    const std::vector<std::string> col_paths = gram::block_paths(meth_prefix, des, c, d);
    for (const std::string& path : col_paths)
      if (!can_open(path.c_str())) die_not_open(path);
    gram::print_seconds(start);
    gram::say("Finish reading files. Start the computing of inner product matirx...\n");
    std::fflush(stdout);
    gram::print_run_zero_sd(des, 2);
    const size_t n_chrom = des.paths.size();
    for (size_t f = 0; f < col_paths.size(); ++f) {
      start_coord = 0;
      read_cpg_data_col(col_paths[f].c_str());
      const size_t q = f % n_chrom;
      if (start_coord != des.sites[q]) die_line_count(col_paths[f], start_coord, des.paths[q], des.sites[q]);
    }
    die("file named " + in.fault_path() + " changed while it was read\n");
  }
  for (const std::string& path : gram::block_paths(meth_prefix, des, a, b)) gram::print_read(path);
  gram::print_seconds(start);
  gram::say("Finish reading files. Start the computing of inner product matirx...\n");
  std::fflush(stdout);
  // Each constant site is reported twice (row and column values), in site
  // order.
  gram::print_run_zero_sd(des, 2);
  gram::print_seconds(start);
  gram::say(" done \n");

  gram::write_block_pair(out_prefix + layout::rect_name(a, b, c, d, false), centred_block,
                         out_prefix + layout::rect_name(a, b, c, d, true), std_block);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  try {
    return run(argc, argv);
  } catch (const std::exception&) {  // only allocations throw
    die("crossgram: not enough memory for " + std::to_string(tot_coord) + " sites of " + std::to_string(n_rows) + " and " +
        std::to_string(n_cols) + " samples\n");
  }
}
