#include "score_inputs.h"
#include "score_kernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string write_temp(const char* tag, const std::string& bytes) {
  std::string path = testing::TempDir() + "projection_" + tag + "_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(SiteValues, StandardizedCentredAndConstantSites) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // 4 sites x 2 samples, row stride 3 (column 2 must stay untouched).
  std::vector<double> p = {0.7, 0.3, 9, 0.5, 0.1, 9, 0.2, 0.4, 9, 0.9, 0.8, 9};
  const double mean[] = {0.5, 0.3, 0.3, 0.1}, sd[] = {0.1, 1e-10, nan, 2e-10};
  std::vector<double> c = p;
  proj::site_values(p.data(), 3, 2, 4, mean, sd);
  EXPECT_TRUE(same_bits(p[0], (0.7 - 0.5) / 0.1));
  EXPECT_TRUE(same_bits(p[1], (0.3 - 0.5) / 0.1));
  EXPECT_EQ(p[3], 0.0);  // SD not above 1e-10
  EXPECT_EQ(p[4], 0.0);
  EXPECT_EQ(p[6], 0.0);  // SD not a number
  EXPECT_TRUE(same_bits(p[9], (0.9 - 0.1) / 2e-10));
  EXPECT_EQ(p[2], 9);
  EXPECT_EQ(p[11], 9);
  proj::site_values(c.data(), 3, 2, 4, mean, nullptr);
  EXPECT_TRUE(same_bits(c[4], 0.1 - 0.3));
  EXPECT_TRUE(same_bits(c[7], 0.4 - 0.3));
}

// Chunks of any size give the bits of one plain sum per sample and component
// over all sites in order.
TEST(Accumulate, ChunksGiveThePlainSumInSiteOrder) {
  const size_t m = 5, K = 3, n = 97;
  std::mt19937_64 g(7);
  std::uniform_real_distribution<double> u(-3, 3);
  std::vector<double> z(n * m), load(n * K);
  for (double& v : z) v = u(g);
  for (double& v : load) v = u(g) * 1e-3;
  std::vector<double> want(m * K, 0.0);
  for (size_t j = 0; j < m; ++j)
    for (size_t k = 0; k < K; ++k) {
      double s = 0.0;
      for (size_t t = 0; t < n; ++t) s += z[t * m + j] * load[t * K + k];
      want[j * K + k] = s;
    }
  for (size_t chunk : {size_t{1}, size_t{7}, size_t{64}, n}) {
    std::vector<double> acc(m * K, 0.0);
    for (size_t t0 = 0; t0 < n; t0 += chunk) {
      const size_t c = std::min(chunk, n - t0);
      proj::accumulate(z.data() + t0 * m, m, m, c, load.data() + t0 * K, K, acc.data());
    }
    for (size_t i = 0; i < m * K; ++i) EXPECT_TRUE(same_bits(acc[i], want[i])) << "chunk " << chunk << " cell " << i;
  }
}

TEST(DesFields, CutByTheNumberOfCommas) {
  double m = -1, s = -1;
  proj::des_fields("1000,0.62,0.11", m, s);
  EXPECT_EQ(m, 0.62);
  EXPECT_EQ(s, 0.11);
  proj::des_fields("1000,0.62,0.11,x", m, s);
  EXPECT_EQ(s, 0.11);
  proj::des_fields("1000,0.62", m, s);  // one comma: field 3 is the text before it
  EXPECT_EQ(m, 0.62);
  EXPECT_EQ(s, 1000);
  proj::des_fields("0.5", m, s);
  EXPECT_EQ(m, 0.5);
  EXPECT_EQ(s, 0.5);
  proj::des_fields("", m, s);
  EXPECT_EQ(m, 0.0);
  EXPECT_EQ(s, 0.0);
}

TEST(DesChunks, EveryLineAfterTheHeaderIsASite) {
  proj::DesChunks d;
  ASSERT_TRUE(d.open(write_temp("des", "coord,mean,SD\n1,0.5,0.1\n\n3,0.25,0.2")));
  double mean[4], sd[4];
  EXPECT_EQ(d.read(mean, sd, 2), 2u);
  EXPECT_EQ(mean[0], 0.5);
  EXPECT_EQ(mean[1], 0.0);  // the empty line
  EXPECT_EQ(d.read(mean, sd, 4), 1u);
  EXPECT_EQ(sd[0], 0.2);
  EXPECT_EQ(d.read(mean, sd, 4), 0u);
  EXPECT_EQ(d.sites(), 3u);
  EXPECT_FALSE(d.open(write_temp("des", "x") + ".absent"));
}

TEST(LoadingsChunks, ColumnsRowsAndFaults) {
  proj::LoadingsChunks l;
  ASSERT_TRUE(l.open(write_temp("load", "block,pc1,pc2,pc3\n1,0.5,-0.25,9\n2,1e-3,2\n3,1\n4,1,1\n")));
  EXPECT_EQ(l.columns(), 3u);
  double v[6];
  EXPECT_EQ(l.read(v, 2, 2), 2u);
  EXPECT_EQ(v[0], 0.5);
  EXPECT_EQ(v[1], -0.25);
  EXPECT_EQ(v[2], 1e-3);
  EXPECT_EQ(v[3], 2);
  EXPECT_FALSE(l.short_row());
  EXPECT_EQ(l.read(v, 2, 2), 0u);  // row 3 holds one loading
  EXPECT_TRUE(l.short_row());
  EXPECT_EQ(l.rows(), 3u);

  ASSERT_TRUE(l.open(write_temp("load", "block,pc1\n1,0.5\n\n\n")));
  EXPECT_EQ(l.read(v, 1, 5), 1u);  // the empty line is a short row...
  EXPECT_TRUE(l.short_row());
  ASSERT_TRUE(l.open(write_temp("load", "block,pc1\n1,0.5\n\n\n")));
  EXPECT_EQ(l.read(v, 1, 1), 1u);
  EXPECT_FALSE(l.more_rows());  // ...but empty lines after the rows needed are not rows
  ASSERT_TRUE(l.open(write_temp("load", "block,pc1\n1,0.5\n\n2,1\n")));
  EXPECT_EQ(l.read(v, 1, 1), 1u);
  EXPECT_TRUE(l.more_rows());
  ASSERT_TRUE(l.open(write_temp("load", "")));
  EXPECT_EQ(l.columns(), 0u);
}

TEST(SampleList, EmptyLinesSkippedOtherCharactersKept) {
  std::vector<std::string> names;
  int err = 0;
  EXPECT_EQ(proj::read_sample_list(write_temp("list", "S1\n\nS 2\r\nS3"), names, err), proj::ListRead::ok);
  EXPECT_EQ(names, (std::vector<std::string>{"S1", "S 2\r", "S3"}));
  EXPECT_EQ(proj::read_sample_list(write_temp("list", "") + ".absent", names, err),
            proj::ListRead::not_open);
}

}  // namespace
