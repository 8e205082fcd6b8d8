// Input and output around the accumulation that selfgram and crossgram share:
// argument checks, progress lines, the block files, and the in-step reading
// of a sample block's methylation files chunk by chunk.
#pragma once

#include "gram_blocks.h"
#include "gram_readers.h"
#include "instep.h"
#include "linereader.h"
#include "matrix.h"
#include "outfile.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

namespace gram {

// Writes `s` to standard output (buffered).
void say(const std::string& s);

// Command-line integer, as atoi reads it.
long arg_int(const char* s);

// Exits 255 with a message when a sample block's first position is below 1
// or its last below its first. `what` names the block ("row block", ...).
void check_block(const char* what, long first, long last);
// Exits 255 when the block's last position lies beyond the sample list.
void check_in_list(const char* what, long last, const char* list_path);

// "Seconds used since reading methylation files: <t>", t the processor time
// since `start` in single precision, printed as %g; then a flush.
void print_seconds(std::clock_t start);

// Prints "outfile named <path>  is written \n", then writes the matrix row by
// row, values as %.15e separated by ",", each row ending in "\n". The file
// appears whole or not at all; on failure the process exits 255.
void write_block(const std::string& path, const Matrix& m);
// The two blocks of a run (centred, standardized), each written as above;
// both are written out before either is moved into place, so a failure
// leaves earlier files of both names as they were.
// Files of `others`, written and flushed by the caller, are moved into place
// first, after both blocks are written out.
void write_block_pair(const std::string& path1, const Matrix& m1, const std::string& path2,
                      const Matrix& m2, const std::vector<OutFile*>& others = {});

// The descriptives files of a run of chromosomes, in ascending order: each
// chromosome's file path and number of sites. read_run_descriptives announces
// and counts every file with read_mean_sd (the values are read again, a chunk
// at a time, by DesReader); a descriptives file must be a regular file.
struct RunDescriptives {
  long first_chr = 0;
  std::vector<std::string> paths;
  std::vector<long> sites;
  long total() const;
};
RunDescriptives read_run_descriptives(const std::string& des_prefix, long first_chr, long last_chr);

// Path of the methylation file of chromosome first_chr + q for `name`.
std::string meth_path(const std::string& meth_prefix, const RunDescriptives& des, size_t q,
                      const std::string& name);

// Mean and SD of the run's sites, a chunk at a time, cut from the
// descriptives lines as read_mean_sd cuts them.
class DesReader {
 public:
  explicit DesReader(const RunDescriptives& des) : des_(des) {}
  // The next n sites' mean and SD. False when a file no longer holds the
  // sites it was counted with (it changed during the run).
  bool read(double* mean, double* sd, size_t n);
  const std::string& path() const { return des_.paths[q_]; }

 private:
  const RunDescriptives des_;
  LineReader in_;
  size_t q_ = 0;
  long pos_ = 0;
  bool open_ = false;
};

// The methylation files of a set of samples over a run of chromosomes, read
// in step a chunk of sites at a time (chromosomes end to end, one
// chromosome's files open at a time). Every file of chromosome q must hold
// exactly des.sites[q] data lines. read() and finish() return false on the
// first fault (a file that does not open, fails to read, or holds another
// number of lines); the caller then reads the files again one by one to
// report it as that order meets it.
class RunReader {
 public:
  // names: the samples, in panel column order.
  RunReader(const std::string& meth_prefix, const RunDescriptives& des,
            std::vector<std::string> names);
  // Stores the next n sites of every sample in panel rows [0, n) (row stride
  // ld). The caller asks for no more sites than the run holds.
  bool read(double* panel, size_t ld, size_t n);
  // Checks the files still open hold no line beyond their sites.
  bool finish();
  // The file of the fault, after read() or finish() returned false.
  const std::string& fault_path() const { return fault_; }
  // Its message, as far as the reading in step knows it.
  const std::string& fault_message() const { return fault_msg_; }

 private:
  bool open_chromosome();
  bool close_chromosome();
  bool fail(size_t j, bool long_file = false);

  const std::string meth_prefix_;
  const RunDescriptives des_;
  std::vector<std::string> names_;
  InStep in_;
  size_t q_ = 0;
  long pos_ = 0;
  bool open_ = false, failed_ = false;
  std::string fault_, fault_msg_;
};

// "descriptives file <path> changed while it was read", status 255.
[[noreturn]] void die_changed(const std::string& des_path);

// The run's sites a chunk at a time: the methylation values of `in`'s
// samples into `panel` (sized here: a chunk of sites by `width` columns) and
// the sites' means and SDs into mean_vector and sd_vector, then
// add(values, sites, scratch) with a scratch panel of the same size. False
// on a fault of the methylation files (`in` tells which); a descriptives file
// that changed during the run stops the program.
template <class Add>
bool sum_run_chunks(RunReader& in, const RunDescriptives& des, Matrix& panel, size_t width,
                    size_t n_sites, Add&& add) {
  DesReader des_in(des);
  const size_t chunk = std::min(chunk_sites(width), std::max<size_t>(n_sites, 1));
  sizeMatrix(panel, static_cast<long>(chunk), static_cast<long>(width));
  mean_vector.assign(chunk, 0.0);
  sd_vector.assign(chunk, 0.0);
  std::vector<double> z(chunk * width);
  for (size_t k0 = 0; k0 < n_sites; k0 += chunk) {
    const size_t n = std::min(chunk, n_sites - k0);
    if (!in.read(panel[0], width, n)) return false;
    if (!des_in.read(mean_vector.data(), sd_vector.data(), n))
      die_changed(des_in.path());
    add(panel[0], n, z.data());
  }
  return in.finish();
}

// True when every path is a regular file (or does not exist): files that can
// be read a second time to report a fault in file order.
bool all_rereadable(const std::vector<std::string>& paths);

// Refuses, with a message and status 255, methylation files that are not
// regular files when more of them must be read at once than may be open
// (they could not be reopened where they stopped).
// `max_open` 0 takes InStep::default_max_open().
void require_regular_if_grouped(const std::vector<std::string>& paths, size_t at_once,
                                size_t max_open = 0);

// "file named <path>  is read  \n" and a flush: the line printed after each
// methylation file of a block.
void print_read(const std::string& path);

// Reads the files of samples first..last one by one with `reader` (one of
// read_cpg_data*, into an empty matrix: lines are counted, not stored),
// printing print_read after each, and ends the run at the first file that
// does not open, fails to read or holds another number of lines than its
// descriptives file, with that file's message. Returns when none is at fault.
void check_block_files(const std::string& meth_prefix, const RunDescriptives& des, long first,
                       long last, void (*reader)(const char*));

// The files of samples first..last in the order print_read announces them.
std::vector<std::string> block_paths(const std::string& meth_prefix, const RunDescriptives& des,
                                     long first, long last);

// The zero-SD line of every constant site of the run, `copies` times each,
// in site order (the SDs read again from the descriptives files).
void print_run_zero_sd(const RunDescriptives& des, int copies);

}  // namespace gram
