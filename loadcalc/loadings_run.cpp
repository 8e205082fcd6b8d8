#include "loadings_run.h"

#include "eigen_readers.h"
#include "linereader.h"
#include "loadings_kernel.h"
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
#include <new>
#include <string_view>

std::string eigenfiles_label;
std::vector<double> constant;
Matrix loadings;

// Field 2 of a methylation line: after the first comma up to the second (or
// the end of the line); a line without a comma is field 2 as a whole.
double site_value(std::string_view line) {
  if (line.empty()) return 0.0;  // as atof("")
  const char* b = line.data();
  const char* e = b + line.size();
  const char* p1 = static_cast<const char*>(std::memchr(b, ',', line.size()));
  if (!p1) return num::parse_double(b, e);
  ++p1;
  const char* p2 = static_cast<const char*>(std::memchr(p1, ',', static_cast<size_t>(e - p1)));
  return num::parse_double(p1, p2 ? p2 : e);
}

namespace {

constexpr size_t kStreamBuffer = size_t{64} << 10;  // per sample; n streams are open at once

void say(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

int arg_int(const char* s) { return num::parse_int(s, s + std::strlen(s)); }

[[noreturn]] void die_read(const std::string& path, const LineReader& r) {
  die("cannot read file " + path + ": " + std::strerror(r.errno_value()) + "\n", 255);
}

void append_int(std::string& out, long v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

void write_loadings(const std::string& path, size_t n_sites, size_t K) {
  OutFile out;
  if (!out.open(path)) die_output(path, out.error());
  std::string line = "block";
  for (size_t k = 1; k <= K; ++k) {
    line += ",pc";
    append_int(line, static_cast<long>(k));
  }
  line += '\n';
  out.write(line);
  char num_buf[num::kFormatBuf];
  for (size_t s = 0; s < n_sites; ++s) {
    line.clear();
    append_int(line, static_cast<long>(s + 1));
    const double* row = loadings[s];
    for (size_t k = 0; k < K; ++k) {
      line += ',';
      line.append(num_buf, num::format_g15(num_buf, row[k]));
    }
    line += '\n';
    out.write(line);
  }
  if (!out.commit()) die_output(path, out.error());
}

int run(int argc, char** argv, const char* program, SiteValues mode) {
  const std::string usage = std::string("usage: ") + program +
                            " <methylation dir prefix> <descriptives dir prefix> <results prefix> <label>"
                            " <components K >= 0> <chromosome N>\n";
  require_arguments(argc, argv, usage);
  if (arg_int(argv[5]) < 0)
    die_argument(std::string(program) + ": argument 5 <components K >= 0> is \"" + argv[5] + "\", below 0", usage);
  const std::string meth_prefix = argv[1], des_prefix = argv[2], results_prefix = argv[3];
  eigenfiles_label = argv[4];
  const int K = arg_int(argv[5]);
  const int N = arg_int(argv[6]);
  const std::string chr = std::to_string(N);
  const bool standardize = mode == SiteValues::standardized;

  say(" Calculate loadings for the first " + std::to_string(K) + " principal components \n");

  const std::string eigenval_path = results_prefix + eigenfiles_label + "_eigenval.csv";
  read_eigenval(eigenval_path.c_str());
  if (eigen_val.size() < static_cast<size_t>(K))
    die("eigenvalue file " + eigenval_path + " holds " + std::to_string(eigen_val.size()) +
            " eigenvalues, fewer than the " + std::to_string(K) + " components asked for\n",
        255);

  const std::string eigenvec_path = results_prefix + eigenfiles_label + "_eigenvec.csv";
  read_n_sample(eigenvec_path.c_str());
  say(" Number of samples is " + std::to_string(n_sample) + "\n");
  if (n_sample < 2)
    die("eigenvector file " + eigenvec_path + " has fewer than two sample rows (" +
            std::to_string(n_sample) + ")\n",
        255);
  const size_t n = static_cast<size_t>(n_sample);
  sizeMatrix(eigen_vec, n_sample, K);
  read_eigenvec(eigenvec_path.c_str(), K);

  const std::string des_path = des_prefix + "des_chr" + chr + ".csv";
  {
    LineReader probe(64);
    if (!probe.open(des_path.c_str())) die("The file " + des_path + "  is not open \n", 1);
  }
  say("file named " + des_path + "  is read \n");
  read_des(des_path.c_str(), standardize);

  // One stream per sample, all open together.
  require_open_files(static_cast<long>(n));
  std::vector<std::string> paths(n);
  std::vector<LineReader> streams;
  streams.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    paths[i] = meth_prefix + "chr" + chr + "/" + sample_names[i] + ".csv";
    streams.emplace_back(kStreamBuffer);
    if (!streams[i].open(paths[i].c_str())) die("The file " + paths[i] + "  is not open \n", 1);
  }
  std::string_view line;
  for (size_t i = 0; i < n; ++i) streams[i].next(line);  // headers

  constant.assign(static_cast<size_t>(K), 0.0);
  for (size_t k = 0; k < constant.size(); ++k)
    constant[k] = 1.0 / (std::sqrt(static_cast<double>(n_sample - 1)) * std::sqrt(eigen_val[k]));

  // Site loop, driven by the first sample's file. A file that runs out counts
  // as empty lines, which is an error unless the first file has only empty
  // lines left (its trailing empty lines still count as sites).
  //
  // Sites are read in chunks: the first file yields up to `chunk` lines, then
  // every other file as many, one file after the other (each stream's buffer
  // stays warm), into a site-major table. The sites are then taken one by
  // one in order, with messages and checks at the site where the one-line-
  // per-file walk would meet them: a file's end or read error is kept as an
  // event at its site.
  sizeMatrix(loadings, 0, K);
  const size_t nk = static_cast<size_t>(K);
  loadings.cells.reserve(mean_vector.size() * nk);  // the descriptives file's sites, a hint
  const size_t chunk = std::max<size_t>(1, std::min<size_t>(256, (size_t{64} << 10) / n));
  std::vector<double> table(chunk * n), sums(nk);
  std::vector<char> first_empty(chunk);
  std::vector<char> ended(n, 0);
  struct Event {
    size_t site, file;
    bool error;
  };
  std::vector<Event> events;
  size_t first_ended = n;
  size_t s = 0;
  for (bool more = true; more;) {
    size_t nb = 0;
    double v;
    while (nb < chunk && streams[0].next_field2(line, v)) {
      table[nb * n] = v;
      first_empty[nb] = line.empty();
      ++nb;
    }
    more = nb == chunk;
    events.clear();
    for (size_t i = 1; i < n; ++i) {
      LineReader& in = streams[i];
      double* cell = table.data() + i;
      size_t k = 0;
      if (!ended[i]) {
        for (; k < nb; ++k, cell += n) {
          if (!in.next_field2(line, *cell)) {
            ended[i] = 1;
            events.push_back({s + k, i, in.failed()});
            break;
          }
        }
      }
      for (; k < nb; ++k, cell += n) *cell = 0.0;  // a missing line reads as an empty one, as atof("")
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& x, const Event& y) { return x.site < y.site; });
    auto ev = events.begin();
    for (size_t k = 0; k < nb; ++k, ++s) {
      const double mean = mean_at(s);
      double sd = 1.0;
      bool zero_sd = false;
      if (standardize) {
        sd = sd_at(s);
        zero_sd = !(sd > 1e-10);
        if (zero_sd)
          say(" Standardard deviation of site " + std::to_string(s) +
              " is (very close to) zero: Loadings set to zero\n");
      }
      for (; ev != events.end() && ev->site == s; ++ev) {
        if (ev->error) die_read(paths[ev->file], streams[ev->file]);
        first_ended = std::min(first_ended, ev->file);
      }
      double* row = table.data() + k * n;
      for (size_t i = 0; i < n; ++i) {
        if (standardize)
          row[i] = zero_sd ? 0.0 : (row[i] - mean) / sd;
        else
          row[i] = row[i] - mean;
      }
      if (!first_empty[k] && first_ended < n)
        die("methylation file " + paths[first_ended] + " has fewer lines than " + paths[0] + "\n",
            255);
    }
    // The chunk's sites passed every check: their loadings, in site order.
#ifdef METHPCA_PLAIN
    for (size_t k = 0; k < nb; ++k) {
      loadcalc::accumulate_ref(table.data() + k * n, n, eigen_vec.cells.data(), nk,
                               constant.data(), sums.data());
      loadings.cells.insert(loadings.cells.end(), sums.begin(), sums.end());
    }
#else
    const size_t filled = loadings.cells.size();
    loadings.cells.resize(filled + nb * nk);
    loadcalc::accumulate_sites(table.data(), n, nb, n, eigen_vec.cells.data(), nk,
                               constant.data(), loadings.cells.data() + filled);
#endif
    loadings.n_rows += nb;
  }
  if (streams[0].failed()) die_read(paths[0], streams[0]);
  for (size_t i = 1; i < n; ++i) {
    if (ended[i]) continue;
    while (streams[i].next(line))
      if (!line.empty())
        die("methylation file " + paths[i] + " has more lines than " + paths[0] + "\n", 255);
    if (streams[i].failed()) die_read(paths[i], streams[i]);
  }
  streams.clear();

  const std::string out_path =
      results_prefix + "loadings/" + eigenfiles_label + "_loadings_chr" + chr + ".csv";
  say(" The name of the output file is " + out_path + "\n");
  std::fflush(stdout);
  write_loadings(out_path, s, nk);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int run_loadings(int argc, char** argv, const char* program, SiteValues mode) {
  try {
    return run(argc, argv, program, mode);
  } catch (const std::bad_alloc&) {
    die("out of memory\n", 255);
  }
}
