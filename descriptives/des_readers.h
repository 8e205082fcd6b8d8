// Readers and tables of descriptives: the sample list, and the per-chunk
// tables of the site loop (coordinates of the coverage file, the first
// sample's methylation file). A library of their own so the fuzz targets link
// the same code.
#pragma once

#include "linereader.h"

#include <string>
#include <string_view>
#include <vector>

// Sample names in list order (empty lines skipped) and their count.
extern std::vector<std::string> samplenames;
extern long n_sample;
// Coordinates of the chunk's sites (field 1 of the coverage file's lines, see
// des_stats.h) and the number of sites.
extern std::vector<int> coord;
extern long n_coord;

// Sample names, one per line, in list order; empty lines are skipped.
void read_sample(const char* path);


// "file named <path>  is not open \n", status 255.
[[noreturn]] void die_not_open(const std::string& path);
// A read error after the file opened: names the file and the reason, status 255.
[[noreturn]] void die_read_error(const std::string& path, const LineReader& in);
[[noreturn]] void die_read_error(const std::string& path, int err);
