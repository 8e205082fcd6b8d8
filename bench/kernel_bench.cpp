// Benchmarks of the block accumulation, in cell-updates per second (one
// cell-update = one multiply and one separately rounded add):
//   peak/<isa>                  separate multiply+add in registers
//   ref/<m>/<full|lower>        the plain loop gram::accumulate_ref
//   accumulate/<m>/<...>        gram::accumulate (the version chosen at run time)
//   isa/<isa>/<m>/<...>         gram::accumulate_isa forced onto one version
// Each kernel call covers one panel of an m x m block, as many sites as the
// programs put in one call (gram::chunk_sites: about 2 MB of values per
// sample block, so the panel is cache-resident as it is there; full: two
// different sample blocks, m = 100, 200, 500; lower: one block, lower
// triangle, x and y the same panel, m = 100 ... 1500 as for the whole
// matrix), summing into the same acc call after call. At the end a table
// gives each kernel's rate as a share of the peak and as a multiple of the
// plain loop (medians when run with repetitions).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gram_blocks.h"
#include "gram_kernel.h"
#include "kernel_peak.h"

namespace {

constexpr const char* kCells = "cells/s";

const kbench::Peak* peak_of(gram::Isa isa) {
  switch (isa) {
    case gram::Isa::sse2: return &kbench::peak_sse2;
    case gram::Isa::avx2: return &kbench::peak_avx2;
    case gram::Isa::avx512: return &kbench::peak_avx512;
    case gram::Isa::avx512vl: return &kbench::peak_avx512vl;
  }
  return nullptr;
}

void bm_peak(benchmark::State& state, gram::Isa isa) {
  const kbench::Peak* p = peak_of(isa);
  const size_t rounds = 1 << 16;
  for (auto _ : state) benchmark::DoNotOptimize(p->run(rounds));
  state.counters[kCells] = benchmark::Counter(
      double(p->cells_per_round) * rounds * state.iterations(), benchmark::Counter::kIsRate);
}

struct Block {
  std::vector<double> x, y, acc;
};

Block make_block(size_t m) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const size_t sites = gram::chunk_sites(m);
  Block b{std::vector<double>(sites * m), std::vector<double>(sites * m),
          std::vector<double>(m * m, 0.0)};
  for (double& v : b.x) v = u(rng);
  for (double& v : b.y) v = u(rng);
  return b;
}

// which: -1 = reference, -2 = dispatched, else the forced instruction set.
void bm_kernel(benchmark::State& state, int which, size_t m, bool lower) {
  Block b = make_block(m);
  const double* y = lower ? b.x.data() : b.y.data();
  const size_t sites = gram::chunk_sites(m);
  for (auto _ : state) {
    if (which == -1)
      gram::accumulate_ref(b.x.data(), m, y, m, sites, m, m, b.acc.data(), m, lower);
    else if (which == -2)
      gram::accumulate(b.x.data(), m, y, m, sites, m, m, b.acc.data(), m, lower);
    else
      gram::accumulate_isa(gram::Isa(which), b.x.data(), m, y, m, sites, m, m, b.acc.data(), m,
                           lower);
    benchmark::ClobberMemory();
  }
  const double cells = lower ? double(m) * (m + 1) / 2 : double(m) * m;
  state.counters[kCells] =
      benchmark::Counter(cells * sites * state.iterations(), benchmark::Counter::kIsRate);
}

// The programs' lower triangle: values already in the kernel's packed
// layout (the centring writes them so), accumulate_lower_packed.
void bm_packed(benchmark::State& state, size_t m) {
  Block b = make_block(m);
  const size_t sites = gram::chunk_sites(m), pw = gram::lower_panel_width();
  std::vector<double> packed((m + pw - 1) / pw * pw * sites);
  gram::pack_lower(b.x.data(), m, sites, m, packed.data());
  for (auto _ : state) {
    gram::accumulate_lower_packed(packed.data(), sites, m, b.acc.data(), m);
    benchmark::ClobberMemory();
  }
  const double cells = double(m) * (m + 1) / 2;
  state.counters[kCells] =
      benchmark::Counter(cells * sites * state.iterations(), benchmark::Counter::kIsRate);
}

