// Readers of the loadings programs: the eigenvalue and eigenvector files
// written by the outside eigen-decomposition tool, and one chromosome's
// descriptives file. Each fills process-wide tables and returns nothing.
//
// Every reader skips the header line and stops at the end of the file or at
// the first empty line; the lines after an empty line are ignored.
#pragma once

#include "linereader.h"
#include "matrix.h"

#include <cstddef>
#include <string>
#include <vector>

// eigen_val[k]: eigenvalue of component k + 1, one per data line read.
extern std::vector<double> eigen_val;
// Number of data rows of the eigenvector file.
extern int n_sample;
// sample_names[i]: name of sample i, row i of the eigenvector file.
extern std::vector<std::string> sample_names;
// eigen_vec[i][k]: component of sample i in eigenvector k + 1 (n_sample x K).
extern Matrix eigen_vec;
// Per-site mean and standard deviation from the descriptives file.
extern std::vector<double> mean_vector;
extern std::vector<double> sd_vector;

// Announces the file, exits with status 255 when it does not open, then
// stores the leading number of each data line into eigen_val.
void read_eigenval(const char* path);

// Announces the file, exits with status 255 when it does not open, then sets
// n_sample to the number of data lines.
void read_n_sample(const char* path);

// Announces the file, exits with status 255 when it does not open, then fills
// sample_names and the first K columns of eigen_vec (sized by the caller) from
// each row: the name is field 1, between its first two double quotes; the
// components are fields 2 to K + 1. A row without a comma ends the rows when
// K is 0; a row with fewer than K component fields ends the run (status 255),
// and so does a name that two rows hold. When read_n_sample read `path` last,
// the rows it kept are used and the file is not opened again (a pipe gives its
// lines once).
void read_eigenvec(const char* path, int K);

// One chromosome's descriptives file read a chunk of rows at a time: the
// data lines after the header up to the end of the file or the first empty
// line, mean as field 2 and SD as field 3 (by the number of commas: with one,
// field 3 is the text before it; with none, both are the whole line).
class DesStream {
 public:
  // False when the file does not open.
  bool open(const char* path);
  // Up to n rows' mean and SD into mean[0..] and sd[0..]; returns how many:
  // fewer only at the end of the rows or on a read error (failed()).
  size_t read(double* mean, double* sd, size_t n);
  bool failed() const { return in_.failed(); }
  int errno_value() const { return in_.errno_value(); }

 private:
  LineReader in_;
  bool ended_ = false;
};

// Fills mean_vector with field 2 of each data line and, when `with_sd`, sd_vector
// with field 3 (through DesStream). Does not check that the file opened and
// prints nothing.
void read_des(const char* path, bool with_sd = true);

// Mean and standard deviation of site s; 0.0 for a site the descriptives file
// does not reach.
inline double mean_at(size_t s) { return s < mean_vector.size() ? mean_vector[s] : 0.0; }
inline double sd_at(size_t s) { return s < sd_vector.size() ? sd_vector[s] : 0.0; }
