#include "gram_readers.h"

#include "linereader.h"
#include "numparse.h"
#include "sysutil.h"

#include <cstdio>
#include <cstring>

std::vector<double> mean_vector;
std::vector<double> sd_vector;
std::vector<std::string> samplenames;
long n_sample = 0;
long start_coord = 0;
long i_sample = 0;
Matrix cpg_data;
Matrix cpg_data_row;
Matrix cpg_data_col;

namespace {

void say(std::string_view s) { std::fwrite(s.data(), 1, s.size(), stdout); }

void open_or_die(LineReader& in, const char* path) {
  if (!in.open(path)) die_not_open(path);
}

void check_read(const LineReader& in, const char* path) {
  if (in.failed()) die_read_error(path, in.errno_value());
}

double parse(std::string_view f) { return num::parse_double(f.data(), f.data() + f.size()); }

void read_cpg_into(Matrix& m, const char* path) {
  LineReader in;
  open_or_die(in, path);
  std::string_view line;
  if (in.next(line)) {  // header
    const size_t rows = m.rows();
    const bool column_ok = i_sample >= 0 && static_cast<size_t>(i_sample) < m.cols();
    double v;
    while (in.next_field2(line, v)) {
      // A file longer than the matrix is counted, never stored out of bounds;
      // the caller compares the count with the descriptives file.
      if (column_ok && start_coord >= 0 && static_cast<size_t>(start_coord) < rows)
        m[static_cast<size_t>(start_coord)][static_cast<size_t>(i_sample)] = v;
      ++start_coord;
    }
  }
  check_read(in, path);
}

}  // namespace

std::string_view field2(std::string_view line) {
  size_t c1 = line.find(',');
  if (c1 == std::string_view::npos) return line;
  size_t c2 = line.find(',', c1 + 1);
  if (c2 == std::string_view::npos) return line.substr(c1 + 1);
  return line.substr(c1 + 1, c2 - c1 - 1);
}

std::string_view field3(std::string_view line) {
  size_t c1 = line.find(',');
  if (c1 == std::string_view::npos) return line;
  size_t c2 = line.find(',', c1 + 1);
  if (c2 == std::string_view::npos) return line.substr(0, c1);
  size_t c3 = line.find(',', c2 + 1);
  if (c3 == std::string_view::npos) return line.substr(c2 + 1);
  return line.substr(c2 + 1, c3 - c2 - 1);
}


void read_mean_sd(const char* path) {
  LineReader in;
  open_or_die(in, path);
  say("file named ");
  say(path);
  say("  is read \n");
  if (start_coord < 0) start_coord = 0;
  std::string_view line;
  if (in.next(line))  // header
    while (in.next(line)) ++start_coord;
  check_read(in, path);
}

void des_fields(std::string_view line, double& mean, double& sd) {
  mean = parse(field2(line));
  sd = parse(field3(line));
}

void read_sample(const char* path) {
  LineReader in;
  open_or_die(in, path);
  say("sample file ");
  say(path);
  say("  is read \n");
  samplenames.clear();
  std::string_view line;
  while (in.next(line)) samplenames.emplace_back(line);
  check_read(in, path);
  n_sample = static_cast<long>(samplenames.size());
}

void read_cpg_data(const char* path) { read_cpg_into(cpg_data, path); }
void read_cpg_data_row(const char* path) { read_cpg_into(cpg_data_row, path); }
void read_cpg_data_col(const char* path) { read_cpg_into(cpg_data_col, path); }

bool can_open(const char* path) {
  LineReader in(64);
  return in.open(path);
}

void die_not_open(const std::string& path) { die("file named " + path + "  is not open \n"); }

void die_read_error(const std::string& path, int err) {
  die("cannot read file " + path + ": " + read_error_text(err) + "\n");
}

void die_line_count(const std::string& path, long lines, const std::string& des_path, long sites) {
  die("file named " + path + " has " + std::to_string(lines) + " data lines, but " + des_path +
      " has " + std::to_string(sites) + " sites\n");
}
