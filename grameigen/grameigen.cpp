// grameigen: assembles the inner-product blocks written by selfgram and
// crossgram into the whole sample-by-sample matrix, divides it by n - 1 and
// eigen-decomposes it, writing the eigenvalue and eigenvector files that
// stdweights and cenweights read, and a picture of the result.
//
// grameigen <sample-list file> <results prefix> <label> <std|cen>
//           <block prefix> [<block prefix> ...] [--groups FILE]

#include "blocks.h"
#include "eigen.h"
#include "linereader.h"
#include "outfile.h"
#include "plot.h"
#include "process.h"
#include "results.h"
#include "sysutil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: grameigen <sample-list file> <results prefix> <label> <std|cen> <block prefix> [<block prefix> ...] "
    "[--groups FILE]\n";

// Group of each sample from a file of "name<TAB>group" lines; samples the file
// does not name get an empty group. Lines without a tab (a header, say) are skipped.
std::vector<std::string> read_groups(const std::string& path, const std::vector<std::string>& names) {
  LineReader in;
  if (!in.open(path.c_str())) die("cannot open groups file " + path + ": " + std::strerror(errno) + "\n");
  std::map<std::string, std::string, std::less<>> group_of;
  std::string_view line;
  while (in.next(line)) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    group_of.emplace(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
  }
  if (in.failed()) die("cannot read groups file " + path + ": " + std::strerror(in.errno_value()) + "\n");
  std::vector<std::string> groups;
  for (const std::string& name : names) {
    auto it = group_of.find(name);
    groups.push_back(it == group_of.end() ? std::string() : it->second);
  }
  return groups;
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string groups_path;
  if (args.size() >= 2 && args[args.size() - 2] == "--groups") {
    groups_path = args.back();
    args.resize(args.size() - 2);
  }
  if (args.size() < 5)
    die_argument("grameigen: missing argument " + std::to_string(args.size() + 1) + " " + usage_argument(kUsage, static_cast<int>(args.size()) + 1), kUsage);
  const std::string& sample_path = args[0];
  const std::string& results_prefix = args[1];
  const std::string& label = args[2];
  if (args[3] != "std" && args[3] != "cen")
    die("the fourth argument must be std or cen, not \"" + args[3] + "\"\n" + kUsage);
  const ge::Kind kind = args[3] == "std" ? ge::Kind::Std : ge::Kind::Cen;
  std::vector<std::string> prefixes(args.begin() + 4, args.end());

  std::string err;
  std::vector<std::string> names;
  if (!ge::read_sample_list(sample_path, names, err)) die(err + "\n");
  const long n = static_cast<long>(names.size());
  std::printf("sample list %s: %ld samples\n", sample_path.c_str(), n);
  if (n < 2) die("the sample list " + sample_path + " holds " + std::to_string(n) +
                 " samples; the analysis needs at least 2\n");
  std::vector<std::string> groups;
  if (!groups_path.empty()) groups = read_groups(groups_path, names);

  // Sum of the blocks of every prefix, then the division by n - 1.
  Matrix a;
  std::vector<ge::BlockFile> used;
  if (!ge::assemble(prefixes, kind, n, a, used, err)) die(err + "\n");
  const double denom = static_cast<double>(n - 1);
  for (double& v : a.cells) v = v / denom;

  std::vector<double> values;
  Matrix vecs;
  if (!ge::sym_eigen(a, values, vecs, err)) die(err + "\n");

  const std::string base = results_prefix + label;
  const std::string paths[3] = {base + "_eigenval.csv", base + "_eigenvec.csv", base + "_pca.svg"};
  const std::string title = label + (kind == ge::Kind::Std ? ": standardized data (correlation)"
                                                           : ": centred data (covariance)");
  const std::string texts[3] = {ge::eigenval_text(values), ge::eigenvec_text(names, vecs),
                                ge::pca_svg(title, names, groups, values, vecs)};
  // Every output is created and written out (a full disk shows there) before
  // any is committed, so an unwritable one stops the run with nothing written.
  // (exit() runs no destructors, so the temporaries are removed by hand.)
  OutFile out[3];
  auto fail = [&](int i) {
    std::string reason = out[i].error();
    for (OutFile& o : out) o.abort();
    die_output(paths[i], reason);
  };
  for (int i = 0; i < 3; ++i)
    if (!out[i].open(paths[i])) fail(i);
  for (int i = 0; i < 3; ++i) {
    out[i].write(texts[i]);
    if (!out[i].flush()) fail(i);
  }
  for (int i = 0; i < 3; ++i)
    if (!out[i].commit()) fail(i);

  std::fputs(ge::summary_text(n, used, values, 10).c_str(), stdout);
  std::printf("written: %s\n         %s\n         %s\n", paths[0].c_str(), paths[1].c_str(), paths[2].c_str());
  return 0;
}
