// Input and output around the accumulation that selfgram and crossgram share:
// argument checks, progress lines, the block files, and the in-step reading
// of a sample block's methylation files chunk by chunk.
#pragma once

#include "linereader.h"
#include "matrix.h"

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

// The zero-SD line, `copies` times, for each of the first n sites whose SD
// is not above 1e-10, in site order.
void print_zero_sd(const double* sd, size_t n, int copies);

// Prints "outfile named <path>  is written \n", then writes the matrix row by
// row, values as %.15e separated by ",", each row ending in "\n". The file
// appears whole or not at all; on failure the process exits 255.
void write_block(const std::string& path, const Matrix& m);
// The two blocks of a run (centred, standardized), each written as above;
// both are written out before either is moved into place, so a failure
// leaves earlier files of both names as they were.
void write_block_pair(const std::string& path1, const Matrix& m1, const std::string& path2,
                      const Matrix& m2);

// The descriptives of a run of chromosomes, read with read_mean_sd in
// ascending order (sites end to end in the site tables): each chromosome's
// file path and number of sites, to check its methylation files against.
struct RunDescriptives {
  long first_chr = 0;
  std::vector<std::string> paths;
  std::vector<long> sites;
};
RunDescriptives read_run_descriptives(const std::string& des_prefix, long first_chr, long last_chr);

// Path of the methylation file of chromosome first_chr + q for `name`.
std::string meth_path(const std::string& meth_prefix, const RunDescriptives& des, size_t q,
                      const std::string& name);

// Reads sample positions first..last (1-based in the sample list) into the
// columns of the caller's data matrix `m` as `reader` (read_cpg_data or
// read_cpg_data_row, filling `m`) does, chromosome by chromosome: every file
// must open and hold exactly its chromosome's number of sites; after each
// file prints "file named <path>  is read  \n" and flushes. Groups of
// samples are read in step, each group's lines printed once it is read
// whole; a group with any fault is read again file by file, so messages and
// output are those of reading file by file.
void read_block_printing(const std::string& meth_prefix, const RunDescriptives& des, long first,
                         long last, void (*reader)(const char*), Matrix& m);

// Reads the methylation files of a sample block in step, a chunk of sites at
// a time, into a site-major panel, keeping one file per sample open (those
// of one chromosome). Every file of chromosome q must hold exactly sites[q]
// data lines. A file that does not open, fails to read or differs ends the
// process with status 255 and its message, before any output is written;
// with `give_back` set, such a fault prints nothing instead: read() and
// finish() return false, every file closed, and the caller decides.
struct BlockStream {
  // paths[s * n_chrom + q]: file of sample s, chromosome q.
  BlockStream(std::vector<std::string> paths, size_t n_samples, std::vector<long> sites,
              std::vector<std::string> des_paths, bool give_back = false);
  // Stores the values of the next n sites of every sample in panel rows
  // [0, n) (row stride ld). The caller asks for no more sites than the
  // chromosomes hold.
  bool read(double* panel, size_t ld, size_t n);
  // Checks that every file not yet finished holds no line beyond its sites.
  bool finish();
  // Starts over on other files (as the constructor; the sites and the fault
  // rule stay), keeping the read buffers.
  void restart(std::vector<std::string> paths, size_t n_samples);

 private:
  bool open_chromosome();
  bool close_chromosome();
  bool give_up();  // closes every file; false
  const std::string& path(size_t s) const { return paths_[s * n_chrom_ + q_]; }

  std::vector<std::string> paths_;
  size_t n_samples_, n_chrom_;
  std::vector<long> sites_;
  std::vector<std::string> des_paths_;
  std::vector<LineReader> in_;
  size_t q_ = 0;        // current chromosome
  long pos_ = 0;        // sites of it consumed
  bool open_ = false;   // files of q_ are open
  bool give_back_;
  bool failed_ = false;
};

}  // namespace gram
