// Benchmarks of the reading path, in fields or lines per second:
//   parse/<form>     num::parse_double on one kind of methylation field (0-4)
//   parse_ref/<form> num::parse_double_ref (copy to a C string, strtod)
//   atof/<form>      atof on a NUL-terminated copy made beforehand
//   lines/fused      LineReader::next_field2 over a methylation file
//   lines/batch/<w>  LineReader::read_field2, 4096 lines a call (the in-step
//                    reader's way), at LineReader::set_wide_level(w): 2 lines
//                    and fields eight at a time, 1 fields only, 0 neither
//                    (as far as the processor allows)
//   lines/split      LineReader::next, then field2_value (memchr + parse)
//   lines/getline    std::getline on std::ifstream, then atof after the comma
#include <benchmark/benchmark.h>

#include "linereader.h"
#include "numparse.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// 4096 fields of one form: six decimals as the generator writes them,
// fifteen significant digits, a short value, an exponent form, and the
// shortest text that reads back the same double (as methprep writes its
// values: 16-17 digits for most) -- the last two past the one-division path.
std::vector<std::string> fields(int form) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<std::string> out;
  char buf[64];
  const char* fmt = form == 0 ? "%.6f" : form == 1 ? "%.15g" : form == 2 ? "%.2f" : "%.6e";
  for (int i = 0; i < 4096; ++i) {
    if (form == 4)
      out.emplace_back(buf, std::to_chars(buf, buf + sizeof buf, u(rng)).ptr);
    else
      out.emplace_back(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, fmt, u(rng))));
  }
  return out;
}
const char* const kForms[] = {"six_decimals", "g15", "two_decimals", "exponent", "shortest"};

template <double (*Parse)(const char*, const char*)>
void bm_parse(benchmark::State& state) {
  const auto f = fields(static_cast<int>(state.range(0)));
  double sum = 0.0;
  for (auto _ : state)
    for (const auto& s : f) sum += Parse(s.data(), s.data() + s.size());
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.size()));
  state.SetLabel(kForms[state.range(0)]);
}

void bm_atof(benchmark::State& state) {
  const auto f = fields(static_cast<int>(state.range(0)));
  double sum = 0.0;
  for (auto _ : state)
    for (const auto& s : f) sum += std::atof(s.c_str());
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(f.size()));
  state.SetLabel(kForms[state.range(0)]);
}

BENCHMARK(bm_parse<num::parse_double>)->Name("parse")->DenseRange(0, 4);
BENCHMARK(bm_parse<num::parse_double_ref>)->Name("parse_ref")->DenseRange(0, 4);
BENCHMARK(bm_atof)->Name("atof")->DenseRange(0, 4);

// A methylation file of 1,000,000 lines ("position,beta", six decimals),
// read from the page cache.
constexpr long kLines = 1000000;
const std::string& meth_file() {
  static const std::string path = [] {
    std::string p = "/tmp/bench_numparse_" + std::to_string(getpid()) + ".csv";
    std::FILE* f = std::fopen(p.c_str(), "w");
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::fprintf(f, "position,beta\n");
    long pos = 0;
    for (long i = 0; i < kLines; ++i) std::fprintf(f, "%ld,%.6f\n", pos += 1 + rng() % 500, u(rng));
    std::fclose(f);
    std::atexit([] { std::remove(meth_file().c_str()); });
    return p;
  }();
  return path;
}

void bm_lines_fused(benchmark::State& state) {
  const std::string& p = meth_file();
  double sum = 0.0;
  for (auto _ : state) {
    LineReader in;
    in.open(p.c_str());
    std::string_view line;
    double v;
    in.next(line);
    while (in.next_field2(line, v)) sum += v;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kLines);
}

void bm_lines_batch(benchmark::State& state) {
  const std::string& p = meth_file();
  std::vector<double> out(4096);
  std::vector<char> empty(4096);
  const unsigned was = LineReader::set_wide_level(static_cast<unsigned>(state.range(0)));
  double sum = 0.0;
  for (auto _ : state) {
    LineReader in(size_t{80} << 10);  // an in-step reader's buffer for 200 files
    in.open(p.c_str());
    std::string_view line;
    in.next(line);
    while (size_t k = in.read_field2(out.data(), 1, out.size(), empty.data(), 1)) sum += out[k - 1];
  }
  LineReader::set_wide_level(was);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kLines);
}

void bm_lines_split(benchmark::State& state) {
  const std::string& p = meth_file();
  double sum = 0.0;
  for (auto _ : state) {
    LineReader in;
    in.open(p.c_str());
    std::string_view line;
    in.next(line);
    while (in.next(line)) sum += LineReader::field2_value(line);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kLines);
}

void bm_lines_getline(benchmark::State& state) {
  const std::string& p = meth_file();
  double sum = 0.0;
  for (auto _ : state) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      size_t c = line.find(',');
      sum += std::atof(c == std::string::npos ? line.c_str() : line.c_str() + c + 1);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kLines);
}

BENCHMARK(bm_lines_fused)->Name("lines/fused")->Unit(benchmark::kMillisecond);
BENCHMARK(bm_lines_batch)->Name("lines/batch")->Arg(2)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_lines_split)->Name("lines/split")->Unit(benchmark::kMillisecond);
BENCHMARK(bm_lines_getline)->Name("lines/getline")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
