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
#include "process.h"
#include "sysutil.h"

#include <cstdio>
#include <ctime>
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
  gram::say("# samples " + std::to_string(n_sample) + "\n");
  gram::check_in_list("sample block", last, sample_file);

  const std::clock_t start = std::clock();
  n_rows = last - first + 1;
  sizeMatrix(cpg_data, tot_coord + 10, n_rows);
  gram::read_block_printing(meth_prefix, des, first, last, read_cpg_data, cpg_data);
  gram::print_seconds(start);
  gram::say("Finish reading files. Start the computing of inner product matirx...\n");
  std::fflush(stdout);

  Matrix centred_block, std_block;
  sizeMatrix(centred_block, n_rows, n_rows);
  sizeMatrix(std_block, n_rows, n_rows);
  // The zero-SD lines depend on the SDs alone; they come in site order
  // before the sums are formed.
  gram::print_zero_sd(sd_vector.data(), static_cast<size_t>(tot_coord), 1);
  gram::self_accumulate(cpg_data, mean_vector.data(), sd_vector.data(),
                        static_cast<size_t>(tot_coord), centred_block, std_block,
                        gram::chunk_sites(static_cast<size_t>(n_rows)), gram::kAccumulate);
  gram::print_seconds(start);
  gram::say(" done \n");

  gram::mirror_lower(centred_block);
  gram::mirror_lower(std_block);
  const std::string tag = std::to_string(first) + "." + std::to_string(last) + "_.csv";
  gram::write_block_pair(out_prefix + "diag_" + tag, centred_block, out_prefix + "diagst_" + tag, std_block);
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
