// pcscores: the scores of listed samples on the first K components of an
// earlier analysis (std or cen), from its eigenvalues, its loadings files
// and its descriptives files:
//   score[s][k] = (sum over the run's sites, ascending, of z[s] * loading[k])
//                 / (sqrt(n - 1) * sqrt(lambda[k]))
// with n the analysis' samples (rows of its eigenvector file). Chromosome by
// chromosome, the descriptives, the loadings and the samples' methylation
// files are read in step a chunk of sites at a time; memory holds one chunk
// and the n x K sums, never a chromosome's sites.
#include "eigen_readers.h"
#include "instep.h"
#include "numformat.h"
#include "numparse.h"
#include "outfile.h"
#include "process.h"
#include "score_inputs.h"
#include "score_kernel.h"
#include "sysutil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void say(const std::string& s) {
  std::fwrite(s.data(), 1, s.size(), stdout);
  std::fflush(stdout);
}

const std::string kUsage =
    "usage: pcscores <methylation prefix> <sample-list file> <descriptives prefix> <results prefix> "
    "<label> <std|cen> <components K >= 1> <first chromosome> <last chromosome> <output file>\n";

long arg_int(const char* s) { return num::parse_int(s, s + std::strlen(s)); }

[[noreturn]] void die_not_open(const std::string& path) { die("file named " + path + "  is not open \n"); }
[[noreturn]] void die_read(const std::string& path, int err) {
  die("cannot read file " + path + ": " + std::strerror(err) + "\n");
}

// Sites per chunk: the panel of values (sites x samples) within about 2 MB.
size_t chunk_sites(size_t samples) {
  constexpr size_t kPanelBytes = size_t{2} << 20;
  return std::max<size_t>(kPanelBytes / (std::max<size_t>(samples, 1) * sizeof(double)), 1);
}

struct Run {
  std::string meth_prefix, des_prefix, loadings_prefix;
  std::vector<std::string> names;
  bool standardized = true;
  size_t K = 0;

  std::string des_path(long chr) const { return des_prefix + "des_chr" + std::to_string(chr) + ".csv"; }
  std::string loadings_path(long chr) const {
    return loadings_prefix + "_loadings_chr" + std::to_string(chr) + ".csv";
  }
  std::string meth_path(long chr, const std::string& name) const {
    return meth_prefix + "chr" + std::to_string(chr) + "/" + name + ".csv";
  }
};

// Every file of the run opens, and every loadings file has K columns: checked
// before the first site is read, so that a missing file ends a run at once.
void check_files(const Run& run, long first, long last) {
  for (long chr = first; chr <= last; ++chr) {
    LineReader probe(64);
    if (!probe.open(run.des_path(chr).c_str())) die_not_open(run.des_path(chr));
    proj::LoadingsChunks ld;
    const std::string lp = run.loadings_path(chr);
    if (!ld.open(lp)) die_not_open(lp);
    if (ld.failed()) die_read(lp, ld.errno_value());
    if (ld.columns() < run.K)
      die("loadings file " + lp + " has " + std::to_string(ld.columns()) +
          " component columns, fewer than the " + std::to_string(run.K) + " asked for\n");
    for (const std::string& name : run.names) {
      const std::string mp = run.meth_path(chr, name);
      if (!probe.open(mp.c_str())) die_not_open(mp);
    }
  }
}

