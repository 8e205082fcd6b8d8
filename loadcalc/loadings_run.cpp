#include "loadings_run.h"

#include "eigen_readers.h"
#include "instep.h"
#include "layout.h"
#include "loadings_kernel.h"
#include "numformat.h"
#include "numparse.h"
#include "outfile.h"
#include "process.h"
#include "rowops.h"
#include "sysutil.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

namespace {

void say(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

// What is being read, for the out-of-memory message.
std::string reading;

int arg_int(const char* s) { return num::parse_int(s, s + std::strlen(s)); }

// K: decimal digits only, within int; otherwise the argument is named.
int arg_k(const char* s, int arg, const std::string& program, const std::string& usage) {
  const char* e = s + std::strlen(s);
  int v = 0;
  const auto r = std::from_chars(s, e, v);
  if (s != e && *s != '-' && r.ec == std::errc() && r.ptr == e) return v;
  const std::string what = program + ": argument " + std::to_string(arg) + " " +
                           usage_argument(usage, arg) + " is \"" + s + "\"";
  if (r.ec == std::errc() && r.ptr == e && v < 0) die_argument(what + ", below 0", usage);
  die_argument(what + ", not a whole number", usage);
}

void append_int(std::string& out, size_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// One analysis: its eigen results and its loadings file.
struct Analysis {
  SiteValues mode = SiteValues::standardized;
  std::string prefix, label, vec_path, out_path;
  std::vector<double> ev;        // n x K: row i is sample i of the eigenvector file
  std::vector<double> constant;  // 1.0 / (sqrt(n - 1) * sqrt(lambda[k]))
  std::vector<std::string> names;
  // Panel column (order of the files' reading) of the analysis' sample i;
  // empty when the analysis reads the panel in its own order.
  std::vector<size_t> column;
  OutFile out;
  bool writing = false;  // the temporary file is open
};

// The eigenvalue and eigenvector files, with their messages and checks.
void read_eigen(Analysis& a, int K) {
  const std::string eigenval_path = layout::eigenval_path(a.prefix, a.label);
  reading = eigenval_path;
  read_eigenval(eigenval_path.c_str());
  if (eigen_val.size() < static_cast<size_t>(K))
    die("eigenvalue file " + eigenval_path + " holds " + std::to_string(eigen_val.size()) +
            " eigenvalues, fewer than the " + std::to_string(K) + " components asked for\n",
        255);
  a.vec_path = layout::eigenvec_path(a.prefix, a.label);
  reading = a.vec_path;
  read_n_sample(a.vec_path.c_str());
  say(" Number of samples is " + std::to_string(n_sample) + "\n");
  if (n_sample < 2)
    die("eigenvector file " + a.vec_path + " has fewer than two sample rows (" +
            std::to_string(n_sample) + ")\n",
        255);
  sizeMatrix(eigen_vec, n_sample, K);
  read_eigenvec(a.vec_path.c_str(), K);
  a.constant.assign(static_cast<size_t>(K), 0.0);
  for (size_t k = 0; k < a.constant.size(); ++k)
    a.constant[k] = 1.0 / (std::sqrt(static_cast<double>(n_sample - 1)) * std::sqrt(eigen_val[k]));
  a.ev = std::move(eigen_vec.cells);
  a.names = std::move(sample_names);
}

// Finds every sample of `b` among those of `a` (the order the files are read
// in); the two files must list the same samples.
void map_samples(const Analysis& a, Analysis& b) {
  const size_t n = a.names.size();
  if (b.names.size() != n)
    die("eigenvector files " + a.vec_path + " and " + b.vec_path + " list different samples (" +
            std::to_string(n) + " and " + std::to_string(b.names.size()) + " rows)\n",
        255);
  std::unordered_map<std::string_view, size_t> column;
  for (size_t j = 0; j < n; ++j) column.emplace(a.names[j], j);
  b.column.resize(n);
  for (size_t i = 0; i < n; ++i) {
    auto it = column.find(b.names[i]);
    if (it == column.end())
      die("eigenvector files " + a.vec_path + " and " + b.vec_path +
              " list different samples: " + b.names[i] + " is only in " + b.vec_path + "\n",
          255);
    b.column[i] = it->second;
  }
}

// The walk over one chromosome's sites for one or two analyses. The files are
// read in the sample order of the first analysis; the first sample's file
// drives the site loop.
class Walk {
 public:
  Walk(Analysis* as, size_t na, size_t K) : as_(as), na_(na), K_(K) {}
  void run(const std::string& meth_prefix, const std::string& des_prefix, long chr);

 private:
  [[noreturn]] void fail(const std::string& msg, int status = 255) {
    for (size_t a = 0; a < na_; ++a) as_[a].out.abort();  // exit runs no destructors
    die(msg, status);
  }
  [[noreturn]] void fail_read(size_t j) {
    fail("cannot read file " + in_.path(j) + ": " + std::strerror(in_.errno_value(j)) + "\n");
  }
  [[noreturn]] void fail_des_read() {
    fail("cannot read file " + des_path_ + ": " + std::strerror(des_.errno_value()) + "\n");
  }
  void open_outputs(long chr);
  void write_rows(Analysis& a, const double* sums, size_t nb, size_t first_site);
  size_t count_des_rows(size_t so_far);
  void check_second_order(size_t sites);

  Analysis* as_;
  size_t na_, K_;
  InStep in_;
  DesStream des_;
  std::string des_path_;
  size_t g_ = 0;         // panel column of the second analysis' first sample
  size_t g_last_ = 0;    // its lines up to its last non-empty one
  std::vector<char> line_;  // rows being formatted
};

void Walk::open_outputs(long chr) {
  std::string header = "block";
  for (size_t k = 1; k <= K_; ++k) {
    header += ",pc";
    append_int(header, k);
  }
  header += '\n';
  for (size_t a = 0; a < na_; ++a) {
    Analysis& an = as_[a];
    an.out_path = layout::loadings_path(an.prefix, an.label, chr);
    // A failure is reported where the program has always reported it, after
    // the sites are read and the file's name printed.
    an.writing = an.out.open(an.out_path);
    if (an.writing) an.out.write(header);
  }
}

void Walk::write_rows(Analysis& a, const double* sums, size_t nb, size_t first_site) {
  // Rows of the file, kRows at a time into line_: the site, then the K
  // loadings, each after a comma.
  constexpr size_t kRows = 64;
  const size_t row_room = 24 + K_ * num::kListRoom + 1;
  if (line_.size() < kRows * row_room) line_.resize(kRows * row_room);
  for (size_t k0 = 0; k0 < nb; k0 += kRows) {
    char* p = line_.data();
    for (size_t k = k0; k < nb && k < k0 + kRows; ++k) {
      p = std::to_chars(p, p + 24, first_site + k + 1).ptr;
      p += num::format_g15_list(p, sums + k * K_, K_);
      *p++ = '\n';
    }
    a.out.write(line_.data(), static_cast<size_t>(p - line_.data()));
  }
}

// Rows of the descriptives file: `so_far` read, the rest counted here.
size_t Walk::count_des_rows(size_t so_far) {
  double mean[256], sd[256];
  for (size_t got; (got = des_.read(mean, sd, 256)) > 0;) so_far += got;
  if (des_.failed()) fail_des_read();
  return so_far;
}

// weights' second analysis reads the files in another order, so another
// file drives its site loop: the rules of that loop, checked on the line
// counts once every file is read to its end (the first order's checks have
// passed, so each file's lines beyond `sites` are empty).
void Walk::check_second_order(size_t sites) {
  const Analysis& b = as_[1];
  auto data_lines = [&](size_t j) { return in_.lines(j) ? in_.lines(j) - 1 : 0; };
  const size_t lg = data_lines(g_);
  if (lg > sites)
    fail("methylation file " + in_.path(g_) + " holds more sites than the " +
         std::to_string(sites) + " of descriptives file " + des_path_ + "\n");
  if (lg < sites)
    fail("methylation file " + in_.path(g_) + " holds " + std::to_string(lg) +
         " sites, fewer than the " + std::to_string(sites) + " of descriptives file " + des_path_ +
         "\n");
  for (size_t i = 1; i < b.column.size(); ++i) {
    const size_t j = b.column[i];
    if (data_lines(j) < g_last_)
      fail("methylation file " + in_.path(j) + " has fewer lines than " + in_.path(g_) + "\n");
  }
}

void Walk::run(const std::string& meth_prefix, const std::string& des_prefix,
               long chr) {
  Analysis& first = as_[0];
  const size_t n = first.names.size();

  des_path_ = layout::des_path(des_prefix, chr);
  reading = des_path_ + " and the methylation files " + layout::meth_path(meth_prefix, chr, "*");
  if (!des_.open(des_path_.c_str())) die("The file " + des_path_ + "  is not open \n", 1);
  say("file named " + des_path_ + "  is read \n");

  {
    std::vector<std::string> paths(n);
    for (size_t i = 0; i < n; ++i) paths[i] = layout::meth_path(meth_prefix, chr, first.names[i]);
    size_t bad = 0;
    const InStep::Open opened = in_.open(paths, bad);
    if (opened == InStep::Open::not_open) die("The file " + paths[bad] + "  is not open \n", 1);
    if (opened == InStep::Open::not_regular)
      die("methylation file " + paths[bad] + " is not a regular file: " + std::to_string(n) +
              " files must be read at once, more than may be open, so each is reopened where it "
              "stopped\n",
          255);
  }
  std::string_view line;
  for (size_t j = 0; j < n; ++j) in_.next(j, line);  // headers; a read error shows at site 0

  const bool two = na_ > 1;
  g_ = two ? as_[1].column[0] : 0;
  const bool check_g = two && g_ != 0;
  bool any_std = false;
  for (size_t a = 0; a < na_; ++a) any_std |= as_[a].mode == SiteValues::standardized;

  open_outputs(chr);
  bool computing = false;
  for (size_t a = 0; a < na_; ++a) computing |= as_[a].writing;

  // Sites are read a chunk at a time: up to `chunk` lines of the first file,
  // then as many of every other file, into a site-major panel, and as many
  // descriptives rows. The sites are then taken one by one in order, with
  // messages and checks at the site where a one-line-per-file walk would
  // meet them: a file's end or read error is kept as an event at its site.
  // A file that runs out counts as empty lines, which is an error unless the
  // first file has only empty lines left (its empty lines are sites too).
  // With the files reopened in turn, chunks are longer: fewer reopenings.
  const size_t chunk =
      in_.all_open() ? std::max<size_t>(1, std::min<size_t>(256, (size_t{64} << 10) / n))
                     : std::max<size_t>(1, std::min<size_t>(65536, (size_t{1} << 20) / n));
  std::vector<double> table(chunk * n), table2(two ? chunk * n : 0), sums(chunk * K_);
  std::vector<double> mean(chunk), sd(chunk);
  std::vector<char> first_empty(chunk), g_empty(check_g ? chunk : 0);
  std::vector<char> ended(n, 0);
  struct Event {
    size_t site, file;
    bool error;
  };
  std::vector<Event> events;
  size_t first_ended = n;
  bool des_end = false;
  size_t s = 0;
  for (bool more = true; more;) {
    const size_t nb = in_.read(0, table.data(), n, chunk, first_empty.data());
    more = nb == chunk;
    events.clear();
    for (size_t j = 1; j < n; ++j) {
      double* cell = table.data() + j;
      size_t k = 0;
      if (!ended[j]) {
        const bool is_g = check_g && j == g_;
        k = in_.read(j, cell, n, nb, is_g ? g_empty.data() : nullptr);
        if (is_g)
          for (size_t q = 0; q < k; ++q)
            if (!g_empty[q]) g_last_ = s + q + 1;
        if (k < nb) {
          ended[j] = 1;
          events.push_back({s + k, j, in_.failed(j)});
        }
      }
      for (cell += k * n; k < nb; ++k, cell += n) *cell = 0.0;  // a missing line reads as an empty one
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& x, const Event& y) { return x.site < y.site; });
    const size_t dn = des_end ? 0 : des_.read(mean.data(), sd.data(), nb);
    if (dn < nb) des_end = true;

    auto ev = events.begin();
    for (size_t k = 0; k < nb; ++k) {
      const size_t site = s + k;
      if (k >= dn) {
        if (des_.failed()) fail_des_read();
        fail("methylation file " + in_.path(0) + " holds more sites than the " +
             std::to_string(site) + " of descriptives file " + des_path_ + "\n");
      }
      const bool zero_sd = any_std && layout::sd_is_zero(sd[k]);
      if (zero_sd) say(layout::zero_sd_line(site));
      for (; ev != events.end() && ev->site == site; ++ev) {
        if (ev->error) fail_read(ev->file);
        first_ended = std::min(first_ended, ev->file);
      }
      if (!first_empty[k] && first_ended < n)
        fail("methylation file " + in_.path(first_ended) + " has fewer lines than " + in_.path(0) +
             "\n");
      double* row = table.data() + k * n;
      if (two) {  // the second analysis first: the first overwrites the read values
        const Analysis& b = as_[1];
        double* out = table2.data() + k * n;
        for (size_t i = 0; i < n; ++i) {
          const double v = row[b.column[i]];
          out[i] = b.mode == SiteValues::standardized ? (zero_sd ? 0.0 : (v - mean[k]) / sd[k])
                                                       : v - mean[k];
        }
      }
      if (first.mode == SiteValues::standardized && zero_sd)
        std::fill(row, row + n, 0.0);
      else if (first.mode == SiteValues::standardized)
        rowops::sub_divide(row, n, mean[k], sd[k]);
      else
        for (size_t i = 0; i < n; ++i) row[i] = row[i] - mean[k];
    }
    // The chunk's sites passed every check: their loadings, in site order.
    if (computing)
      for (size_t a = 0; a < na_; ++a) {
        Analysis& an = as_[a];
        if (!an.writing) continue;
        const double* values = a == 0 ? table.data() : table2.data();
#ifdef METHPCA_PLAIN
        for (size_t k = 0; k < nb; ++k)
          loadcalc::accumulate_ref(values + k * n, n, an.ev.data(), K_, an.constant.data(),
                                   sums.data() + k * K_);
#else
        loadcalc::accumulate_sites(values, n, nb, n, an.ev.data(), K_, an.constant.data(),
                                   sums.data());
#endif
        write_rows(an, sums.data(), nb, s);
      }
    s += nb;
  }
  if (in_.failed(0)) fail_read(0);
  for (size_t j = 1; j < n; ++j) {
    if (ended[j]) {
      if (in_.failed(j)) fail_read(j);  // an error before the first site
      continue;
    }
    while (in_.next(j, line))
      if (!line.empty())
        fail("methylation file " + in_.path(j) + " has more lines than " + in_.path(0) + "\n");
    if (in_.failed(j)) fail_read(j);
  }
  if (!des_end) {
    const size_t rows = count_des_rows(s);
    if (rows > s)
      fail("methylation file " + in_.path(0) + " holds " + std::to_string(s) +
           " sites, fewer than the " + std::to_string(rows) + " of descriptives file " + des_path_ +
           "\n");
  }
  if (check_g) check_second_order(s);
  in_.close();

  for (size_t a = 0; a < na_; ++a) say(" The name of the output file is " + as_[a].out_path + "\n");
  std::fflush(stdout);
  // Every file complete and on disk before any is moved into place.
  for (size_t a = 0; a < na_; ++a) {
    Analysis& an = as_[a];
    if (!an.writing || !an.out.flush()) {
      const std::string reason = an.out.error();
      for (size_t b = 0; b < na_; ++b) as_[b].out.abort();
      die_output(an.out_path, reason);
    }
  }
  for (size_t a = 0; a < na_; ++a) {
    Analysis& an = as_[a];
    if (!an.out.commit()) {
      const std::string reason = an.out.error();
      for (size_t b = 0; b < na_; ++b) as_[b].out.abort();
      die_output(an.out_path, reason);
    }
  }
  std::fflush(stdout);
}

int run(int argc, char** argv, const char* program, SiteValues mode) {
  const std::string usage = std::string("usage: ") + program +
                            " <methylation dir prefix> <descriptives dir prefix> <results prefix>"
                            " <label> <components K >= 0> <chromosome N>\n";
  require_arguments(argc, argv, usage);
  const int K = arg_k(argv[5], 5, program, usage);
  const std::string meth_prefix = argv[1], des_prefix = argv[2];
  const long chr = arg_int(argv[6]);

  auto a = std::make_unique<Analysis>();
  a->mode = mode;
  a->prefix = argv[3];
  a->label = argv[4];
  say(" Calculate loadings for the first " + std::to_string(K) + " principal components \n");
  read_eigen(*a, K);
  Walk(a.get(), 1, static_cast<size_t>(K)).run(meth_prefix, des_prefix, chr);
  return 0;
}

// True when two folder names reach the same folder (by identity when both
// exist, else by name).
bool same_folder(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return a == b;
}

int run_both(int argc, char** argv) {
  const std::string usage =
      "usage: weights <methylation dir prefix> <descriptives dir prefix> <components K >= 0>"
      " <chromosome N> <std results prefix> <std label> <cen results prefix> <cen label>\n";
  require_arguments(argc, argv, usage);
  const int K = arg_k(argv[3], 3, "weights", usage);
  const std::string meth_prefix = argv[1], des_prefix = argv[2];
  const long chr = arg_int(argv[4]);

  std::unique_ptr<Analysis[]> as(new Analysis[2]);
  as[0].mode = SiteValues::standardized;
  as[0].prefix = argv[5];
  as[0].label = argv[6];
  as[1].mode = SiteValues::centred;
  as[1].prefix = argv[7];
  as[1].label = argv[8];
  // Both files in one place would leave only the one renamed last.
  if (as[0].label == as[1].label && same_folder(as[0].prefix + "loadings/", as[1].prefix + "loadings/"))
    die_argument("weights: the std and cen loadings files are the same file, " +
                     layout::loadings_path(as[0].prefix, as[0].label, chr) + " (give another label or prefix)",
                 usage);
  say(" Calculate loadings for the first " + std::to_string(K) + " principal components \n");
  read_eigen(as[0], K);
  read_eigen(as[1], K);
  map_samples(as[0], as[1]);
  Walk(as.get(), 2, static_cast<size_t>(K)).run(meth_prefix, des_prefix, chr);
  return 0;
}

}  // namespace

int run_loadings(int argc, char** argv, const char* program, SiteValues mode) {
  try {
    return run(argc, argv, program, mode);
  } catch (const std::bad_alloc&) {
    die("out of memory while reading " + (reading.empty() ? std::string("the arguments") : reading) +
            "\n",
        255);
  }
}

int run_weights(int argc, char** argv) {
  try {
    return run_both(argc, argv);
  } catch (const std::bad_alloc&) {
    die("out of memory while reading " + (reading.empty() ? std::string("the arguments") : reading) +
            "\n",
        255);
  }
}
