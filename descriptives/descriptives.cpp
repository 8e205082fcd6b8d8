// descriptives: for one chromosome, the mean and the sample standard deviation
// of every site over all samples of the sample list, written to
// <descriptives prefix>des_chr<N>.csv. All samples' methylation files are open
// at once and read in step, so only a few sites' values are ever in memory.
//
// Usage: descriptives <methylation prefix> <sample-list file> <descriptives prefix> <chromosome>

#include "des_readers.h"
#include "des_stats.h"
#include "instep.h"
#include "layout.h"
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
#include <sys/stat.h>
#include <exception>
#include <vector>

// Process-wide tables of the site loop; they grow with the input.
std::vector<double> mean_vector;
std::vector<double> SD_vector;

namespace {
// The output in the making; process-wide so that exit() on a failure removes
// its temporary.
OutFile des_out;
}  // namespace

namespace {

// Read buffer of each sample's stream: small, since up to thousands are open.
constexpr size_t kSampleBuffer = size_t{64} << 10;

void say(std::string_view s) { std::fwrite(s.data(), 1, s.size(), stdout); }
void say_flush(std::string_view s) {
  say(s);
  std::fflush(stdout);
}


}  // namespace

int run(int argc, char** argv) {
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
  require_unique_names(samplenames, sample_file);

  // The first sample's file is the coverage file: its non-empty data lines
  // are the sites. It is read once, in step with the others; the number of
  // sites, printed before anything about the other files, is known at its
  // end, so when a message must come earlier the coverage file is read on
  // to its end to count them first.
  const std::string coverage = layout::meth_path(meth_prefix, chrom, samplenames[0]);
  LineReader cov(kSampleBuffer);
  if (!cov.open(coverage.c_str())) die_not_open(coverage);
  say_flush("Begin to read coverage file\n");
  long cov_sites = 0;  // non-empty data lines of the coverage file read so far
  bool counted = false;
  std::string_view line;
  auto count_sites = [&]() {
    if (counted) return;
    while (cov.next(line))
      if (!line.empty()) ++cov_sites;
    if (cov.failed()) die_read_error(coverage, cov);
    n_coord = cov_sites;
    say(" The number of coordinates is: " + std::to_string(n_coord) + "\n");
    counted = true;
  };
  if (!cov.next(line) && cov.failed()) die_read_error(coverage, cov);  // header
  // Messages about the other files come after the count.
  auto fail = [&](const std::string& msg) {
    count_sites();
    die(msg);
  };

  const size_t n = static_cast<size_t>(n_sample);
  std::vector<std::string> paths;
  paths.reserve(n);
  for (size_t j = 0; j < n; ++j)
    paths.push_back(layout::meth_path(meth_prefix, chrom, samplenames[j]));
  const size_t max_open = std::max<size_t>(InStep::default_max_open(), 2) - 1;
  if (n - 1 > max_open)
    for (size_t j = 1; j < n; ++j) {
      struct stat st;
      if (stat(paths[j].c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        die("file named " + paths[j] + " is not a regular file: " + std::to_string(n) +
            " files must be read at once, more than may be open, so each is reopened where it "
            "stopped\n");
    }
  InStep in(max_open, kSampleBuffer);
  {
    size_t bad = 0;
    if (in.open(std::vector<std::string>(paths.begin() + 1, paths.end()), bad) != InStep::Open::ok)
      fail("file named " + paths[bad + 1] + "  is not open \n");
  }
  for (size_t j = 1; j < n; ++j)
    if (!in.next(j - 1, line) && in.failed(j - 1)) {
      count_sites();
      die_read_error(paths[j], in.errno_value(j - 1));
    }

  // The output is made as the sites come; it is moved into place only after
  // the last file is checked. A failure to write shows at the end, as it
  // would with the file written after the reading.
  const std::string out_path = layout::des_path(des_prefix, chrom);
  OutFile& out = des_out;
  const bool out_ok = out.open(out_path);
  if (out_ok) out.write("coord,mean,SD\n");

  // Sites in chunks: each stream yields the chunk's lines in one go
  // (site-major table, one row of n_sample values per site), then every site
  // is summed over the samples in list order. The first file found short or
  // with an empty line is the first in list order within the first chunk
  // where any is.
  const size_t chunk = std::max<size_t>(1, std::min<size_t>(256, (size_t{64} << 10) / n));
  std::vector<double> values(chunk * n);
  std::vector<char> empty(chunk);
  coord.assign(chunk, 0);
  mean_vector.assign(chunk, 0.0);
  SD_vector.assign(chunk, 0.0);
  char buf[des::kLineBuf];
  for (bool more = true; more;) {
    size_t nb = 0;
    bool hit_empty = false;
    for (; nb < chunk; ++nb) {
      if (!cov.next(line)) break;
      if (line.empty()) {
        hit_empty = true;
        break;
      }
      values[nb * n] = layout::meth_value(line);
      coord[nb] = des::line_coord(line);
      ++cov_sites;
    }
    if (nb < chunk) {
      // The coverage file's sites end here, unless a non-empty line follows
      // the empty one: then that empty line lies among its data lines.
      if (cov.failed()) die_read_error(coverage, cov);
      const long before = cov_sites;
      count_sites();
      if (hit_empty && n_coord > before)
        die("file named " + coverage + " has an empty line among its data lines\n");
      more = false;
    }
    for (size_t j = 1; j < n; ++j) {
      const size_t got = in.read(j - 1, values.data() + j, n, nb, empty.data(), 1);
      for (size_t k = 0; k < got; ++k)
        if (empty[k]) fail("file named " + paths[j] + " has an empty line among its data lines\n");
      if (got < nb) {
        if (in.failed(j - 1)) {
          count_sites();
          die_read_error(paths[j], in.errno_value(j - 1));
        }
        fail("file named " + paths[j] + " has fewer data lines than the coverage file\n");
      }
    }
    des::site_stats_rows(values.data(), n, nb, mean_vector.data(), SD_vector.data());
    if (out_ok)
      for (size_t k = 0; k < nb; ++k)
        out.write(buf, des::format_line(buf, coord[k], mean_vector[k], SD_vector[k]));
  }

  // Beyond the sites only empty lines may follow.
  for (size_t j = 1; j < n; ++j) {
    while (in.next(j - 1, line))
      if (!line.empty()) die("file named " + paths[j] + " has more data lines than the coverage file\n");
    if (in.failed(j - 1)) die_read_error(paths[j], in.errno_value(j - 1));
  }
  in.close();
  cov.close();

  say(" The name of the output file is \n" + out_path + "\n");
  std::fflush(stdout);
  if (!out_ok || !out.commit()) die_output(out_path, out.error());
  return 0;
}

int main(int argc, char** argv) {
  start_program(argc, argv);
  try {
    return run(argc, argv);
  } catch (const std::exception&) {  // only allocations throw
    die("descriptives: not enough memory for " + std::to_string(n_sample) + " samples\n");
  }
}