// Adds chromosome chr's sites to acc (samples x K); returns its sites.
size_t add_chromosome(const Run& run, long chr, std::vector<double>& acc) {
  const size_t m = run.names.size(), K = run.K;
  const std::string dp = run.des_path(chr), lp = run.loadings_path(chr);
  proj::DesChunks des;
  if (!des.open(dp)) die_not_open(dp);
  proj::LoadingsChunks ld;
  if (!ld.open(lp)) die_not_open(lp);

  std::vector<std::string> paths;
  for (const std::string& name : run.names) paths.push_back(run.meth_path(chr, name));
  InStep in;
  size_t bad = 0;
  switch (in.open(paths, bad)) {
    case InStep::Open::ok:
      break;
    case InStep::Open::not_open:
      die_not_open(paths[bad]);
    case InStep::Open::not_regular:
      die("file named " + paths[bad] + " is not a regular file: " + std::to_string(m) +
          " files must be read at once, more than may be open, so each is reopened where it stopped\n");
  }
  std::string_view line;
  for (size_t j = 0; j < m; ++j)
    if (!in.next(j, line) && in.failed(j)) die_read(paths[j], in.errno_value(j));

  const size_t C = chunk_sites(m);
  std::vector<double> panel(C * m), mean(C), sd(C), load(C * K);
  for (;;) {
    const size_t n = des.read(mean.data(), sd.data(), C);
    if (des.failed()) die_read(dp, des.errno_value());
    if (n == 0) break;
    if (ld.read(load.data(), K, n) != n) {
      if (ld.failed()) die_read(lp, ld.errno_value());
      if (ld.short_row())
        die("loadings file " + lp + ": row " + std::to_string(ld.rows()) + " has fewer than " +
            std::to_string(K) + " loading fields\n");
      die("loadings file " + lp + " has fewer rows than descriptives file " + dp + " has sites\n");
    }
    for (size_t j = 0; j < m; ++j) {
      if (in.read(j, panel.data() + j, m, n) == n) continue;
      if (in.failed(j)) die_read(paths[j], in.errno_value(j));
      die("methylation file " + paths[j] + " has fewer lines than descriptives file " + dp +
          " has sites\n");
    }
    proj::site_values(panel.data(), m, m, n, mean.data(), run.standardized ? sd.data() : nullptr);
    proj::accumulate(panel.data(), m, m, n, load.data(), K, acc.data());
  }

  const std::string sites = std::to_string(des.sites());
  if (ld.more_rows())
    die("loadings file " + lp + " has more rows than descriptives file " + dp + " has sites (" +
        sites + ")\n");
  if (ld.failed()) die_read(lp, ld.errno_value());
  for (size_t j = 0; j < m; ++j) {
    while (in.next(j, line))
      if (!line.empty())
        die("methylation file " + paths[j] + " has more lines than descriptives file " + dp +
            " has sites (" + sites + ")\n");
    if (in.failed(j)) die_read(paths[j], in.errno_value(j));
    in.done(j);
  }
  in.close();
  return des.sites();
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  require_arguments(argc, argv, kUsage);
  Run run;
  run.meth_prefix = argv[1];
  const std::string list_path = argv[2];
  run.des_prefix = argv[3];
  const std::string results = std::string(argv[4]) + argv[5];
  run.loadings_prefix = std::string(argv[4]) + "loadings/" + argv[5];
  const std::string mode = argv[6];
  if (mode != "std" && mode != "cen")
    die_argument("pcscores: argument 6 <std|cen> is \"" + mode + "\", neither std nor cen", kUsage);
  run.standardized = mode == "std";
  const long K = arg_int(argv[7]);
  if (K < 1)
    die_argument(std::string("pcscores: argument 7 <components K >= 1> is \"") + argv[7] + "\", below 1",
                 kUsage);
  run.K = static_cast<size_t>(K);
  const long first = arg_int(argv[8]), last = arg_int(argv[9]);
  if (last < first)
    die_argument(std::string("pcscores: argument 9 <last chromosome> is \"") + argv[9] +
                     "\", below the first chromosome " + std::to_string(first),
                 kUsage);
  const std::string out_path = argv[10];

  say(" Scores on the first " + std::to_string(K) + " principal components (" + mode + ") \n");
  const std::string val_path = results + "_eigenval.csv", vec_path = results + "_eigenvec.csv";
  read_eigenval(val_path.c_str());
  if (eigen_val.size() < run.K)
    die("eigenvalue file " + val_path + " holds " + std::to_string(eigen_val.size()) +
        " eigenvalues, fewer than the " + std::to_string(K) + " components asked for\n");
  read_n_sample(vec_path.c_str());
  if (n_sample < 2)
    die("eigenvector file " + vec_path + " has fewer than two sample rows (" +
        std::to_string(n_sample) + ")\n");
  say(" Number of samples of the analysis is " + std::to_string(n_sample) + "\n");

  int err = 0;
  switch (proj::read_sample_list(list_path, run.names, err)) {
    case proj::ListRead::ok:
      break;
    case proj::ListRead::not_open:
      die_not_open(list_path);
    case proj::ListRead::read_error:
      die_read(list_path, err);
  }
  if (run.names.empty()) die("sample file named " + list_path + " holds no sample names\n");
  say(" Samples to project: " + std::to_string(run.names.size()) + "\n");

  raise_open_file_limit();
  check_files(run, first, last);
  std::vector<double> acc(run.names.size() * run.K, 0.0);
  for (long chr = first; chr <= last; ++chr) {
    const size_t sites = add_chromosome(run, chr, acc);
    say(" chromosome " + std::to_string(chr) + ": " + std::to_string(sites) + " sites \n");
  }

  const double root_n = std::sqrt(static_cast<double>(n_sample - 1));
  std::vector<double> denom(run.K);
  for (size_t k = 0; k < run.K; ++k) denom[k] = root_n * std::sqrt(eigen_val[k]);

  say(" The name of the output file is " + out_path + "\n");
  OutFile f;
  if (!f.open(out_path)) die_output(out_path, f.error());
  f.write("\"\"");
  for (size_t k = 0; k < run.K; ++k) f.write(",\"PC" + std::to_string(k + 1) + "\"");
  f.put('\n');
  char buf[num::kFormatBuf];
  for (size_t j = 0; j < run.names.size(); ++j) {
    f.put('"');
    f.write(run.names[j]);
    f.put('"');
    for (size_t k = 0; k < run.K; ++k) {
      f.put(',');
      f.write(buf, num::format_g17(buf, acc[j * run.K + k] / denom[k]));
    }
    f.put('\n');
  }
  if (!f.commit()) die_output(out_path, f.error());
  return 0;
}
