#include "eigen_readers.h"

#include "linereader.h"
#include "numparse.h"
#include "sysutil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

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

// Mean (field 2) and SD (field 3) of a descriptives row, by the number of
// commas: with one comma, field 3 is the text before it; with none, both
// fields are the whole line (the cut of the descriptives readers of selfgram
// and crossgram).
void des_row(std::string_view line, double& mean, double& sd) {
  constexpr size_t npos = std::string_view::npos;
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
  mean = to_double(f2);
  sd = to_double(f3);
}

// The data rows read_n_sample read, kept for read_eigenvec on the same path.
std::string kept_path;
std::vector<std::string> kept_rows;
bool kept = false;

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
  kept = false;
  kept_rows.clear();
  open_announced(r, path, "eigenvectors", "eigenvector");
  for_each_data_line(r, path, [&](std::string_view line) {
    kept_rows.emplace_back(line);
    return true;
  });
  kept_path = path;
  kept = true;
  n_sample = static_cast<int>(kept_rows.size());
}

void read_eigenvec(const char* path, int K) {
  const size_t rows = eigen_vec.rows();
  const size_t k_max = K < 0 ? 0 : std::min(static_cast<size_t>(K), eigen_vec.cols());
  sample_names.assign(rows, std::string());
  size_t i = 0;
  auto row_of = [&](std::string_view line) {
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
  };
  if (kept && kept_path == path) {
    say(std::string(" file ") + path + " with eigenvectors is read \n");
    for (const std::string& line : kept_rows)
      if (!row_of(line)) break;
  } else {
    LineReader r;
    open_announced(r, path, "eigenvectors", "eigenvector");
    for_each_data_line(r, path, row_of);
  }
  // Each row names the files of one sample: two rows of one name would count
  // the same files twice.
  std::unordered_map<std::string_view, size_t> row_by_name;
  for (size_t j = 0; j < i; ++j) {
    auto [it, fresh] = row_by_name.emplace(sample_names[j], j);
    if (!fresh)
      die(std::string("eigenvector file ") + path + ": sample " + sample_names[j] +
              " is named in rows " + std::to_string(it->second + 1) + " and " +
              std::to_string(j + 1) + "\n",
          255);
  }
}

bool DesStream::open(const char* path) {
  ended_ = false;
  if (!in_.open(path)) return false;
  std::string_view header;
  if (!in_.next(header)) ended_ = true;
  return true;
}

size_t DesStream::read(double* mean, double* sd, size_t n) {
  size_t k = 0;
  std::string_view line;
  while (k < n && !ended_) {
    if (!in_.next(line) || line.empty()) {
      ended_ = true;
      break;
    }
    des_row(line, mean[k], sd[k]);
    ++k;
  }
  return k;
}

void read_des(const char* path, bool with_sd) {
  mean_vector.clear();
  if (with_sd) sd_vector.clear();
  DesStream in;
  if (!in.open(path)) return;
  double mean, sd;
  while (in.read(&mean, &sd, 1)) {
    mean_vector.push_back(mean);
    if (with_sd) sd_vector.push_back(sd);
  }
  if (in.failed())
    die(std::string("cannot read file ") + path + ": " + std::strerror(in.errno_value()) + "\n", 255);
}
