// The inputs of pcscores besides the eigen files, each read a chunk at a time
// so that memory does not grow with the sites: the sample list, a
// chromosome's descriptives file and its loadings file. The readers report
// what they found; the program turns faults into messages.
#pragma once

#include "linereader.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace proj {

// The sample list: one name per line, empty lines skipped, every other
// character kept. On a read error `err` is set to the errno value.
enum class ListRead { ok, not_open, read_error };
ListRead read_sample_list(const std::string& path, std::vector<std::string>& names, int& err);

// Mean (field 2) and SD (field 3) of a descriptives line, cut by the number
// of commas as selfgram and crossgram cut them:
//   3 or more: field 2 between commas 1 and 2, field 3 between commas 2 and 3
//   2:         field 2 between commas 1 and 2, field 3 after comma 2
//   1:         field 2 after the comma,        field 3 before it
//   0:         both the whole line
// Each is read as atof reads it.
void des_fields(std::string_view line, double& mean, double& sd);

// A descriptives file: header, then one site per line (every line, an empty
// one too, as selfgram counts them).
class DesChunks {
 public:
  bool open(const std::string& path);
  // The next up to n sites' means and SDs; returns how many (fewer only at
  // the end of the file or on a read error).
  size_t read(double* mean, double* sd, size_t n);
  size_t sites() const { return sites_; }
  bool failed() const { return in_.failed(); }
  int errno_value() const { return in_.errno_value(); }

 private:
  LineReader in_;
  size_t sites_ = 0;
};

// A loadings file: header "block,pc1,...,pcC", then one row per site, the
// site's ordinal and its C loadings.
class LoadingsChunks {
 public:
  bool open(const std::string& path);
  // C: the component columns the header names (its commas).
  size_t columns() const { return columns_; }
  // The first K loadings of the next up to n rows into load[t * K + k];
  // returns how many rows (fewer at the end of the file, on a read error,
  // or at a row with fewer than K loading fields: short_row()).
  size_t read(double* load, size_t K, size_t n);
  bool short_row() const { return short_row_; }
  // Rows read so far (a short row included).
  size_t rows() const { return rows_; }
  // After the rows the caller needed: true when a non-empty line follows.
  bool more_rows();
  bool failed() const { return in_.failed(); }
  int errno_value() const { return in_.errno_value(); }

 private:
  LineReader in_;
  size_t columns_ = 0, rows_ = 0;
  bool short_row_ = false;
};

}  // namespace proj
