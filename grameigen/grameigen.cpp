// grameigen: assembles the inner-product blocks written by selfgram and
// crossgram into the whole sample-by-sample matrix, divides it by n - 1 and
// eigen-decomposes it, writing the eigenvalue and eigenvector files that
// stdweights and cenweights read, the outlying samples and a picture of the
// result.
//
// grameigen <sample-list file> <results prefix> <label> <std|cen>
//           <block prefix> [<block prefix> ...]
//           [--groups FILE] [--outlier-sd X] [--outlier-pcs K]

#include "blocks.h"
#include "eigen.h"
#include "input.h"
#include "outfile.h"
#include "outliers.h"
#include "plot.h"
#include "process.h"
#include "results.h"
#include "sysutil.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: grameigen <sample-list file> <results prefix> <label> <std|cen> <block prefix> [<block prefix> ...] "
    "[--groups FILE] [--outlier-sd X] [--outlier-pcs K]\n";

// What the run is doing, for the message when memory runs out.
std::string doing = "reading the command line";

// Group of each sample from a file of "name<TAB>group" lines; samples the file
// does not name get an empty group. Lines without a tab (a header, say) are skipped.
std::vector<std::string> read_groups(const std::string& path, const std::vector<std::string>& names,
                                     const ge::SeenInput& sample_list) {
  ge::FileId id;
  if (ge::file_id(path, id) && id == sample_list.id)
    die("the groups file " + path + " is the same file as " + sample_list.what + "\n");
  ge::Input in;
  if (!in.open(path)) die("cannot open groups file " + path + ": " + std::strerror(errno) + "\n");
  std::map<std::string, std::string, std::less<>> group_of;
  std::string_view line;
  while (in.next(line)) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) continue;
    group_of.emplace(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
  }
  if (in.failed()) die("cannot read groups file " + path + ": " + in.reason() + "\n");
  std::vector<std::string> groups;
  for (const std::string& name : names) {
    auto it = group_of.find(name);
    groups.push_back(it == group_of.end() ? std::string() : it->second);
  }
  return groups;
}

struct Options {
  std::vector<std::string> positional;
  std::string groups_path;
  ge::OutlierRule outliers;
};

// Options may stand anywhere after the program name, each once, each with its value.
Options parse_args(int argc, char** argv) {
  Options o;
  bool have_groups = false, have_sd = false, have_pcs = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
      o.positional.push_back(a);
      continue;
    }
    bool* given = a == "--groups" ? &have_groups : a == "--outlier-sd" ? &have_sd : a == "--outlier-pcs" ? &have_pcs : nullptr;
    if (!given) die("unknown option " + a + "\n" + kUsage);
    if (*given) die("the option " + a + " is given twice\n" + kUsage);
    if (i + 1 >= argc) die("the option " + a + " needs a value\n" + kUsage);
    *given = true;
    const std::string v = argv[++i];
    const char* const b = v.data();
    const char* const e = b + v.size();
    if (a == "--groups") {
      o.groups_path = v;
    } else if (a == "--outlier-sd") {
      double x = 0;
      auto r = std::from_chars(b, e, x);
      if (v.empty() || r.ec != std::errc() || r.ptr != e || !std::isfinite(x) || !(x > 0))
        die("--outlier-sd \"" + v + "\": the number of standard deviations must be a positive number\n");
      o.outliers.sd = x;
    } else {
      long k = 0;
      auto r = std::from_chars(b, e, k);
      if (v.empty() || r.ec != std::errc() || r.ptr != e || k < 0)
        die("--outlier-pcs \"" + v + "\": the number of leading components must be a whole number from 0\n");
      o.outliers.components = k;
    }
  }
  return o;
}

