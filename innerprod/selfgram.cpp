// selfgram: the diagonal block of the sample-by-sample inner-product matrix
// for one sample block, summed over the sites of a run of chromosomes, from
// centred values ("diag_") and from standardized values ("diagst_").
//
// selfgram <methylation dir prefix> <sample-list file> <descriptives dir prefix>
//          <output prefix> <first chromosome> <last chromosome>
//          <first sample> <last sample>
#include "gram_blocks.h"
#include "gram_io.h"
#include "gram_kernel.h"
#include "gram_readers.h"
#include "layout.h"
#include "process.h"
#include "sysutil.h"

#include <cstdio>
#include <ctime>
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

namespace {

long tot_coord = 0;
long n_rows = 0;

const char* const kUsage =
    "usage: selfgram <methylation dir prefix> <sample-list file> <descriptives dir prefix> "
    "<output prefix> <first chromosome> <last chromosome> <first sample> <last sample>\n";

int run(int argc, char** argv) {
  require_arguments(argc, argv, kUsage);
  const std::string meth_prefix = argv[1];
  const char* sample_file = argv[2];
  const std::string des_prefix = argv[3];
  const std::string out_prefix = argv[4];
  const long first_chr = gram::arg_int(argv[5]);
  const long last_chr = gram::arg_int(argv[6]);
  const long first = gram::arg_int(argv[7]);
  const long last = gram::arg_int(argv[8]);
  gram::check_block("sample block", first, last);

  const gram::RunDescriptives des = gram::read_run_descriptives(des_prefix, first_chr, last_chr);
  tot_coord = start_coord;
  gram::say("total # of sites " + std::to_string(tot_coord) + "\n");

  read_sample(sample_file);
  require_unique_names(samplenames, sample_file);
  gram::say("# samples " + std::to_string(n_sample) + "\n");
  gram::check_in_list("sample block", last, sample_file);

  const std::clock_t start = std::clock();
  n_rows = last - first + 1;
  const size_t m = static_cast<size_t>(n_rows);
  const size_t n_sites = static_cast<size_t>(tot_coord);
  Matrix centred_block, std_block;
  sizeMatrix(centred_block, n_rows, n_rows);
  sizeMatrix(std_block, n_rows, n_rows);

  // The block's files are read in step, a chunk of sites at a time, and
  // summed as they come; nothing is printed until all are read. On a fault
  // they are read again one by one, which prints what that order meets.
  std::vector<std::string> names(samplenames.begin() + (first - 1), samplenames.begin() + last);
  gram::require_regular_if_grouped(gram::block_paths(meth_prefix, des, first, last), m);
  gram::RunReader in(meth_prefix, des, std::move(names));
  const bool ok = gram::sum_run_chunks(in, des, cpg_data, m, n_sites, [&](double* v, size_t n, double* z) {
    gram::self_chunk(v, m, n, mean_vector.data(), sd_vector.data(), centred_block, std_block, z,
                     gram::kAccumulate);
  });
  if (!ok) {
    // Files that cannot be read twice (pipes) are reported as found here.
    if (!gram::all_rereadable(gram::block_paths(meth_prefix, des, first, last)))
      die(in.fault_message());
    sizeMatrix(cpg_data, 0, n_rows);
    gram::check_block_files(meth_prefix, des, first, last, read_cpg_data);
    die("file named " + in.fault_path() + " changed while it was read\n");
  }
  for (const std::string& path : gram::block_paths(meth_prefix, des, first, last))
    gram::print_read(path);
  gram::print_seconds(start);
  gram::say("Finish reading files. Start the computing of inner product matirx...\n");
  std::fflush(stdout);
  gram::print_run_zero_sd(des, 1);
  gram::print_seconds(start);
  gram::say(" done \n");

  gram::mirror_lower(centred_block);
  gram::mirror_lower(std_block);
  gram::write_block_pair(out_prefix + layout::diag_name(first, last, false), centred_block,
                         out_prefix + layout::diag_name(first, last, true), std_block);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  try {
    return run(argc, argv);
  } catch (const std::exception&) {  // only allocations throw
    die("selfgram: not enough memory for " + std::to_string(tot_coord) + " sites of " + std::to_string(n_rows) + " samples\n");
  }
}
