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
#include <sys/stat.h>
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
  // Widths on both sides of one and two of the fast kernel's column panels.
  for (size_t width : {1, 2, 5, 13, 21, 23, 24, 25, 48, 61}) {
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
  EXPECT_LE(gram::chunk_sites(100) * 100 * 8, gram::kPanelBytes);
  // Wide blocks: the floor of sites, not a panel's worth.
  EXPECT_EQ(gram::chunk_sites(gram::kPanelBytes), gram::kMinChunkSites);
  EXPECT_EQ(gram::chunk_sites(1500), gram::kMinChunkSites);
}

namespace {

// A methylation tree <root>chr<N>/<name>.csv under the test's temporary folder.
std::string tree_root() {
  static const std::string root = testing::TempDir() + "gram_stream_" + std::to_string(getpid()) + "/";
  return root;
}

void write_meth(long chr, const std::string& name, const std::string& bytes) {
  const std::string dir = tree_root() + "chr" + std::to_string(chr);
  ::mkdir(tree_root().c_str(), 0755);
  ::mkdir(dir.c_str(), 0755);
  std::ofstream(dir + "/" + name + ".csv", std::ios::binary) << bytes;
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

gram::RunDescriptives run_of(long first_chr, std::vector<long> sites) {
  gram::RunDescriptives des;
  des.first_chr = first_chr;
  for (size_t q = 0; q < sites.size(); ++q) des.paths.push_back("des" + std::to_string(q));
  des.sites = std::move(sites);
  return des;
}

}  // namespace

TEST(RunReader, ReadsFilesInStepAcrossChromosomes) {
  // Three samples; chromosomes 1-3 of 5, 0 and 4 sites.
  const gram::RunDescriptives des = run_of(1, {5, 0, 4});
  for (int s = 0; s < 3; ++s)
    for (int q = 0; q < 3; ++q)
      write_meth(1 + q, "s" + std::to_string(s),
                 meth_file(s, q, static_cast<int>(des.sites[static_cast<size_t>(q)]), s != 1));
  for (size_t chunk : {1, 2, 3, 9}) {
    gram::RunReader in(tree_root(), des, {"s0", "s1", "s2"});
    std::vector<double> panel(chunk * 4, -1.0);
    size_t k0 = 0;
    while (k0 < 9) {
      size_t n = std::min<size_t>(chunk, 9 - k0);
      ASSERT_TRUE(in.read(panel.data(), 4, n));
      for (size_t r = 0; r < n; ++r) {
        size_t k = k0 + r;
        int q = k < 5 ? 0 : 2, site = k < 5 ? static_cast<int>(k) : static_cast<int>(k - 5);
        for (int s = 0; s < 3; ++s)
          EXPECT_EQ(panel[r * 4 + s], s * 1000 + q * 100 + site) << "chunk " << chunk << " site " << k;
      }
      k0 += n;
    }
    EXPECT_TRUE(in.finish());
  }
}

TEST(RunReader, ReportsEveryKindOfFaultWithItsFile) {
  const gram::RunDescriptives des = run_of(11, {3});
  write_meth(11, "ok", meth_file(0, 0, 3));
  write_meth(11, "short", meth_file(1, 0, 2));
  write_meth(11, "long", meth_file(1, 0, 3) + "\n");  // two final line feeds: one more line
  write_meth(11, "empty", "");
  std::vector<double> panel(8);
  {
    gram::RunReader in(tree_root(), des, {"ok", "short"});
    EXPECT_FALSE(in.read(panel.data(), 2, 3));
    EXPECT_FALSE(in.finish());  // stays failed
    EXPECT_EQ(in.fault_path(), tree_root() + "chr11/short.csv");
  }
  {
    gram::RunReader in(tree_root(), des, {"ok", "long"});
    EXPECT_TRUE(in.read(panel.data(), 2, 3));
    EXPECT_FALSE(in.finish());
    EXPECT_EQ(in.fault_path(), tree_root() + "chr11/long.csv");
  }
  {
    gram::RunReader in(tree_root(), des, {"ok", "missing"});
    EXPECT_FALSE(in.read(panel.data(), 2, 1));
    EXPECT_EQ(in.fault_path(), tree_root() + "chr11/missing.csv");
  }
  {
    gram::RunReader in(tree_root(), des, {"empty", "ok"});
    EXPECT_FALSE(in.read(panel.data(), 2, 1));
    EXPECT_EQ(in.fault_path(), tree_root() + "chr11/empty.csv");
  }
  // A chromosome of no sites still needs files without data lines.
  {
    gram::RunReader in(tree_root(), run_of(11, {0}), {"empty", "ok"});
    EXPECT_FALSE(in.finish());
    EXPECT_EQ(in.fault_path(), tree_root() + "chr11/ok.csv");
  }
  gram::RunReader in(tree_root(), des, {"ok", "ok"});
  EXPECT_TRUE(in.read(panel.data(), 2, 3));
  EXPECT_TRUE(in.finish());
}
