// descriptives: for one chromosome, the mean and the sample standard deviation
// of every site over all samples of the sample list, written to
// <descriptives prefix>des_chr<N>.csv. All samples' methylation files are open
// at once and read in step, so only a few sites' values are ever in memory.
//
// Usage: descriptives <methylation prefix> <sample-list file> <descriptives prefix> <chromosome>

#include "des_readers.h"
#include "linereader.h"
#include "numformat.h"
#include "numparse.h"
#include "outfile.h"
#include "process.h"
#include "sysutil.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// Process-wide tables of the site loop; they grow with the input.
std::vector<double> mean_vector;
std::vector<double> SD_vector;

namespace {

// Read buffer of each sample's stream: small, since up to thousands are open.
constexpr size_t kSampleBuffer = size_t{64} << 10;

void say(std::string_view s) { std::fwrite(s.data(), 1, s.size(), stdout); }
void say_flush(std::string_view s) {
  say(s);
  std::fflush(stdout);
}

std::string methylation_path(const std::string& prefix, int chrom, const std::string& name) {
  return prefix + "chr" + std::to_string(chrom) + "/" + name + ".csv";
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  require_arguments(argc, argv, "usage: descriptives <methylation prefix> <sample-list file> <descriptives prefix> <chromosome>\n");
  const std::string meth_prefix = argv[1];
  const std::string sample_file = argv[2];
  const std::string des_prefix = argv[3];
  const int chrom = num::parse_int(argv[4], argv[4] + std::strlen(argv[4]));

  say(" Calculate descriptives for chromosome " + std::to_string(chrom) + "\n");
  say(" The name of the sample file is: " + sample_file + "\n");
  read_sample(sample_file.c_str());
  say_flush("Finish reading the sample file\n");
  if (n_sample == 0) die("sample file named " + sample_file + " holds no sample names\n");

  // The first sample's file is the coverage file: its coordinates define the sites.
  n_coord = 0;
  const std::string coverage = methylation_path(meth_prefix, chrom, samplenames[0]);
  {
    LineReader probe(64);
    if (!probe.open(coverage.c_str())) die_not_open(coverage);
  }
  say_flush("Begin to read coverage file\n");
  read_coord(coverage.c_str());
  say(" The number of coordinates is: " + std::to_string(n_coord) + "\n");

  // One stream per sample, all open together.
  require_open_files(n_sample);
  std::vector<std::string> paths;
  std::vector<LineReader> streams;
  paths.reserve(static_cast<size_t>(n_sample));
  streams.reserve(static_cast<size_t>(n_sample));
  for (long j = 0; j < n_sample; ++j) {
    paths.push_back(methylation_path(meth_prefix, chrom, samplenames[static_cast<size_t>(j)]));
    streams.emplace_back(kSampleBuffer);
    if (!streams.back().open(paths.back().c_str())) die_not_open(paths.back());
  }
  std::string_view line;
  for (long j = 0; j < n_sample; ++j) {
    LineReader& in = streams[static_cast<size_t>(j)];
    if (!in.next(line) && in.failed()) die_read_error(paths[static_cast<size_t>(j)], in);
  }

  // Sites are taken in chunks: each stream yields the chunk's lines in one go
  // (site-major table, one row of n_sample values per site), then every site
  // is summed over the samples in list order. The arithmetic per site is the
  // plain in-step loop's; the chunk only keeps each stream's buffer warm.
  const size_t n = static_cast<size_t>(n_sample);
  const size_t chunk = std::max<size_t>(1, std::min<size_t>(256, (size_t{64} << 10) / n));
  std::vector<double> values(chunk * n);
  mean_vector.assign(static_cast<size_t>(n_coord), 0.0);
  SD_vector.assign(static_cast<size_t>(n_coord), 0.0);
  const double n_d = static_cast<double>(n_sample);
  const double n1_d = static_cast<double>(n_sample - 1);

  for (size_t i0 = 0; i0 < static_cast<size_t>(n_coord); i0 += chunk) {
    const size_t nb = std::min(chunk, static_cast<size_t>(n_coord) - i0);
    for (size_t j = 0; j < n; ++j) {
      LineReader& in = streams[j];
      double* out = values.data() + j;
      for (size_t k = 0; k < nb; ++k) {
        double v;
        if (!in.next_field2(line, v)) {
          if (in.failed()) die_read_error(paths[j], in);
          die("file named " + paths[j] + " has fewer data lines than the coverage file\n");
        }
        if (line.empty()) die("file named " + paths[j] + " has an empty line among its data lines\n");
        out[k * n] = v;
      }
    }
    for (size_t k = 0; k < nb; ++k) {
      const double* v = values.data() + k * n;
      double sum = 0.0;
      for (size_t j = 0; j < n; ++j) sum += v[j];
      const double mean = sum / n_d;
      double ss = 0.0;
      for (size_t j = 0; j < n; ++j) {
        const double d = v[j] - mean;
        ss += d * d;
      }
      const double var = ss / n1_d;
      mean_vector[i0 + k] = mean;
      SD_vector[i0 + k] = var > 1e-10 ? std::sqrt(var) : 0.0;
    }
  }

  // Beyond the sites only empty lines may follow.
  for (size_t j = 0; j < n; ++j) {
    LineReader& in = streams[j];
    while (in.next(line))
      if (!line.empty()) die("file named " + paths[j] + " has more data lines than the coverage file\n");
    if (in.failed()) die_read_error(paths[j], in);
    in.close();
  }
  streams.clear();

  const std::string out_path = des_prefix + "des_chr" + std::to_string(chrom) + ".csv";
  say(" The name of the output file is \n" + out_path + "\n");
  std::fflush(stdout);

  OutFile out;
  if (!out.open(out_path)) die_output(out_path, out.error());
  out.write("coord,mean,SD\n");
  char buf[num::kFormatBuf];
  for (size_t i = 0; i < static_cast<size_t>(n_coord); ++i) {
    auto r = std::to_chars(buf, buf + sizeof buf, coord[i]);
    out.write(buf, static_cast<size_t>(r.ptr - buf));
    out.put(',');
    out.write(buf, num::format_g15(buf, mean_vector[i]));
    out.put(',');
    out.write(buf, num::format_g15(buf, SD_vector[i]));
    out.put('\n');
  }
  if (!out.commit()) die_output(out_path, out.error());
  return 0;
}
