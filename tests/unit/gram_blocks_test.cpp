#include "gram_blocks.h"
#include "gram_io.h"
#include "gram_kernel.h"

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

// Site-major data of `width` samples with means and SDs; some sites are
// constant (SD 0, tiny, exactly 1e-10, NaN).
struct Sites {
  size_t n, width;
  std::vector<double> data, mean, sd;
};

Sites make_sites(size_t n, size_t width, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Sites s{n, width, std::vector<double>(n * width), std::vector<double>(n), std::vector<double>(n)};
  for (size_t k = 0; k < n; ++k) {
    for (size_t j = 0; j < width; ++j) s.data[k * width + j] = u(rng);
    s.mean[k] = u(rng);
    s.sd[k] = 0.05 + u(rng) / 3;
    switch (k % 11) {
      case 3: s.sd[k] = 0.0; break;
      case 5: s.sd[k] = 1e-10; break;
      case 7: s.sd[k] = std::numeric_limits<double>::quiet_NaN(); break;
      case 9: s.sd[k] = 2e-10; break;
    }
  }
  return s;
}

// The computation as the programs describe it, site by site with work
// vectors: selfgram's lower triangle then mirror.
void plain_self(const Sites& s, Matrix& C, Matrix& S) {
  const size_t m = s.width;
  sizeMatrix(C, m, m);
  sizeMatrix(S, m, m);
  std::vector<double> c(m), z(m);
  for (size_t k = 0; k < s.n; ++k) {
    for (size_t j = 0; j < m; ++j) {
      c[j] = s.data[k * m + j] - s.mean[k];
      z[j] = s.sd[k] > 1e-10 ? c[j] / s.sd[k] : 0.0;
    }
    for (size_t j = 0; j < m; ++j)
      for (size_t i = 0; i <= j; ++i) {
        C[j][i] += c[i] * c[j];
        S[j][i] += z[i] * z[j];
      }
  }
  for (size_t j = 1; j < m; ++j)
    for (size_t i = 0; i < j; ++i) {
      C[i][j] = C[j][i];
      S[i][j] = S[j][i];
    }
}

// crossgram's loop: every cell, column value times row value.
void plain_cross(const Sites& x, const Sites& y, Matrix& C, Matrix& S) {
  const size_t m = x.width, w = y.width;
  sizeMatrix(C, m, w);
  sizeMatrix(S, m, w);
  std::vector<double> cr(m), zr(m), cc(w), zc(w);
  for (size_t k = 0; k < x.n; ++k) {
    for (size_t i = 0; i < m; ++i) {
      cr[i] = x.data[k * m + i] - x.mean[k];
      zr[i] = x.sd[k] > 1e-10 ? cr[i] / x.sd[k] : 0.0;
    }
    for (size_t j = 0; j < w; ++j) {
      cc[j] = y.data[k * w + j] - x.mean[k];
      zc[j] = x.sd[k] > 1e-10 ? cc[j] / x.sd[k] : 0.0;
    }
    for (size_t i = 0; i < m; ++i)
      for (size_t j = 0; j < w; ++j) {
        C[i][j] += cc[j] * cr[i];
        S[i][j] += zc[j] * zr[i];
      }
  }
}

bool same_bits(const Matrix& a, const Matrix& b) {
  return a.rows() == b.rows() && a.cols() == b.cols() &&
         std::memcmp(a.cells.data(), b.cells.data(), a.cells.size() * sizeof(double)) == 0;
}

Matrix to_matrix(const Sites& s, size_t extra_rows = 0) {
  Matrix m;
  sizeMatrix(m, static_cast<long>(s.n + extra_rows), static_cast<long>(s.width));
  std::copy(s.data.begin(), s.data.end(), m.cells.begin());
  return m;
}

void run_self(const Sites& s, size_t chunk, gram::AccumulateFn fn, Matrix& C, Matrix& S) {
  Matrix data = to_matrix(s, 10);
  sizeMatrix(C, s.width, s.width);
  sizeMatrix(S, s.width, s.width);
  gram::self_accumulate(data, s.mean.data(), s.sd.data(), s.n, C, S, chunk, fn);
  gram::mirror_lower(C);
  gram::mirror_lower(S);
}

