// fullgram: one reading of every methylation file of a run of chromosomes
// gives both the descriptives file of each chromosome and the whole
// sample-by-sample inner-product matrix, centred ("diag_1.n_") and
// standardized ("diagst_1.n_"). The files are byte-identical to those of
// descriptives for each chromosome followed by selfgram over samples 1..n
// (which centres with the mean and SD as printed in the descriptives files,
// so the sums here use the printed values too).
//
// fullgram <methylation prefix> <sample-list file> <descriptives prefix>
//          <block prefix> <first chromosome> <last chromosome>
//
// Every file of a chromosome must hold the same number of data lines as the
// first sample's file, none of them empty (what both programs need of them).
// Memory: the two n x n matrices and a panel of a few thousand sites, whatever
// the number of sites.
#include "des_stats.h"
#include "gram_blocks.h"
#include "gram_io.h"
#include "gram_kernel.h"
#include "gram_readers.h"
#include "instep.h"
#include "layout.h"
#include "outfile.h"
#include "process.h"
#include "sysutil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

long tot_coord = 0;
// Descriptives files in the making, one per chromosome; process-wide so that
// exit() on a failure removes their temporaries (no file appears unless all
// of them and both blocks are whole).
std::vector<std::unique_ptr<OutFile>> des_files;

const char* const kUsage =
    "usage: fullgram <methylation prefix> <sample-list file> <descriptives prefix> "
    "<block prefix> <first chromosome> <last chromosome>\n";

[[noreturn]] void die_read(const std::string& path, int err) {
  die("cannot read file " + path + ": " + read_error_text(err) + "\n");
}

// Sample names must name distinct, non-empty files.
void check_names(const char* sample_file) {
  if (n_sample == 0) die(std::string("sample file ") + sample_file + " holds no sample names\n");
  for (size_t s = 0; s < samplenames.size(); ++s)
    if (samplenames[s].empty())
      die(std::string("sample file ") + sample_file + " has an empty line (line " +
          std::to_string(s + 1) + ")\n");
  require_unique_names(samplenames, sample_file);
}

// Reads chromosome `chr` in step and adds its sites to C and S; writes its
// descriptives file (not yet moved into place). Returns its number of sites.
long run_chromosome(const std::string& meth_prefix, const std::string& des_prefix, long chr,
                    size_t max_open, Matrix& C, Matrix& S) {
  const size_t n = samplenames.size();
  std::vector<std::string> paths;
  for (const std::string& name : samplenames)
    paths.push_back(layout::meth_path(meth_prefix, chr, name));
  InStep in(max_open);
  size_t bad = 0;
  switch (in.open(paths, bad)) {
    case InStep::Open::ok: break;
    case InStep::Open::not_open: die_not_open(paths[bad]);
    case InStep::Open::not_regular:
      die("file named " + paths[bad] + " is not a regular file\n");
  }
  std::string_view line;
  for (size_t j = 0; j < n; ++j)
    if (!in.next(j, line) && in.failed(j)) die_read(paths[j], in.errno_value(j));

  const std::string des_path = layout::des_path(des_prefix, chr);
  des_files.push_back(std::make_unique<OutFile>());
  OutFile& out = *des_files.back();
  if (!out.open(des_path)) die_output(des_path, out.error());
  out.write("coord,mean,SD\n");

  const size_t chunk = gram::chunk_sites(n);
  sizeMatrix(cpg_data, static_cast<long>(chunk), static_cast<long>(n));
  mean_vector.assign(chunk, 0.0);
  sd_vector.assign(chunk, 0.0);
  std::vector<double> site_mean(chunk), site_sd(chunk);
  std::vector<double> z(chunk * n);
  std::vector<char> empty(chunk);
  std::vector<int> coords(chunk);
  char buf[des::kLineBuf];
  long sites = 0;
  const std::string& first = paths[0];
  for (bool more = true; more;) {
    double* panel = cpg_data[0];
    // The first sample's file gives the sites (and their coordinates).
    size_t nb = 0;
    for (; nb < chunk && in.next(0, line); ++nb) {
      if (line.empty()) die("file named " + first + " has an empty line among its data lines\n");
      panel[nb * n] = layout::meth_value(line);
      coords[nb] = des::line_coord(line);
    }
    if (in.failed(0)) die_read(first, in.errno_value(0));
    more = nb == chunk;
    for (size_t j = 1; j < n; ++j) {
      const size_t got = in.read(j, panel + j, n, nb, empty.data(), 1);
      if (got < nb) {
        if (in.failed(j)) die_read(paths[j], in.errno_value(j));
        die("file named " + paths[j] + " has fewer data lines than " + first + "\n");
      }
      if (std::find(empty.begin(), empty.begin() + static_cast<long>(nb), 1) !=
          empty.begin() + static_cast<long>(nb))
        die("file named " + paths[j] + " has an empty line among its data lines\n");
    }
    // Each site: its descriptives line, then the values as printed there,
    // which centre and standardize the site's values.
    des::site_stats_rows(panel, n, nb, site_mean.data(), site_sd.data());
    for (size_t k = 0; k < nb; ++k) {
      const double mean = site_mean[k], sd = site_sd[k];
      out.write(buf, des::format_line(buf, coords[k], mean, sd, mean_vector[k], sd_vector[k]));
    }
    gram::self_chunk(panel, n, nb, mean_vector.data(), sd_vector.data(), C, S, z.data(),
                     gram::kAccumulate);
    sites += static_cast<long>(nb);
  }
  for (size_t j = 1; j < n; ++j) {
    if (in.next(j, line)) die("file named " + paths[j] + " has more data lines than " + first + "\n");
    if (in.failed(j)) die_read(paths[j], in.errno_value(j));
  }
  in.close();
  if (!out.flush()) die_output(des_path, out.error());
  return sites;
}

