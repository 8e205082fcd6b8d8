// Readers shared by selfgram and crossgram: they load the descriptives files,
// the sample list and the methylation files into the process-wide tables
// below. Every reader takes a path, fills its tables and returns nothing; a
// file that cannot be opened ends the process with status 255.
//
// Line rule of every reader: the lines after the header (read_sample has no
// header) are taken one by one, an empty line inside the file like any other;
// a final line feed adds no line. So the count a reader adds is the number of
// lines LineReader reports after the header, and an empty file or a header
// alone adds nothing.
#pragma once

#include "matrix.h"

#include <string>
#include <string_view>
#include <vector>

// Per-site tables: mean and SD of the sites of the chunk being summed.
extern std::vector<double> mean_vector;
extern std::vector<double> sd_vector;
// Sample list; sample number s (from 1) is samplenames[s - 1].
extern std::vector<std::string> samplenames;
extern long n_sample;
// Row cursor: index of the next site stored by read_mean_sd / read_cpg_data*.
extern long start_coord;
// Column of the data matrix that read_cpg_data* fills.
extern long i_sample;
// Data matrices: row k = site k of the chunk being summed, column c = c-th
// sample of a block. The file-by-file readers below store into them (the
// programs pass empty ones there, to count lines).
extern Matrix cpg_data;      // selfgram's block
extern Matrix cpg_data_row;  // crossgram's row block (and the column block beside it)
extern Matrix cpg_data_col;  // crossgram's column block

// Prints "file named <path>  is read \n" and advances start_coord by the
// file's number of data lines (its sites). The values are read a chunk at a
// time, as the sums need them, with des_fields.
void read_mean_sd(const char* path);
// Mean (field 2) and SD (field 3) of a descriptives data line.
void des_fields(std::string_view line, double& mean, double& sd);
// Fills samplenames (whole lines, untrimmed) and n_sample; prints
// "sample file <path>  is read \n".
void read_sample(const char* path);
// Stores field 2 of every data line in column i_sample of the data matrix,
// from row start_coord on. Lines beyond the matrix's rows are counted but not
// stored. Prints nothing.
void read_cpg_data(const char* path);
void read_cpg_data_row(const char* path);
void read_cpg_data_col(const char* path);

// Field cutting of these readers, by the number of commas in the line:
//   3 or more: field 2 between commas 1 and 2, field 3 between commas 2 and 3
//   2:         field 2 between commas 1 and 2, field 3 after comma 2
//   1:         field 2 after the comma,        field 3 before it
//   0:         both the whole line
std::string_view field2(std::string_view line);
std::string_view field3(std::string_view line);

// Helpers for the programs around the readers.
// True when `path` opens for reading (checked before read_cpg_data*).
bool can_open(const char* path);
// "file named <path>  is not open \n", status 255.
[[noreturn]] void die_not_open(const std::string& path);
// A read error after the file opened: names the file, status 255.
[[noreturn]] void die_read_error(const std::string& path, int err);
// A methylation file whose data lines do not match its chromosome's
// descriptives file: names both, status 255.
[[noreturn]] void die_line_count(const std::string& path, long lines, const std::string& des_path,
                                 long sites);
