// The files the programs meet through, in one place: how every path is
// composed from its prefix, the names of the block files, the methylation
// value of a data line, the constant-site rule and its message. Every
// program, and every fuzz target, takes them from here.
#pragma once

#include "linereader.h"

#include <string>
#include <string_view>

namespace layout {

// <prefix>chr<N>/<sample>.csv
inline std::string meth_path(const std::string& prefix, long chr, const std::string& sample) {
  return prefix + "chr" + std::to_string(chr) + "/" + sample + ".csv";
}
// <prefix>des_chr<N>.csv
inline std::string des_path(const std::string& prefix, long chr) {
  return prefix + "des_chr" + std::to_string(chr) + ".csv";
}
// <results prefix><label>_eigenval.csv, _eigenvec.csv
inline std::string eigenval_path(const std::string& prefix, const std::string& label) {
  return prefix + label + "_eigenval.csv";
}
inline std::string eigenvec_path(const std::string& prefix, const std::string& label) {
  return prefix + label + "_eigenvec.csv";
}
// <results prefix>loadings/<label>_loadings_chr<N>.csv
inline std::string loadings_path(const std::string& prefix, const std::string& label, long chr) {
  return prefix + "loadings/" + label + "_loadings_chr" + std::to_string(chr) + ".csv";
}
// Block files: "diag_A.B_.csv" / "diagst_A.B_.csv" for samples A..B against
// themselves, "rect_A.B_C.D_.csv" / "rectst_A.B_C.D_.csv" for rows A..B
// against columns C..D.
inline std::string diag_name(long a, long b, bool standardized) {
  return std::string(standardized ? "diagst_" : "diag_") + std::to_string(a) + "." +
         std::to_string(b) + "_.csv";
}
inline std::string rect_name(long a, long b, long c, long d, bool standardized) {
  return std::string(standardized ? "rectst_" : "rect_") + std::to_string(a) + "." +
         std::to_string(b) + "_" + std::to_string(c) + "." + std::to_string(d) + "_.csv";
}

// The methylation value of a data line: field 2 (after the first comma, up to
// the second or the line end; a line without a comma as a whole) as atof
// reads it. LineReader::next_field2 gives the same in one pass.
inline double meth_value(std::string_view line) { return LineReader::field2_value(line); }

// A site counts as constant unless its SD is greater than 1e-10 (a NaN SD
// counts as constant): its standardized values are 0.
inline bool sd_is_zero(double sd) { return !(sd > 1e-10); }

// The line printed for each constant site (0-based index over the run).
inline std::string zero_sd_line(unsigned long long site) {
  return " Standardard deviation of site " + std::to_string(site) +
         " is (very close to) zero: Loadings set to zero\n";
}

}  // namespace layout
