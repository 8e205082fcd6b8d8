#include "gram_io.h"

#include "gram_blocks.h"
#include "gram_readers.h"
#include "layout.h"
#include "numformat.h"
#include "numparse.h"
#include "outfile.h"
#include "sysutil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

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
                      const Matrix& m2, const std::vector<OutFile*>& others) {
  OutFile f1, f2;
  // exit() runs no destructors: remove both temporaries before dying.
  auto fail = [&](OutFile& f, const std::string& path) {
    const std::string reason = f.error();
    f1.abort();
    f2.abort();
    for (OutFile* o : others) o->abort();
    die_output(path, reason);
  };
  if (!fill_block(f1, path1, m1)) fail(f1, path1);
  if (!fill_block(f2, path2, m2)) fail(f2, path2);
  for (OutFile* o : others)
    if (!o->commit()) fail(*o, o->path());
  if (!f1.commit()) fail(f1, path1);
  if (!f2.commit()) fail(f2, path2);
}

long RunDescriptives::total() const {
  long t = 0;
  for (long n : sites) t += n;
  return t;
}

RunDescriptives read_run_descriptives(const std::string& des_prefix, long first_chr, long last_chr) {
  RunDescriptives des;
  des.first_chr = first_chr;
  for (long chr = first_chr; chr <= last_chr; ++chr) {
    des.paths.push_back(layout::des_path(des_prefix, chr));
    const std::string& path = des.paths.back();
    struct stat st;
    // Read twice (counted here, summed later): a pipe would not give its
    // lines again.
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      die("descriptives file " + path + " is not a regular file\n");
    const long before = start_coord;
    read_mean_sd(path.c_str());
    des.sites.push_back(start_coord - before);
  }
  return des;
}

std::string meth_path(const std::string& meth_prefix, const RunDescriptives& des, size_t q,
                      const std::string& name) {
  return layout::meth_path(meth_prefix, des.first_chr + static_cast<long>(q), name);
}

void die_changed(const std::string& des_path) {
  die("descriptives file " + des_path + " changed while it was read\n");
}

bool DesReader::read(double* mean, double* sd, size_t n) {
  std::string_view line;
  size_t filled = 0;
  while (filled < n) {
    if (q_ >= des_.paths.size()) return false;
    if (!open_) {
      if (!in_.open(des_.paths[q_].c_str())) return false;
      if (!in_.next(line) && des_.sites[q_] > 0) return false;  // header
      open_ = true;
      pos_ = 0;
    }
    while (filled < n && pos_ < des_.sites[q_]) {
      if (!in_.next(line)) return false;
      des_fields(line, mean[filled], sd[filled]);
      ++filled;
      ++pos_;
    }
    if (pos_ == des_.sites[q_]) {
      in_.close();
      open_ = false;
      ++q_;
    }
  }
  return true;
}

RunReader::RunReader(const std::string& meth_prefix, const RunDescriptives& des,
                     std::vector<std::string> names)
    : meth_prefix_(meth_prefix), des_(des), names_(std::move(names)) {}

bool RunReader::fail(size_t j, bool long_file) {
  if (in_.size()) {
    fault_ = in_.path(j);
    const std::string& des = des_.paths[q_];
    const std::string sites = std::to_string(des_.sites[q_]);
    if (in_.failed(j))
      fault_msg_ = "cannot read file " + fault_ + ": " + read_error_text(in_.errno_value(j)) + "\n";
    else if (long_file)
      fault_msg_ = "file named " + fault_ + " has more data lines than the " + sites + " sites of " + des + "\n";
    else
      fault_msg_ = "file named " + fault_ + " has " +
                   std::to_string(in_.lines(j) > 0 ? in_.lines(j) - 1 : 0) + " data lines, but " +
                   des + " has " + sites + " sites\n";
  }
  in_.close();
  open_ = false;
  failed_ = true;
  return false;
}