// Console output plus the ratio table at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto c = r.counters.find(kCells);
      if (c == r.counters.end()) continue;
      const std::string name = r.run_name.str();
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") median_[name] = c->second.value;
      } else if (!median_.count(name)) {
        single_[name] = c->second.value;  // used when there are no repetitions
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::map<std::string, double> v = single_;
    for (auto& [k, x] : median_) v[k] = x;
    auto peak_for = [&](const std::string& isa) {
      auto p = v.find("peak/" + isa);
      return p == v.end() ? 0.0 : p->second;
    };
    // accumulate/ is measured against the highest peak of the run (the
    // machine's limit for this arithmetic), isa/<version>/ against its own.
    double peak = 0.0;
    for (auto& [k, x] : v)
      if (k.rfind("peak/", 0) == 0 && x > peak) peak = x;
    if (peak == 0.0) return;
    std::printf(
        "\nchosen version: %s; rates are %s; \"of peak\": accumulate/ against the highest\n"
        "peak/ of the run, isa/<version>/ against peak/<version>\n",
        gram::kernel_isa(), median_.empty() ? "single runs" : "medians");
    std::printf("%-28s %14s %9s %9s\n", "benchmark", "cell-updates/s", "of peak", "x ref");
    for (auto& [k, x] : v) {
      // "accumulate/100/lower" and "isa/avx2/100/lower" compare with
      // "ref/100/lower" and with the peak of their version.
      std::string shape = k.substr(k.find('/') + 1);
      double pk = peak;
      if (k.rfind("isa/", 0) == 0) {
        pk = peak_for(shape.substr(0, shape.find('/')));
        shape = shape.substr(shape.find('/') + 1);
      } else if (k.rfind("peak/", 0) == 0) {
        pk = x;
      }
      auto ref = v.find("ref/" + shape);
      std::printf("%-28s %14.3g %8.1f%%", k.c_str(), x, pk > 0 ? 100.0 * x / pk : 0.0);
      if (ref != v.end())
        std::printf(" %9.2f\n", x / ref->second);
      else
        std::printf(" %9s\n", "-");
    }
  }

 private:
  std::map<std::string, double> median_, single_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<gram::Isa> isas;
  for (gram::Isa isa :
       {gram::Isa::sse2, gram::Isa::avx2, gram::Isa::avx512, gram::Isa::avx512vl})
    if (gram::isa_available(isa)) isas.push_back(isa);
  for (gram::Isa isa : isas)
    benchmark::RegisterBenchmark((std::string("peak/") + gram::isa_name(isa)).c_str(), bm_peak, isa);
  // Blocks of two sample sets (crossgram) and the lower triangle of one
  // (selfgram, and the whole matrix up to 1500 samples).
  std::vector<std::pair<size_t, bool>> shapes;
  for (size_t m : {100, 200, 500}) shapes.push_back({m, false});
  for (size_t m : {100, 200, 500, 1000, 1500}) shapes.push_back({m, true});
  for (auto [m, lower] : shapes) {
    const std::string shape = std::to_string(m) + (lower ? "/lower" : "/full");
    benchmark::RegisterBenchmark(("ref/" + shape).c_str(), bm_kernel, -1, m, lower)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("accumulate/" + shape).c_str(), bm_kernel, -2, m, lower)
        ->Unit(benchmark::kMillisecond);
    if (lower)
      benchmark::RegisterBenchmark(("packed/" + shape).c_str(), bm_packed, m)
          ->Unit(benchmark::kMillisecond);
    for (gram::Isa isa : isas)
      benchmark::RegisterBenchmark(
          (std::string("isa/") + gram::isa_name(isa) + "/" + shape).c_str(), bm_kernel,
          int(isa), m, lower)
          ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
