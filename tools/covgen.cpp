// covgen: seeded generator of coverage files in the bismark layout, for
// methprep's scale check. Every sample covers a random share of one common
// set of CpG positions spread over a few chromosomes.
//
//   covgen OUTDIR [--samples 50] [--sites 1000000] [--chroms 3]
//          [--fraction 0.9] [--seed 1] [--gzip] [--max-reads 30]
//
// Writes OUTDIR/S<k>.cov (or .cov.gz), k = 1..samples, and prints their paths.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

[[noreturn]] void usage(const char* why) {
  std::printf("covgen: %s\nusage: covgen OUTDIR [--samples N] [--sites N] [--chroms N] [--fraction F] "
              "[--seed N] [--gzip] [--max-reads N]\n",
              why);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) usage("missing OUTDIR");
  std::string out = argv[1];
  long samples = 50, sites = 1000000, chroms = 3, max_reads = 30;
  unsigned long long seed = 1;
  double fraction = 0.9;
  bool gz = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto val = [&]() -> const char* {
      if (i + 1 >= argc) usage(("missing value of " + a).c_str());
      return argv[++i];
    };
    if (a == "--samples") samples = std::atol(val());
    else if (a == "--sites") sites = std::atol(val());
    else if (a == "--chroms") chroms = std::atol(val());
    else if (a == "--fraction") fraction = std::atof(val());
    else if (a == "--seed") seed = std::strtoull(val(), nullptr, 10);
    else if (a == "--max-reads") max_reads = std::atol(val());
    else if (a == "--gzip") gz = true;
    else usage(("unknown option " + a).c_str());
  }
  if (samples < 1 || sites < 1 || chroms < 1 || chroms > 22 || max_reads < 1 || !(fraction > 0 && fraction <= 1))
    usage("a value is out of range");

  // The common CpG positions: per chromosome, random gaps of 1..200 bases.
  std::mt19937_64 pos_rng(seed);
  std::vector<std::vector<long>> pos(static_cast<size_t>(chroms));
  for (long s = 0; s < sites; ++s) {
    auto& p = pos[static_cast<size_t>(s % chroms)];
    p.push_back((p.empty() ? 0 : p.back()) + 1 + static_cast<long>(pos_rng() % 200));
  }

  std::string line;
  for (long k = 1; k <= samples; ++k) {
    std::mt19937_64 rng(seed * 1000003ULL + static_cast<unsigned long long>(k));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string path = out + "/S" + std::to_string(k) + (gz ? ".cov.gz" : ".cov");
    gzFile g = nullptr;
    FILE* f = nullptr;
    if (gz) g = gzopen(path.c_str(), "wb1");
    else f = std::fopen(path.c_str(), "w");
    if (!g && !f) { std::printf("covgen: cannot write %s\n", path.c_str()); return 1; }
    std::string buf;
    for (long c = 0; c < chroms; ++c) {
      for (long p : pos[static_cast<size_t>(c)]) {
        if (unit(rng) >= fraction) continue;
        long reads = 1 + static_cast<long>(rng() % static_cast<unsigned long long>(max_reads));
        double level = unit(rng);
        long meth = 0;
        for (long r = 0; r < reads; ++r) meth += unit(rng) < level;
        char b[160];
        int n = std::snprintf(b, sizeof b, "chr%ld\t%ld\t%ld\t%.15g\t%ld\t%ld\n", c + 1, p, p,
                              100.0 * static_cast<double>(meth) / static_cast<double>(reads), meth, reads - meth);
        buf.append(b, static_cast<size_t>(n));
        if (buf.size() > (1 << 20)) {
          if (g) gzwrite(g, buf.data(), static_cast<unsigned>(buf.size()));
          else std::fwrite(buf.data(), 1, buf.size(), f);
          buf.clear();
        }
      }
    }
    if (g) {
      gzwrite(g, buf.data(), static_cast<unsigned>(buf.size()));
      if (gzclose(g) != Z_OK) { std::printf("covgen: cannot write %s\n", path.c_str()); return 1; }
    } else {
      std::fwrite(buf.data(), 1, buf.size(), f);
      if (std::fclose(f) != 0) { std::printf("covgen: cannot write %s\n", path.c_str()); return 1; }
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}
