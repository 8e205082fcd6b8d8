#include "score_inputs.h"

#include "numparse.h"

namespace proj {

namespace {

constexpr size_t npos = std::string_view::npos;

double parse(std::string_view f) { return num::parse_double(f.data(), f.data() + f.size()); }

size_t find_comma(std::string_view s, size_t from) {
  return from >= s.size() ? npos : s.find(',', from);
}

}  // namespace

ListRead read_sample_list(const std::string& path, std::vector<std::string>& names, int& err) {
  LineReader in;
  names.clear();
  if (!in.open(path.c_str())) return ListRead::not_open;
  std::string_view line;
  while (in.next(line))
    if (!line.empty()) names.emplace_back(line);
  err = in.errno_value();
  return in.failed() ? ListRead::read_error : ListRead::ok;
}

void des_fields(std::string_view line, double& mean, double& sd) {
  std::string_view f2 = line, f3 = line;
  const size_t p1 = line.find(',');
  if (p1 != npos) {
    const size_t p2 = find_comma(line, p1 + 1);
    if (p2 == npos) {
      f2 = line.substr(p1 + 1);
      f3 = line.substr(0, p1);
    } else {
      const size_t p3 = find_comma(line, p2 + 1);
      f2 = line.substr(p1 + 1, p2 - p1 - 1);
      f3 = line.substr(p2 + 1, p3 == npos ? npos : p3 - p2 - 1);
    }
  }
  mean = parse(f2);
  sd = parse(f3);
}

bool DesChunks::open(const std::string& path) {
  sites_ = 0;
  if (!in_.open(path.c_str())) return false;
  std::string_view header;
  in_.next(header);
  return true;
}

size_t DesChunks::read(double* mean, double* sd, size_t n) {
  std::string_view line;
  size_t t = 0;
  for (; t < n && in_.next(line); ++t) des_fields(line, mean[t], sd[t]);
  sites_ += t;
  return t;
}

bool LoadingsChunks::open(const std::string& path) {
  columns_ = rows_ = 0;
  short_row_ = false;
  if (!in_.open(path.c_str())) return false;
  std::string_view header;
  if (in_.next(header))
    for (char c : header) columns_ += c == ',';
  return true;
}

size_t LoadingsChunks::read(double* load, size_t K, size_t n) {
  std::string_view line;
  size_t t = 0;
  for (; t < n && !short_row_ && in_.next(line); ++t) {
    ++rows_;
    double* row = load + t * K;
    size_t c = line.find(',');  // after field 1, the site's ordinal
    for (size_t k = 0; k < K; ++k) {
      if (c == npos) {
        short_row_ = true;
        return t;
      }
      const size_t start = c + 1;
      c = find_comma(line, start);
      row[k] = parse(line.substr(start, c == npos ? npos : c - start));
    }
  }
  return t;
}

bool LoadingsChunks::more_rows() {
  std::string_view line;
  while (in_.next(line))
    if (!line.empty()) return true;
  return false;
}

}  // namespace proj
