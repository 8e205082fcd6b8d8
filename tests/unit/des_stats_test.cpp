#include "des_stats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The four-sites-at-once sums give every site exactly site_stats' mean and
// SD, for any number of sites (groups of four and a tail) and samples,
// including constant sites (SD 0 by the 1e-10 rule) and a single sample.
TEST(DesStats, RowsMatchOneSiteAtATime) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (size_t n : {1, 2, 3, 7, 40, 201}) {
    for (size_t rows : {0, 1, 3, 4, 5, 8, 11}) {
      std::vector<double> v(rows * n);
      for (size_t k = 0; k < rows; ++k)
        for (size_t j = 0; j < n; ++j) v[k * n + j] = k % 3 == 2 ? 0.25 : u(rng) * (k + 1);
      std::vector<double> mean(rows, -1.0), sd(rows, -1.0);
      des::site_stats_rows(v.data(), n, rows, mean.data(), sd.data());
      for (size_t k = 0; k < rows; ++k) {
        double m, s;
        des::site_stats(v.data() + k * n, n, m, s);
        EXPECT_TRUE(same_bits(mean[k], m)) << "n " << n << " site " << k;
        EXPECT_TRUE(same_bits(sd[k], s)) << "n " << n << " site " << k;
      }
    }
  }
}

}  // namespace
