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

// Reads the methylation files of a sample block in step, a chunk of sites at
// a time, into a site-major panel, keeping one file per sample open (those
// of one chromosome). Every file of chromosome q must hold exactly sites[q]
// data lines; a file that differs ends the process with status 255 before
// any output is written.
struct BlockStream {
  // paths[s * n_chrom + q]: file of sample s, chromosome q.
  BlockStream(std::vector<std::string> paths, size_t n_samples, std::vector<long> sites,
              std::vector<std::string> des_paths);
  // Stores the values of the next n sites of every sample in panel rows
  // [0, n) (row stride ld). The caller asks for no more sites than the
  // chromosomes hold.
  void read(double* panel, size_t ld, size_t n);
  // Checks that every file not yet finished holds no line beyond its sites.
  void finish();

 private:
  void open_chromosome();
  void close_chromosome();
  const std::string& path(size_t s) const { return paths_[s * n_chrom_ + q_]; }

  std::vector<std::string> paths_;
  size_t n_samples_, n_chrom_;
  std::vector<long> sites_;
  std::vector<std::string> des_paths_;
  std::vector<LineReader> in_;
  size_t q_ = 0;        // current chromosome
  long pos_ = 0;        // sites of it consumed
  bool open_ = false;   // files of q_ are open
};

}  // namespace gram