int run(int argc, char** argv) {
  require_arguments(argc, argv, kUsage);
  const std::string meth_prefix = argv[1];
  const char* sample_file = argv[2];
  const std::string des_prefix = argv[3];
  const std::string block_prefix = argv[4];
  const long first_chr = gram::arg_int(argv[5]);
  const long last_chr = gram::arg_int(argv[6]);
  if (last_chr < first_chr)
    die("last chromosome " + std::to_string(last_chr) + " is below the first chromosome " +
        std::to_string(first_chr) + "\n");

  gram::say(" Calculate descriptives and inner products for chromosomes " +
            std::to_string(first_chr) + " to " + std::to_string(last_chr) + "\n");
  read_sample(sample_file);
  check_names(sample_file);
  gram::say("# samples " + std::to_string(n_sample) + "\n");
  std::fflush(stdout);

  const std::clock_t start = std::clock();
  const long n = n_sample;
  Matrix centred_block, std_block;
  sizeMatrix(centred_block, n, n);
  sizeMatrix(std_block, n, n);
  // Descriptors for the inputs: the limit less the outputs held open.
  const long n_chrom = last_chr - first_chr + 1;
  const size_t avail = InStep::default_max_open();
  const size_t outputs = static_cast<size_t>(n_chrom) + 2;
  const size_t max_open = avail > outputs ? avail - outputs : 1;
  if (static_cast<size_t>(n) > max_open) {
    std::vector<std::string> all;
    for (long chr = first_chr; chr <= last_chr; ++chr)
      for (const std::string& name : samplenames)
        all.push_back(layout::meth_path(meth_prefix, chr, name));
    gram::require_regular_if_grouped(all, static_cast<size_t>(n), max_open);
  }
  for (long chr = first_chr; chr <= last_chr; ++chr) {
    const long sites =
        run_chromosome(meth_prefix, des_prefix, chr, max_open, centred_block, std_block);
    tot_coord += sites;
    gram::say(" chromosome " + std::to_string(chr) + ": " + std::to_string(sites) +
              " sites, descriptives file " + layout::des_path(des_prefix, chr) + "\n");
    std::fflush(stdout);
  }
  gram::say("total # of sites " + std::to_string(tot_coord) + "\n");
  gram::print_seconds(start);

  gram::mirror_lower(centred_block);
  gram::mirror_lower(std_block);
  // Blocks written out, then everything moved into place.
  std::vector<OutFile*> first_in_place;
  for (auto& f : des_files) first_in_place.push_back(f.get());
  gram::write_block_pair(block_prefix + layout::diag_name(1, n, false), centred_block,
                         block_prefix + layout::diag_name(1, n, true), std_block, first_in_place);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  try {
    return run(argc, argv);
  } catch (const std::exception&) {  // only allocations throw
    die("fullgram: not enough memory for " + std::to_string(n_sample) + " samples\n");
  }
}
