#include "eigen_readers.h"

#include "linereader.h"
#include "numparse.h"
#include "sysutil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

std::vector<double> eigen_val;
int n_sample = 0;
std::vector<std::string> sample_names;
Matrix eigen_vec;
std::vector<double> mean_vector;
std::vector<double> sd_vector;

namespace {

void say(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

double to_double(std::string_view f) { return num::parse_double(f.data(), f.data() + f.size()); }

// Opens `path` after announcing it, or ends the run with the "is not open"
// message of its kind.
void open_announced(LineReader& r, const char* path, const char* contents, const char* kind) {
  bool ok = r.open(path);
  say(std::string(" file ") + path + " with " + contents + " is read \n");
  if (!ok) die(std::string(" ") + kind + " file " + path + "  is not open \n", 255);
}

// The line loop shared by the readers: header skipped, then every line up to
// the end of the file or the first empty line. `f` returns false to stop early.
template <class F>
void for_each_data_line(LineReader& r, const char* path, F&& f) {
  std::string_view line;
  if (r.next(line))
    while (r.next(line) && !line.empty())
      if (!f(line)) break;
  if (r.failed())
    die(std::string("cannot read file ") + path + ": " + std::strerror(r.errno_value()) + "\n", 255);
  r.close();
}

size_t find_comma(std::string_view s, size_t from) {
  return from >= s.size() ? std::string_view::npos : s.find(',', from);
}

}  // namespace

void read_eigenval(const char* path) {
  LineReader r;
  open_announced(r, path, "eigenvalues", "eigenvalue");
  eigen_val.clear();
  for_each_data_line(r, path, [](std::string_view line) {
    eigen_val.push_back(to_double(line));
    return true;
  });
}

void read_n_sample(const char* path) {
  LineReader r;
  open_announced(r, path, "eigenvectors", "eigenvector");
  long count = 0;
  for_each_data_line(r, path, [&](std::string_view) {
    ++count;
    return true;
  });
  n_sample = static_cast<int>(count);
}

void read_eigenvec(const char* path, int K) {
  LineReader r;
  open_announced(r, path, "eigenvectors", "eigenvector");
  const size_t rows = eigen_vec.rows();
  const size_t k_max = K < 0 ? 0 : std::min(static_cast<size_t>(K), eigen_vec.cols());
  sample_names.assign(rows, std::string());
  size_t i = 0;
  for_each_data_line(r, path, [&](std::string_view line) {
    if (i == rows) return false;  // the file grew since its rows were counted
    size_t c = line.find(',');
    if (c == std::string_view::npos && k_max == 0) return false;

    std::string_view field = line.substr(0, c);
    size_t q1 = field.find('"');
    if (q1 == std::string_view::npos) {
      sample_names[i] = std::string(field);
    } else {
      size_t q2 = field.find('"', q1 + 1);
      sample_names[i] = std::string(field.substr(q1 + 1, q2 == std::string_view::npos ? q2 : q2 - q1 - 1));
    }

    double* row = eigen_vec[i];
    for (size_t k = 0; k < k_max; ++k) {
      if (c == std::string_view::npos)
        die(std::string("eigenvector file ") + path + ": row " + std::to_string(i + 1) +
                " has fewer than " + std::to_string(K) + " component fields\n",
            255);
      size_t start = c + 1;
      c = find_comma(line, start);
      row[k] = to_double(line.substr(start, c == std::string_view::npos ? c : c - start));
    }
    ++i;
    return true;
  });
}

void read_des(const char* path, bool with_sd) {
  mean_vector.clear();
  if (with_sd) sd_vector.clear();
  LineReader r;
  if (!r.open(path)) return;
  constexpr size_t npos = std::string_view::npos;
  for_each_data_line(r, path, [&](std::string_view line) {
    // Fields 2 and 3 by the number of commas: with one comma, field 3 is the
    // text before it; with none, both fields are the whole line.
    std::string_view f2 = line, f3 = line;
    size_t p1 = line.find(',');
    if (p1 != npos) {
      size_t p2 = find_comma(line, p1 + 1);
      if (p2 == npos) {
        f2 = line.substr(p1 + 1);
        f3 = line.substr(0, p1);
      } else {
        size_t p3 = find_comma(line, p2 + 1);
        f2 = line.substr(p1 + 1, p2 - p1 - 1);
        f3 = line.substr(p2 + 1, p3 == npos ? npos : p3 - p2 - 1);
      }
    }
    mean_vector.push_back(to_double(f2));
    if (with_sd) sd_vector.push_back(to_double(f3));
    return true;
  });
}
