// Readers of the loadings programs: the eigenvalue and eigenvector files
// written by the outside eigen-decomposition tool, and one chromosome's
// descriptives file. Each fills process-wide tables and returns nothing.
//
// Every reader skips the header line and stops at the end of the file or at
// the first empty line; the lines after an empty line are ignored.
#pragma once

#include "matrix.h"

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
// K is 0; a row with fewer than K component fields ends the run (status 255).
void read_eigenvec(const char* path, int K);

// Fills mean_vector with field 2 of each data line and, when `with_sd`, sd_vector
// with field 3. Does not check that the file opened and prints nothing.
void read_des(const char* path, bool with_sd = true);

// Mean and standard deviation of site s; 0.0 for a site the descriptives file
// does not reach.
inline double mean_at(size_t s) { return s < mean_vector.size() ? mean_vector[s] : 0.0; }
inline double sd_at(size_t s) { return s < sd_vector.size() ? sd_vector[s] : 0.0; }