void run_cross(const Sites& x, const Sites& y, size_t chunk, gram::AccumulateFn fn, Matrix& C,
               Matrix& S) {
  Matrix xd = to_matrix(x), yd = to_matrix(y);
  sizeMatrix(C, x.width, y.width);
  sizeMatrix(S, x.width, y.width);
  std::vector<double> zx, zy;
  for (size_t k0 = 0; k0 < x.n; k0 += chunk) {
    size_t n = std::min(chunk, x.n - k0);
    gram::cross_chunk(xd[k0], x.width, yd[k0], y.width, n, x.mean.data() + k0, x.sd.data() + k0,
                      C, S, zx, zy, fn);
  }
}

}  // namespace

TEST(SelfAccumulate, ChunkedKernelsEqualThePlainLoop) {
  for (size_t width : {1, 2, 5, 13, 21}) {
    Sites s = make_sites(53, width, static_cast<unsigned>(width));
    Matrix C0, S0;
    plain_self(s, C0, S0);
    for (gram::AccumulateFn fn : {&gram::accumulate_ref, &gram::accumulate}) {
      for (size_t chunk : {1, 4, 7, 53, 200}) {
        Matrix C, S;
        run_self(s, chunk, fn, C, S);
        EXPECT_TRUE(same_bits(C, C0)) << "width " << width << " chunk " << chunk;
        EXPECT_TRUE(same_bits(S, S0)) << "width " << width << " chunk " << chunk;
      }
    }
  }
}

TEST(SelfAccumulate, ConstantSitesAddOnlyToTheCentredBlock) {
  Sites s = make_sites(1, 3, 1);
  s.sd[0] = 0.0;
  Matrix C, S;
  run_self(s, 1, gram::accumulate, C, S);
  for (double v : S.cells) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(C[1][2], (s.data[1] - s.mean[0]) * (s.data[2] - s.mean[0]));
}

TEST(CrossChunk, ChunkedKernelsEqualThePlainLoop) {
  const size_t shapes[][2] = {{1, 1}, {1, 7}, {5, 3}, {13, 6}, {6, 13}};
  for (auto& sh : shapes) {
    Sites x = make_sites(41, sh[0], 7);
    Sites y = make_sites(41, sh[1], 8);
    Matrix C0, S0;
    plain_cross(x, y, C0, S0);
    for (gram::AccumulateFn fn : {&gram::accumulate_ref, &gram::accumulate}) {
      for (size_t chunk : {1, 3, 10, 41}) {
        Matrix C, S;
        run_cross(x, y, chunk, fn, C, S);
        EXPECT_TRUE(same_bits(C, C0)) << sh[0] << "x" << sh[1] << " chunk " << chunk;
        EXPECT_TRUE(same_bits(S, S0)) << sh[0] << "x" << sh[1] << " chunk " << chunk;
      }
    }
  }
}