bool all_rereadable(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    struct stat st;
    if (stat(p.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

bool RunReader::open_chromosome() {
  std::vector<std::string> paths;
  paths.reserve(names_.size());
  for (const std::string& name : names_) paths.push_back(meth_path(meth_prefix_, des_, q_, name));
  size_t bad = 0;
  if (in_.open(std::move(paths), bad) != InStep::Open::ok) {
    fault_ = meth_path(meth_prefix_, des_, q_, names_[bad]);
    fault_msg_ = "file named " + fault_ + "  is not open \n";
    failed_ = true;
    return false;
  }
  std::string_view header;
  for (size_t j = 0; j < in_.size(); ++j) {
    in_.next(j, header);
    if (in_.failed(j)) return fail(j);
  }
  pos_ = 0;
  open_ = true;
  return true;
}

bool RunReader::close_chromosome() {
  std::string_view line;
  for (size_t j = 0; j < in_.size(); ++j) {
    if (in_.next(j, line)) return fail(j, true);
    if (in_.failed(j)) return fail(j);
    in_.done(j);
  }
  in_.close();
  open_ = false;
  return true;
}

bool RunReader::read(double* panel, size_t ld, size_t n) {
  if (failed_) return false;
  size_t filled = 0;
  while (filled < n && q_ < des_.sites.size()) {
    if (!open_ && !open_chromosome()) return false;
    if (pos_ == des_.sites[q_]) {
      if (!close_chromosome()) return false;
      ++q_;
      continue;
    }
    const size_t take = std::min(n - filled, static_cast<size_t>(des_.sites[q_] - pos_));
    for (size_t j = 0; j < in_.size(); ++j)
      if (in_.read(j, panel + filled * ld + j, ld, take) != take) return fail(j);
    pos_ += static_cast<long>(take);
    filled += take;
  }
  return true;
}

bool RunReader::finish() {
  if (failed_) return false;
  while (q_ < des_.sites.size()) {
    if (!open_ && !open_chromosome()) return false;
    if (pos_ != des_.sites[q_]) return fail(0);  // the caller stopped short
    if (!close_chromosome()) return false;
    ++q_;
  }
  return true;
}

void require_regular_if_grouped(const std::vector<std::string>& paths, size_t at_once,
                                size_t max_open) {
  if (at_once <= (max_open ? max_open : InStep::default_max_open())) return;
  for (const std::string& p : paths) {
    struct stat st;
    if (stat(p.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      die("file named " + p + " is not a regular file: " + std::to_string(at_once) +
          " files must be read at once, more than may be open, so each is reopened where it "
          "stopped\n");
  }
}

void print_read(const std::string& path) {
  say("file named " + path + "  is read  \n");
  std::fflush(stdout);
}

std::vector<std::string> block_paths(const std::string& meth_prefix, const RunDescriptives& des,
                                     long first, long last) {
  std::vector<std::string> paths;
  for (long s = first; s <= last; ++s)
    for (size_t q = 0; q < des.paths.size(); ++q)
      paths.push_back(meth_path(meth_prefix, des, q, samplenames[static_cast<size_t>(s - 1)]));
  return paths;
}

void check_block_files(const std::string& meth_prefix, const RunDescriptives& des, long first,
                       long last, void (*reader)(const char*)) {
  i_sample = 0;
  for (long s = first; s <= last; ++s) {
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

void print_run_zero_sd(const RunDescriptives& des, int copies) {
  DesReader in(des);
  constexpr size_t kChunk = 4096;
  std::vector<double> mean(kChunk), sd(kChunk);
  const size_t total = static_cast<size_t>(des.total());
  for (size_t k0 = 0; k0 < total; k0 += kChunk) {
    const size_t n = std::min(kChunk, total - k0);
    if (!in.read(mean.data(), sd.data(), n)) die_changed(in.path());
    for (size_t k = 0; k < n; ++k) {
      if (!sd_is_zero(sd[k])) continue;
      const std::string line = layout::zero_sd_line(k0 + k);
      for (int c = 0; c < copies; ++c) say(line);
    }
  }
}

}  // namespace gram
