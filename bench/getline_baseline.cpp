// Baseline for bench/read_rate.sh: the plain way to walk all samples' files in
// step, one std::ifstream per sample, std::getline and atof on field 2, with
// the same mean and variance per site. Prints the number of data lines read
// and a checksum of the means so the work cannot be optimised away.
//
// Usage: getline_baseline <methylation prefix> <sample-list file> <chromosome>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: getline_baseline <methylation prefix> <sample-list file> <chromosome>\n");
    return 2;
  }
  std::vector<std::string> names;
  std::ifstream list(argv[2]);
  for (std::string l; std::getline(list, l);)
    if (!l.empty()) names.push_back(l);
  std::vector<std::unique_ptr<std::ifstream>> in;
  for (auto& n : names) {
    in.push_back(std::make_unique<std::ifstream>(std::string(argv[1]) + "chr" + argv[3] + "/" + n + ".csv"));
    if (!*in.back()) { std::printf("cannot open %s\n", n.c_str()); return 1; }
  }
  std::string line;
  for (auto& s : in) std::getline(*s, line);
  const size_t n = names.size();
  std::vector<double> v(n);
  long long lines = 0;
  double check = 0.0;
  for (;;) {
    bool ok = true;
    for (size_t j = 0; j < n; ++j) {
      if (!std::getline(*in[j], line) || line.empty()) { ok = false; break; }
      size_t c = line.find(',');
      v[j] = std::atof(c == std::string::npos ? line.c_str() : line.c_str() + c + 1);
    }
    if (!ok) break;
    lines += static_cast<long long>(n);
    double sum = 0.0;
    for (size_t j = 0; j < n; ++j) sum += v[j];
    double mean = sum / static_cast<double>(n), ss = 0.0;
    for (size_t j = 0; j < n; ++j) ss += (v[j] - mean) * (v[j] - mean);
    double var = ss / static_cast<double>(n - 1);
    check += mean + (var > 1e-10 ? std::sqrt(var) : 0.0);
  }
  std::printf("%lld lines, checksum %.17g\n", lines, check);
  return 0;
}
