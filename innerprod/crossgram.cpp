// crossgram: the block of the sample-by-sample inner-product matrix between a
// row sample block and a column sample block, summed over the sites of a run
// of chromosomes, from centred values ("rect_") and from standardized values
// ("rectst_").
//
// crossgram <methylation dir prefix> <sample-list file> <descriptives dir prefix>
//           <output prefix> <first chromosome> <last chromosome>
//           <first row sample> <last row sample> <first column sample> <last column sample>
//
// The row block is held whole; the column block's files are read in step, a
// chunk of sites at a time, so memory is one block plus a few panels. When the
// open-file limit cannot hold one file per column sample, the column block is
// held whole as well; the output is the same either way.
#include "gram_blocks.h"
#include "gram_io.h"
#include "gram_kernel.h"
#include "gram_readers.h"
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

// Descriptors kept free beside the column block's files.
constexpr long kSpareFiles = 8;

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
  gram::say("# samples " + std::to_string(n_sample) + "\n");
  gram::check_in_list("row block", b, sample_file);
  gram::check_in_list("column block", d, sample_file);

  const size_t n_chrom = des.paths.size();

  // Row block, held whole.
  n_rows = b - a + 1;
  sizeMatrix(cpg_data_row, tot_coord + 10, n_rows);
  gram::read_block_printing(meth_prefix, des, a, b, read_cpg_data_row, cpg_data_row);

  // Column block: every file must open, checked in reading order.
  n_cols = d - c + 1;
  std::vector<std::string> col_paths;
  for (long s = c; s <= d; ++s)
    for (size_t q = 0; q < n_chrom; ++q) {
      col_paths.push_back(gram::meth_path(meth_prefix, des, q, samplenames[static_cast<size_t>(s - 1)]));
      if (!can_open(col_paths.back().c_str())) die_not_open(col_paths.back());
    }
  const long file_limit = raise_open_file_limit();
  const bool streamed = file_limit < 0 || n_cols + kSpareFiles <= file_limit;
  // A column-block file of the wrong length is reported where streaming
  // finds it, after the zero-SD lines, whether streamed or held.
  std::string bad_path;
  long bad_lines = 0;
  size_t bad_q = 0;
  if (!streamed) {
    sizeMatrix(cpg_data_col, tot_coord + 10, n_cols);
    i_sample = 0;
    for (long s = c; s <= d; ++s) {
      start_coord = 0;
      for (size_t q = 0; q < n_chrom; ++q) {
        const std::string& path = col_paths[static_cast<size_t>(s - c) * n_chrom + q];
        const long before = start_coord;
        read_cpg_data_col(path.c_str());
        if (start_coord - before != des.sites[q] && bad_path.empty()) {
          bad_path = path;
          bad_lines = start_coord - before;
          bad_q = q;
        }
      }
      ++i_sample;
    }
  }

  gram::print_seconds(start);
  gram::say("Finish reading files. Start the computing of inner product matirx...\n");
  std::fflush(stdout);

  Matrix centred_block, std_block;
  sizeMatrix(centred_block, n_rows, n_cols);
  sizeMatrix(std_block, n_rows, n_cols);
  // Each constant site is reported twice (row and column values), in site
  // order, before the sums are formed.
  gram::print_zero_sd(sd_vector.data(), static_cast<size_t>(tot_coord), 2);
  if (!bad_path.empty()) die_line_count(bad_path, bad_lines, des.paths[bad_q], des.sites[bad_q]);

  const size_t n_sites = static_cast<size_t>(tot_coord);
  const size_t ldx = static_cast<size_t>(n_rows), ldy = static_cast<size_t>(n_cols);
  const size_t chunk = gram::chunk_sites(std::max(ldx, ldy));
  std::vector<double> zx, zy;
  if (streamed) {
    gram::BlockStream cols(std::move(col_paths), ldy, des.sites, des.paths);
    sizeMatrix(cpg_data_col, static_cast<long>(std::min(chunk, std::max<size_t>(n_sites, 1))),
               n_cols);
    for (size_t k0 = 0; k0 < n_sites; k0 += chunk) {
      const size_t n = std::min(chunk, n_sites - k0);
      cols.read(cpg_data_col[0], ldy, n);
      gram::cross_chunk(cpg_data_row[k0], ldx, cpg_data_col[0], ldy, n, mean_vector.data() + k0,
                        sd_vector.data() + k0, centred_block, std_block, zx, zy, gram::kAccumulate);
    }
    cols.finish();
  } else {
    for (size_t k0 = 0; k0 < n_sites; k0 += chunk) {
      const size_t n = std::min(chunk, n_sites - k0);
      gram::cross_chunk(cpg_data_row[k0], ldx, cpg_data_col[k0], ldy, n, mean_vector.data() + k0,
                        sd_vector.data() + k0, centred_block, std_block, zx, zy, gram::kAccumulate);
    }
  }
  gram::print_seconds(start);
  gram::say(" done \n");

  const std::string tag = std::to_string(a) + "." + std::to_string(b) + "_" + std::to_string(c) +
                          "." + std::to_string(d) + "_.csv";
  gram::write_block_pair(out_prefix + "rect_" + tag, centred_block, out_prefix + "rectst_" + tag, std_block);
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