int run(int argc, char** argv) {
  const Options opt = parse_args(argc, argv);
  const std::vector<std::string>& args = opt.positional;
  if (args.size() < 5)
    die_argument("grameigen: missing argument " + std::to_string(args.size() + 1) + " " +
                     usage_argument(kUsage, static_cast<int>(args.size()) + 1),
                 kUsage);
  const std::string& sample_path = args[0];
  const std::string& results_prefix = args[1];
  const std::string& label = args[2];
  if (args[3] != "std" && args[3] != "cen")
    die("the fourth argument must be std or cen, not \"" + args[3] + "\"\n" + kUsage);
  const ge::Kind kind = args[3] == "std" ? ge::Kind::Std : ge::Kind::Cen;
  std::vector<std::string> prefixes(args.begin() + 4, args.end());

  std::string err;
  std::vector<std::string> names;
  std::vector<ge::SeenInput> earlier(1);
  doing = "reading the sample list " + sample_path;
  if (!ge::read_sample_list(sample_path, names, err, &earlier[0])) die(err + "\n");
  const long n = static_cast<long>(names.size());
  std::printf("sample list %s: %ld samples\n", sample_path.c_str(), n);
  if (n < 2) die("the sample list " + sample_path + " holds " + std::to_string(n) +
                 " samples; the analysis needs at least 2\n");
  std::vector<std::string> groups;
  if (!opt.groups_path.empty()) {
    doing = "reading the groups file " + opt.groups_path;
    groups = read_groups(opt.groups_path, names, earlier[0]);
    ge::FileId id;
    if (ge::file_id(opt.groups_path, id)) earlier.push_back({"the groups file " + opt.groups_path, id});
  }

  // Sum of the blocks of every prefix, then the division by n - 1.
  Matrix a;
  std::vector<ge::BlockFile> used;
  doing = "reading the block files";
  if (!ge::assemble(prefixes, kind, n, a, used, err, earlier)) die(err + "\n");
  const double denom = static_cast<double>(n - 1);
  for (double& v : a.cells) v = v / denom;

  std::vector<double> values;
  Matrix vecs;
  if (!ge::sym_eigen(a, values, vecs, err) || !ge::check_result(values, vecs, err)) die(err + "\n");
  a = Matrix();

  doing = "writing the results";
  const size_t comps = ge::outlier_components(values, static_cast<size_t>(n), opt.outliers);
  const std::vector<ge::Outlier> found = ge::find_outliers(values, vecs, opt.outliers);
  std::vector<int> rounds;
  std::string note;
  if (!found.empty()) {
    rounds.assign(names.size(), 0);
    for (const ge::Outlier& o : found) rounds[o.sample] = o.round;
    char buf[256];
    std::snprintf(buf, sizeof buf, "ringed: %zu outlier%s beyond %g SD on one of %s (%d round%s)", found.size(),
                  found.size() == 1 ? "" : "s", opt.outliers.sd, ge::component_range(comps).c_str(), found.back().round,
                  found.back().round == 1 ? "" : "s");
    note = buf;
  }

  const std::string base = results_prefix + label;
  constexpr int kOut = 4;
  const std::string paths[kOut] = {base + "_eigenval.csv", base + "_eigenvec.csv", base + "_pca.svg",
                                   base + "_outliers.csv"};
  const std::string title = label + (kind == ge::Kind::Std ? ": standardized data (correlation)"
                                                           : ": centred data (covariance)");
  const std::string texts[kOut] = {ge::eigenval_text(values), ge::eigenvec_text(names, vecs),
                                   ge::pca_svg(title, names, groups, values, vecs, rounds, note),
                                   ge::outliers_csv(names, found)};
  // Every output is created and written out (a full disk shows there) before
  // any is committed, so an unwritable one stops the run with nothing written.
  // (exit() runs no destructors, so the temporaries are removed by hand.)
  OutFile out[kOut];
  auto fail = [&](int i) {
    std::string reason = out[i].error();
    for (OutFile& o : out) o.abort();
    die_output(paths[i], reason);
  };
  for (int i = 0; i < kOut; ++i)
    if (!out[i].open(paths[i])) fail(i);
  for (int i = 0; i < kOut; ++i) {
    out[i].write(texts[i]);
    if (!out[i].flush()) fail(i);
  }
  for (int i = 0; i < kOut; ++i)
    if (!out[i].commit()) fail(i);

  std::fputs(ge::summary_text(n, used, values, 10).c_str(), stdout);
  std::fputs(ge::outliers_report(names, found, opt.outliers, comps).c_str(), stdout);
  std::printf("written: %s\n", paths[0].c_str());
  for (int i = 1; i < kOut; ++i) std::printf("         %s\n", paths[i].c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  // Out of memory anywhere not caught nearer: one line naming the step.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    die("out of memory while " + doing + "\n");
  } catch (const std::exception& e) {
    die(std::string("failed while ") + doing + ": " + e.what() + "\n");
  }
}