TEST(CrossChunk, SameBlockEqualsSelfAndSwapTransposes) {
  Sites x = make_sites(29, 6, 3), y = make_sites(29, 4, 4);
  y.mean = x.mean;
  y.sd = x.sd;
  Matrix Cs, Ss, Cx, Sx;
  run_self(x, 5, gram::accumulate, Cs, Ss);
  run_cross(x, x, 5, gram::accumulate, Cx, Sx);
  EXPECT_TRUE(same_bits(Cs, Cx));
  EXPECT_TRUE(same_bits(Ss, Sx));
  Matrix Cxy, Sxy, Cyx, Syx;
  run_cross(x, y, 4, gram::accumulate, Cxy, Sxy);
  run_cross(y, x, 4, gram::accumulate, Cyx, Syx);
  for (size_t i = 0; i < 6; ++i)
    for (size_t j = 0; j < 4; ++j) {
      EXPECT_EQ(std::memcmp(&Cxy[i][j], &Cyx[j][i], sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(&Sxy[i][j], &Syx[j][i], sizeof(double)), 0);
    }
}

TEST(ChunkSites, PanelStaysNearItsSize) {
  EXPECT_EQ(gram::chunk_sites(1), gram::kPanelBytes / 8);
  EXPECT_EQ(gram::chunk_sites(0), gram::kPanelBytes / 8);
  EXPECT_EQ(gram::chunk_sites(gram::kPanelBytes), 1u);
  EXPECT_LE(gram::chunk_sites(100) * 100 * 8, gram::kPanelBytes);
}

namespace {

std::string write_temp(const std::string& tag, const std::string& bytes) {
  std::string path = testing::TempDir() + "gram_stream_" + tag + "_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// Methylation file of `sites` lines whose value encodes sample and site.
std::string meth_file(int sample, int chrom, int sites, bool final_lf = true) {
  std::string s = "coord,value\n";
  for (int k = 0; k < sites; ++k) {
    s += std::to_string(k) + "," + std::to_string(sample * 1000 + chrom * 100 + k);
    if (k + 1 < sites || final_lf) s += "\n";
  }
  return s;
}

}  // namespace

TEST(BlockStream, ReadsFilesInStepAcrossChromosomes) {
  // Three samples; chromosomes of 5, 0 and 4 sites.
  const std::vector<long> sites = {5, 0, 4};
  std::vector<std::string> paths;
  for (int s = 0; s < 3; ++s)
    for (int q = 0; q < 3; ++q)
      paths.push_back(write_temp("s" + std::to_string(s) + "q" + std::to_string(q),
                                 meth_file(s, q, static_cast<int>(sites[q]), s != 1)));
  for (size_t chunk : {1, 2, 3, 9}) {
    gram::BlockStream in(paths, 3, sites, {"d0", "d1", "d2"});
    std::vector<double> panel(chunk * 4, -1.0);
    size_t k0 = 0;
    while (k0 < 9) {
      size_t n = std::min<size_t>(chunk, 9 - k0);
      in.read(panel.data(), 4, n);
      for (size_t r = 0; r < n; ++r) {
        size_t k = k0 + r;
        int q = k < 5 ? 0 : 2, site = k < 5 ? static_cast<int>(k) : static_cast<int>(k - 5);
        for (int s = 0; s < 3; ++s)
          EXPECT_EQ(panel[r * 4 + s], s * 1000 + q * 100 + site) << "chunk " << chunk << " site " << k;
      }
      k0 += n;
    }
    in.finish();
  }
}

TEST(BlockStreamDeathTest, LineCountMismatchEndsTheRun) {
  std::string ok = write_temp("ok", meth_file(0, 0, 3));
  std::string short_file = write_temp("short", meth_file(1, 0, 2));
  std::string long_file = write_temp("long", meth_file(1, 0, 3) + "\n");  // two final line feeds
  std::vector<double> panel(8);
  EXPECT_EXIT(
      {
        gram::BlockStream in({ok, short_file}, 2, {3}, {"des"});
        in.read(panel.data(), 2, 3);
      },
      testing::ExitedWithCode(255), "");
  EXPECT_EXIT(
      {
        gram::BlockStream in({ok, long_file}, 2, {3}, {"des"});
        in.read(panel.data(), 2, 3);
        in.finish();
      },
      testing::ExitedWithCode(255), "");
  // A chromosome of no sites still needs files without data lines.
  EXPECT_EXIT(
      {
        gram::BlockStream in({ok}, 1, {0}, {"des"});
        in.finish();
      },
      testing::ExitedWithCode(255), "");
}

TEST(BlockStream, GivingBackReportsFaultsWithoutEndingTheRun) {
  std::string ok = write_temp("ok", meth_file(0, 0, 3));
  std::string short_file = write_temp("short", meth_file(1, 0, 2));
  std::string long_file = write_temp("long", meth_file(1, 0, 3) + "\n");
  std::vector<double> panel(8);
  {
    gram::BlockStream in({ok, short_file}, 2, {3}, {"des"}, true);
    EXPECT_FALSE(in.read(panel.data(), 2, 3));
    EXPECT_FALSE(in.finish());  // stays failed
  }
  {
    gram::BlockStream in({ok, long_file}, 2, {3}, {"des"}, true);
    EXPECT_TRUE(in.read(panel.data(), 2, 3));
    EXPECT_FALSE(in.finish());
  }
  {
    gram::BlockStream in({ok, ok + ".missing"}, 2, {3}, {"des"}, true);
    EXPECT_FALSE(in.read(panel.data(), 2, 1));
  }
  gram::BlockStream in({ok, ok}, 2, {3}, {"des"}, true);
  EXPECT_TRUE(in.read(panel.data(), 2, 3));
  EXPECT_TRUE(in.finish());
}
