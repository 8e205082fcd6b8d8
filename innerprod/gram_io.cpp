#include "gram_io.h"

#include "gram_blocks.h"
#include "gram_readers.h"
#include "numformat.h"
#include "numparse.h"
#include "outfile.h"
#include "sysutil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace gram {

void say(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

long arg_int(const char* s) { return num::parse_int(s, s + std::strlen(s)); }

void check_block(const char* what, long first, long last) {
  if (first < 1)
    die(std::string(what) + ": first sample " + std::to_string(first) + " is below 1\n");
  if (last < first)
    die(std::string(what) + ": last sample " + std::to_string(last) +
        " is below the first sample " + std::to_string(first) + "\n");
}

void check_in_list(const char* what, long last, const char* list_path) {
  if (last > n_sample)
    die(std::string(what) + ": last sample " + std::to_string(last) + " is beyond the " +
        std::to_string(n_sample) + " samples of " + list_path + "\n");
}

void print_seconds(std::clock_t start) {
  const float seconds = static_cast<float>(std::clock() - start) / 1000000;
  std::printf("Seconds used since reading methylation files: %g\n", static_cast<double>(seconds));
  std::fflush(stdout);
}

void print_zero_sd(const double* sd, size_t n, int copies) {
  for (size_t k = 0; k < n; ++k) {
    if (!sd_is_zero(sd[k])) continue;
    for (int c = 0; c < copies; ++c)
      std::printf(" Standardard deviation of site %zu is (very close to) zero: Loadings set to zero\n",
                  k);
  }
}

namespace {

// Announces `path`, then writes the matrix to `f`'s temporary file and
// flushes it; false on failure (f.error() says why).
bool fill_block(OutFile& f, const std::string& path, const Matrix& m) {
  say("outfile named " + path + "  is written \n");
  std::fflush(stdout);
  if (!f.open(path)) return false;
  char buf[num::kFormatBuf];
  for (size_t r = 0; r < m.rows(); ++r) {
    const double* row = m[r];
    for (size_t c = 0; c < m.cols(); ++c) {
      if (c) f.put(',');
      f.write(buf, num::format_e15(buf, row[c]));
    }
    f.put('\n');
  }
  return f.flush();
}

}  // namespace

void write_block(const std::string& path, const Matrix& m) {
  OutFile f;
  if (!fill_block(f, path, m) || !f.commit()) die_output(path, f.error());
}

void write_block_pair(const std::string& path1, const Matrix& m1, const std::string& path2,
                      const Matrix& m2) {
  OutFile f1, f2;
  // exit() runs no destructors: remove both temporaries before dying.
  auto fail = [&](OutFile& f, const std::string& path) {
    const std::string reason = f.error();
    f1.abort();
    f2.abort();
    die_output(path, reason);
  };
  if (!fill_block(f1, path1, m1)) fail(f1, path1);
  if (!fill_block(f2, path2, m2)) fail(f2, path2);
  if (!f1.commit()) fail(f1, path1);
  if (!f2.commit()) fail(f2, path2);
}

BlockStream::BlockStream(std::vector<std::string> paths, size_t n_samples, std::vector<long> sites,
                         std::vector<std::string> des_paths, bool give_back)
    : n_chrom_(sites.size()),
      sites_(std::move(sites)),
      des_paths_(std::move(des_paths)),
      give_back_(give_back) {
  restart(std::move(paths), n_samples);
}

void BlockStream::restart(std::vector<std::string> paths, size_t n_samples) {
  for (LineReader& in : in_) in.close();
  paths_ = std::move(paths);
  n_samples_ = n_samples;
  q_ = 0;
  pos_ = 0;
  open_ = failed_ = false;
  // Buffers of all open files together stay near 16 MB, each at most 256 KB
  // so that what one read brings in is parsed while still in L2.
  const size_t buf = std::clamp<size_t>((size_t{16} << 20) / std::max<size_t>(n_samples_, 1),
                                        size_t{64} << 10, size_t{256} << 10);
  while (in_.size() < n_samples_) in_.emplace_back(buf);
}

bool BlockStream::give_up() {
  for (LineReader& in : in_) in.close();
  open_ = false;
  failed_ = true;
  return false;
}

bool BlockStream::open_chromosome() {
  std::string_view header;
  for (size_t s = 0; s < n_samples_; ++s) {
    if (!in_[s].open(path(s).c_str())) {
      if (!give_back_) die_not_open(path(s));
      return give_up();
    }
    in_[s].next(header);
  }
  pos_ = 0;
  open_ = true;
  return true;
}

bool BlockStream::close_chromosome() {
  std::string_view line;
  for (size_t s = 0; s < n_samples_; ++s) {
    long lines = pos_;
    while (in_[s].next(line)) ++lines;
    if (in_[s].failed()) {
      if (!give_back_) die_read_error(path(s), in_[s].errno_value());
      return give_up();
    }
    if (lines != sites_[q_]) {
      if (!give_back_) die_line_count(path(s), lines, des_paths_[q_], sites_[q_]);
      return give_up();
    }
    in_[s].close();
  }
  open_ = false;
  return true;
}

bool BlockStream::read(double* panel, size_t ld, size_t n) {
  if (failed_) return false;
  size_t filled = 0;
  std::string_view line;
  while (filled < n && q_ < n_chrom_) {
    if (!open_ && !open_chromosome()) return false;
    if (pos_ == sites_[q_]) {
      if (!close_chromosome()) return false;
      ++q_;
      continue;
    }
    const size_t take = std::min(n - filled, static_cast<size_t>(sites_[q_] - pos_));
    for (size_t s = 0; s < n_samples_; ++s) {
      double* cell = panel + filled * ld + s;
      for (size_t r = 0; r < take; ++r, cell += ld) {
        if (!in_[s].next_field2(line, *cell)) {
          if (!give_back_) {
            if (in_[s].failed()) die_read_error(path(s), in_[s].errno_value());
            die_line_count(path(s), pos_ + static_cast<long>(r), des_paths_[q_], sites_[q_]);
          }
          return give_up();
        }
      }
    }
    pos_ += static_cast<long>(take);
    filled += take;
  }
  return true;
}

bool BlockStream::finish() {
  if (failed_) return false;
  while (q_ < n_chrom_) {
    if (!open_ && !open_chromosome()) return false;
    if (!close_chromosome()) return false;
    ++q_;
  }
  return true;
}

RunDescriptives read_run_descriptives(const std::string& des_prefix, long first_chr, long last_chr) {
  RunDescriptives des;
  des.first_chr = first_chr;
  for (long chr = first_chr; chr <= last_chr; ++chr) {
    des.paths.push_back(des_prefix + "des_chr" + std::to_string(chr) + ".csv");
    const long before = start_coord;
    read_mean_sd(des.paths.back().c_str());
    des.sites.push_back(start_coord - before);
  }
  return des;
}

std::string meth_path(const std::string& meth_prefix, const RunDescriptives& des, size_t q,
                      const std::string& name) {
  return meth_prefix + "chr" + std::to_string(des.first_chr + static_cast<long>(q)) + "/" + name +
         ".csv";
}

namespace {

#ifndef METHPCA_PLAIN
// Reads samples [s0, s0 + g) of a block, whose columns start at i_sample, in
// step, 512 sites at a time, so each matrix row receives its g values while
// its cache lines are at hand (file by file, every value lands on a cache
// line of its own and the whole matrix passes through memory once per
// sample). Values and counts are those of read_cpg_data: the same calls on
// the same lines. Prints nothing and returns false, every file closed, when
// any file does not open, fails to read or does not hold exactly its
// chromosome's sites; the caller then reads the group again file by file,
// which prints what that order prints.
bool read_group(const std::string& meth_prefix, const RunDescriptives& des, long s0, size_t g,
                Matrix& m, BlockStream& in) {
  const size_t col = static_cast<size_t>(i_sample);
  size_t total = 0;
  for (long n : des.sites) total += static_cast<size_t>(n);
  if (i_sample < 0 || col + g > m.cols() || total > m.rows()) return false;
  std::vector<std::string> paths;
  for (size_t j = 0; j < g; ++j)
    for (size_t q = 0; q < des.paths.size(); ++q)
      paths.push_back(meth_path(meth_prefix, des, q, samplenames[static_cast<size_t>(s0 - 1) + j]));
  in.restart(std::move(paths), g);
  constexpr size_t kRun = 512;
  for (size_t r0 = 0; r0 < total; r0 += kRun)
    if (!in.read(m[r0] + col, m.cols(), std::min(kRun, total - r0))) return false;
  return in.finish();
}
#endif

void print_read(const std::string& path) {
  say("file named " + path + "  is read  \n");
  std::fflush(stdout);
}

}  // namespace

void read_block_printing(const std::string& meth_prefix, const RunDescriptives& des, long first,
                         long last, void (*reader)(const char*), Matrix& m) {
  i_sample = 0;
#ifndef METHPCA_PLAIN
  constexpr size_t kGroup = 8;  // samples read in step: one cache line of a row
  BlockStream in({}, 0, des.sites, des.paths, /*give_back=*/true);
#endif
  for (long s = first; s <= last;) {
#ifndef METHPCA_PLAIN
    const size_t g = std::min<size_t>(kGroup, static_cast<size_t>(last - s + 1));
    if (g > 1 && read_group(meth_prefix, des, s, g, m, in)) {
      for (size_t j = 0; j < g; ++j)
        for (size_t q = 0; q < des.paths.size(); ++q)
          print_read(meth_path(meth_prefix, des, q, samplenames[static_cast<size_t>(s - 1) + j]));
      start_coord = 0;  // as the last sample's reads leave it
      for (long n : des.sites) start_coord += n;
      i_sample += static_cast<long>(g);
      s += static_cast<long>(g);
      continue;
    }
    const long group_end = s + static_cast<long>(g);
#else
    (void)m;
    const long group_end = s + 1;
#endif
    // File by file, as read_cpg_data reads them.
    for (; s < group_end; ++s) {
      start_coord = 0;
      for (size_t q = 0; q < des.paths.size(); ++q) {
        const std::string path =
            meth_path(meth_prefix, des, q, samplenames[static_cast<size_t>(s - 1)]);
        if (!can_open(path.c_str())) die_not_open(path);
        const long before = start_coord;
        reader(path.c_str());
        if (start_coord - before != des.sites[q])
          die_line_count(path, start_coord - before, des.paths[q], des.sites[q]);
        print_read(path);
      }
      ++i_sample;
    }
  }
}

}  // namespace gram
