// Readers of descriptives: the sample list and the coverage file (the first
// sample's methylation file), and the field-2 cut of a methylation data line.
// A library of their own so the fuzz targets link the same code.
#pragma once

#include "linereader.h"

#include <string>
#include <string_view>
#include <vector>

// Sample names in list order (empty lines skipped) and their count.
extern std::vector<std::string> samplenames;
extern long n_sample;
// Coordinates of the coverage file's sites and their count.
extern std::vector<int> coord;
extern long n_coord;

// Sample names, one per line, in list order; empty lines are skipped.
void read_sample(const char* path);
// Coordinates (field 1) of the coverage file's non-empty data lines, appended
// from index n_coord; the header line is skipped.
void read_coord(const char* path);

// Field 2 of a methylation data line: the text after the first comma up to the
// second comma or the end; a line without a comma is field 2 as a whole.
double field2_value(std::string_view line);

// "file named <path>  is not open \n", status 255.
[[noreturn]] void die_not_open(const std::string& path);
// A read error after the file opened: names the file and the reason, status 255.
[[noreturn]] void die_read_error(const std::string& path, const LineReader& in);
[[noreturn]] void die_read_error(const std::string& path, int err);
