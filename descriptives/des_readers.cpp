#include "des_readers.h"

#include "numparse.h"
#include "sysutil.h"

#include <cstring>

std::vector<std::string> samplenames;
long n_sample = 0;
std::vector<int> coord;
long n_coord = 0;

namespace {
constexpr size_t kListBuffer = size_t{1} << 20;
}  // namespace

void die_not_open(const std::string& path) { die("file named " + path + "  is not open \n"); }

void die_read_error(const std::string& path, const LineReader& in) {
  die_read_error(path, in.errno_value());
}

void die_read_error(const std::string& path, int err) {
  die("cannot read file named " + path + ": " + read_error_text(err) + "\n");
}

void read_sample(const char* path) {
  LineReader in(kListBuffer);
  if (!in.open(path)) die_not_open(path);
  samplenames.clear();
  std::string_view line;
  while (in.next(line))
    if (!line.empty()) samplenames.emplace_back(line);
  if (in.failed()) die_read_error(path, in);
  n_sample = static_cast<long>(samplenames.size());
}
