#include "blocks.h"
#include "eigen.h"
#include "numparse.h"
#include "outliers.h"
#include "plot.h"
#include "results.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string fresh_dir(const std::string& tag) {
  std::string d = testing::TempDir() + "grameigen_" + tag + "_" + std::to_string(getpid());
  std::string cmd = "rm -rf '" + d + "' && mkdir -p '" + d + "'";
  EXPECT_EQ(0, std::system(cmd.c_str()));
  return d + "/";
}

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A symmetric n x n matrix of distinct exact values.
Matrix known(long n, double scale) {
  Matrix g;
  sizeMatrix(g, n, n);
  for (long i = 0; i < n; ++i)
    for (long j = 0; j < n; ++j) g[i][j] = scale * (std::min(i, j) * 100 + std::max(i, j) + 1) - (i == j ? 0.25 : 0);
  return g;
}

std::string e15(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.15e", v);
  return b;
}

// Writes rows r0..r1 against columns c0..c1 (1-based) of g, as selfgram and crossgram do.
void write_block(const std::string& path, const Matrix& g, long r0, long r1, long c0, long c1) {
  std::string s;
  for (long i = r0; i <= r1; ++i) {
    for (long j = c0; j <= c1; ++j) s += (j > c0 ? "," : "") + e15(g[i - 1][j - 1]);
    s += "\n";
  }
  put(path, s);
}
void diag(const std::string& pfx, const Matrix& g, long a, long b, const char* tag = "diagst_") {
  write_block(pfx + tag + std::to_string(a) + "." + std::to_string(b) + "_.csv", g, a, b, a, b);
}
void rect(const std::string& pfx, const Matrix& g, long a, long b, long c, long d, const char* tag = "rectst_") {
  write_block(pfx + tag + std::to_string(a) + "." + std::to_string(b) + "_" + std::to_string(c) + "." +
                  std::to_string(d) + "_.csv",
              g, a, b, c, d);
}

void expect_equal(const Matrix& a, const Matrix& b) {
  ASSERT_EQ(a.rows(), b.rows());
  ASSERT_EQ(a.cols(), b.cols());
  for (size_t i = 0; i < a.rows(); ++i)
    for (size_t j = 0; j < a.cols(); ++j) ASSERT_EQ(a[i][j], b[i][j]) << "cell " << i << "," << j;
}

std::string assemble_error(const std::vector<std::string>& prefixes, long n, ge::Kind kind = ge::Kind::Std) {
  Matrix m;
  std::vector<ge::BlockFile> used;
  std::string err;
  EXPECT_FALSE(ge::assemble(prefixes, kind, n, m, used, err));
  return err;
}

}  // namespace

TEST(SampleList, CountsLinesLikeTheSharedReader) {
  std::string d = fresh_dir("samples");
  std::vector<std::string> names;
  std::string err;
  put(d + "a", "S1\nS2\n");
  ASSERT_TRUE(ge::read_sample_list(d + "a", names, err));
  EXPECT_EQ(names, (std::vector<std::string>{"S1", "S2"}));
  put(d + "b", "S1\nS2");
  ASSERT_TRUE(ge::read_sample_list(d + "b", names, err));
  EXPECT_EQ(names.size(), 2u);
  // An empty line inside the list is a name; only the piece after the final line feed is not.
  put(d + "c", "S1\n\nS3 \r\n");
  ASSERT_TRUE(ge::read_sample_list(d + "c", names, err));
  EXPECT_EQ(names, (std::vector<std::string>{"S1", "", "S3 \r"}));
  put(d + "e", "S1\nS2\n\n");
  ASSERT_TRUE(ge::read_sample_list(d + "e", names, err));
  EXPECT_EQ(names, (std::vector<std::string>{"S1", "S2", ""}));
  put(d + "f", "");
  ASSERT_TRUE(ge::read_sample_list(d + "f", names, err));
  EXPECT_TRUE(names.empty());
}

TEST(SampleList, RefusesMissingFileAndNamesTheEigenvectorFileCannotCarry) {
  std::string d = fresh_dir("samples_bad");
  std::vector<std::string> names;
  std::string err;
  EXPECT_FALSE(ge::read_sample_list(d + "none", names, err));
  EXPECT_NE(err.find("cannot open sample list"), std::string::npos) << err;
  put(d + "comma", "S1\nS,2\n");
  EXPECT_FALSE(ge::read_sample_list(d + "comma", names, err));
  EXPECT_NE(err.find("line 2"), std::string::npos) << err;
  put(d + "quote", "\"S1\"\n");
  EXPECT_FALSE(ge::read_sample_list(d + "quote", names, err));
}

TEST(BlockName, ParsesBothKindsAndRejectsMalformedNames) {
  ge::BlockFile b;
  ASSERT_EQ(1, ge::parse_block_name("diagst_1.30_.csv", ge::Kind::Std, b));
  EXPECT_FALSE(b.rect);
  EXPECT_EQ(b.r0, 1); EXPECT_EQ(b.r1, 30); EXPECT_EQ(b.c0, 1); EXPECT_EQ(b.c1, 30);
  ASSERT_EQ(1, ge::parse_block_name("rect_31.60_1.30_.csv", ge::Kind::Cen, b));
  EXPECT_TRUE(b.rect);
  EXPECT_EQ(b.r0, 31); EXPECT_EQ(b.r1, 60); EXPECT_EQ(b.c0, 1); EXPECT_EQ(b.c1, 30);
  // The other kind's files are not ours.
  EXPECT_EQ(0, ge::parse_block_name("diagst_1.30_.csv", ge::Kind::Cen, b));
  EXPECT_EQ(0, ge::parse_block_name("rect_1.3_4.5_.csv", ge::Kind::Std, b));
  EXPECT_EQ(0, ge::parse_block_name("diagst_1.30_.csv.bak", ge::Kind::Std, b));
  EXPECT_EQ(0, ge::parse_block_name("notes.csv", ge::Kind::Std, b));
  for (const char* bad : {"diagst_3.1_.csv", "diagst_0.2_.csv", "diagst_1.2.csv", "diagst_1.2_x.csv",
                          "diagst_a.b_.csv", "rectst_1.2_.csv", "rectst_1.2_3.4.csv", "diagst_-1.2_.csv",
                          "diagst_1.2_3.4_.csv", "diagst_1.1234567890_.csv"})
    EXPECT_EQ(-1, ge::parse_block_name(bad, ge::Kind::Std, b)) << bad;
}

TEST(Placement, OneDiagonalBlock) {
  std::string d = fresh_dir("one");
  Matrix g = known(5, 1.0), m;
  diag(d, g, 1, 5);
  std::vector<ge::BlockFile> used;
  std::string err;
  ASSERT_TRUE(ge::assemble({d}, ge::Kind::Std, 5, m, used, err)) << err;
  expect_equal(m, g);
  ASSERT_EQ(used.size(), 1u);
  EXPECT_EQ(used[0].path, d + "diagst_1.5_.csv");
}

TEST(Placement, TwoAndThreeBlocksWithRectsInEitherOrientation) {
  Matrix g = known(7, 1.5), m;
  std::vector<ge::BlockFile> used;
  std::string err;
  // Two blocks, the rect below the diagonal, then above it.
  for (bool below : {true, false}) {
    std::string d = fresh_dir(below ? "two_below" : "two_above");
    diag(d, g, 1, 3);
    diag(d, g, 4, 7);
    if (below) rect(d, g, 4, 7, 1, 3); else rect(d, g, 1, 3, 4, 7);
    ASSERT_TRUE(ge::assemble({d}, ge::Kind::Std, 7, m, used, err)) << err;
    expect_equal(m, g);
  }
  // Three blocks of unequal size, rects mixed, one of one sample.
  std::string d = fresh_dir("three");
  diag(d, g, 1, 2);
  diag(d, g, 3, 3);
  diag(d, g, 4, 7);
  rect(d, g, 1, 2, 3, 3);
  rect(d, g, 4, 7, 1, 2);
  rect(d, g, 3, 3, 4, 7);
  ASSERT_TRUE(ge::assemble({d}, ge::Kind::Std, 7, m, used, err)) << err;
  expect_equal(m, g);
  EXPECT_EQ(used.size(), 6u);
}

TEST(Placement, TwoPrefixesAreSummedAndOnlyTheirOwnKindAndStemCount) {
  std::string d = fresh_dir("sum");
  Matrix g1 = known(6, 1.0), g2 = known(6, 0.125), m;
  // Prefix d/chr1_ with two blocks, prefix d/chr2_ with three; centred kind.
  diag(d + "chr1_", g1, 1, 3, "diag_");
  diag(d + "chr1_", g1, 4, 6, "diag_");
  rect(d + "chr1_", g1, 1, 3, 4, 6, "rect_");
  diag(d + "chr2_", g2, 1, 2, "diag_");
  diag(d + "chr2_", g2, 3, 4, "diag_");
  diag(d + "chr2_", g2, 5, 6, "diag_");
  rect(d + "chr2_", g2, 3, 4, 1, 2, "rect_");
  rect(d + "chr2_", g2, 1, 2, 5, 6, "rect_");
  rect(d + "chr2_", g2, 5, 6, 3, 4, "rect_");
  // Standardized files and a neighbouring stem in the same folder are not read.
  diag(d + "chr1_", g2, 1, 2, "diagst_");
  diag(d + "chr10_", g2, 1, 2, "diag_");
  std::vector<ge::BlockFile> used;
  std::string err;
  ASSERT_TRUE(ge::assemble({d + "chr1_", d + "chr2_"}, ge::Kind::Cen, 6, m, used, err)) << err;
  Matrix want;
  sizeMatrix(want, 6, 6);
  for (size_t i = 0; i < want.cells.size(); ++i) want.cells[i] = g1.cells[i] + g2.cells[i];
  expect_equal(m, want);
  EXPECT_EQ(used.size(), 9u);
}

TEST(Placement, GapAndOverlapAreRejectedNamingTheSamples) {
  Matrix g = known(7, 1.0);
  std::string d = fresh_dir("gap");
  diag(d, g, 1, 3);
  diag(d, g, 4, 7);
  std::string err = assemble_error({d}, 7);
  EXPECT_NE(err.find("gap"), std::string::npos) << err;
  EXPECT_NE(err.find("samples 1-3 against samples 4-7"), std::string::npos) << err;
  // A diagonal block missing: the gap is the block's square.
  d = fresh_dir("gap2");
  diag(d, g, 1, 3);
  rect(d, g, 4, 7, 1, 3);
  err = assemble_error({d}, 7);
  EXPECT_NE(err.find("samples 4-7 against samples 4-7"), std::string::npos) << err;
  // A sample beyond the last block.
  d = fresh_dir("gap3");
  diag(d, g, 1, 6);
  err = assemble_error({d}, 7);
  EXPECT_NE(err.find("samples 1-7 against samples 7"), std::string::npos) << err;

  // The same rect in both orientations.
  d = fresh_dir("overlap");
  diag(d, g, 1, 3);
  diag(d, g, 4, 7);
  rect(d, g, 1, 3, 4, 7);
  rect(d, g, 4, 7, 1, 3);
  err = assemble_error({d}, 7);
  EXPECT_NE(err.find("overlap"), std::string::npos) << err;
  EXPECT_NE(err.find("rectst_1.3_4.7_.csv"), std::string::npos) << err;
  EXPECT_NE(err.find("rectst_4.7_1.3_.csv"), std::string::npos) << err;
  // Diagonal blocks that share samples 3-4.
  d = fresh_dir("overlap2");
  diag(d, g, 1, 4);
  diag(d, g, 3, 7);
  rect(d, g, 1, 2, 5, 7);
  err = assemble_error({d}, 7);
  EXPECT_NE(err.find("samples 3-4 against samples 3-4"), std::string::npos) << err;
  // A rect whose rows and columns share samples would meet its own mirror.
  d = fresh_dir("overlap3");
  diag(d, g, 1, 7);
  rect(d, g, 1, 3, 3, 5);
  err = assemble_error({d}, 7);
  EXPECT_NE(err.find("rectst_1.3_3.5_.csv"), std::string::npos) << err;
}

TEST(Placement, EachPrefixMustCoverTheMatrixOnItsOwn) {
  Matrix g = known(4, 1.0);
  std::string d = fresh_dir("halves");
  diag(d + "a_", g, 1, 4);
  diag(d + "b_", g, 1, 2);  // b_ alone leaves a gap even though a_ covers it
  std::string err = assemble_error({d + "a_", d + "b_"}, 4);
  EXPECT_NE(err.find("gap"), std::string::npos) << err;
  EXPECT_NE(err.find("b_"), std::string::npos) << err;
}

TEST(BlockFiles, ShapeAndContentErrorsNameTheFile) {
  Matrix g = known(4, 1.0);
  struct Case { const char* text; const char* says; };
  const Case cases[] = {
      {"", "holds 0 lines"},
      {"1,2\n3,4\n", "line 1 holds 2 values"},
      {"1,2,3,4\n1,2,3,4\n1,2,3,4\n", "holds 3 lines"},
      {"1,2,3,4\n1,2,3,4\n1,2,3,4\n1,2,3,4\n1,2,3,4\n", "more lines"},
      {"1,2,3,4,5\n1,2,3,4\n1,2,3,4\n1,2,3,4\n", "more values"},
      {"1,2,3,4\n1,NA,3,4\n1,2,3,4\n1,2,3,4\n", "line 2, value 2 \"NA\" is not a finite number"},
      {"1,2,3,4\n1,2,3,4\n1,2,3,4\n1,2,3,4x\n", "line 4, value 4"},
      {"1,2,3,4\n1,2,3,4\n1,2,3,4\n1,2,3,inf\n", "not a finite number"},
      {"1,2,3,4\n1,2,3,4\n\n1,2,3,4\n", "line 3 is empty"},
      {"1,2,3,4\n1,2,3,4\n1,2,3,4\n1,2,3,4\n\n", "more lines"},
      {"1,2,3,4\n1,2,3,4\n1,2,,4\n1,2,3,4\n", "line 3, value 3"},
  };
  for (const Case& c : cases) {
    std::string d = fresh_dir("shape");
    put(d + "diagst_1.4_.csv", c.text);
    std::string err = assemble_error({d}, 4);
    EXPECT_NE(err.find(d + "diagst_1.4_.csv"), std::string::npos) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << "want \"" << c.says << "\" in: " << err;
  }
  // Carriage returns at line ends and exponent forms are accepted.
  std::string d = fresh_dir("crlf");
  put(d + "diagst_1.2_.csv", "1.5e+00,-2\r\n-2,.5E1\r\n");
  Matrix m;
  std::vector<ge::BlockFile> used;
  std::string err;
  ASSERT_TRUE(ge::assemble({d}, ge::Kind::Std, 2, m, used, err)) << err;
  EXPECT_EQ(m[0][0], 1.5); EXPECT_EQ(m[0][1], -2.0); EXPECT_EQ(m[1][1], 5.0);
}

TEST(BlockFiles, FindingErrors) {
  Matrix g = known(4, 1.0);
  std::string d = fresh_dir("find");
  std::string err = assemble_error({d + "nosuch/x_"}, 4);
  EXPECT_NE(err.find("cannot list the folder " + d + "nosuch/"), std::string::npos) << err;
  err = assemble_error({d + "x_"}, 4);
  EXPECT_NE(err.find("no diagst_/rectst_ block files found for block prefix \"" + d + "x_\""), std::string::npos) << err;
  diag(d + "x_", g, 1, 4, "diag_");
  err = assemble_error({d + "x_"}, 4);  // only centred files there
  EXPECT_NE(err.find("no diagst_/rectst_"), std::string::npos) << err;
  put(d + "x_diagst_2.1_.csv", "1\n");
  err = assemble_error({d + "x_"}, 4);
  EXPECT_NE(err.find("x_diagst_2.1_.csv: the name does not follow"), std::string::npos) << err;
  d = fresh_dir("beyond");
  diag(d, known(5, 1.0), 1, 5);
  err = assemble_error({d}, 4);
  EXPECT_NE(err.find("the sample list holds 4 samples"), std::string::npos) << err;
  // A name far beyond the list is refused before anything is read or sized.
  d = fresh_dir("far");
  put(d + "diagst_1.999999999_.csv", "1\n");
  err = assemble_error({d}, 4);
  EXPECT_NE(err.find("diagst_1.999999999_.csv covers"), std::string::npos) << err;
  // A folder named like a block file cannot be read.
  d = fresh_dir("folder");
  ASSERT_EQ(0, std::system(("mkdir '" + d + "diagst_1.2_.csv'").c_str()));
  err = assemble_error({d}, 2);
  EXPECT_NE(err.find("cannot open block file"), std::string::npos) << err;
}

namespace {

// Q = I - 2 u u^T / (u^T u): orthogonal, so A = Q diag(lambda) Q^T has the
// columns of Q as eigenvectors.
Matrix householder(const std::vector<double>& u) {
  size_t n = u.size();
  double uu = 0;
  for (double x : u) uu += x * x;
  Matrix q;
  sizeMatrix(q, static_cast<long>(n), static_cast<long>(n));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) q[i][j] = (i == j ? 1.0 : 0.0) - 2 * u[i] * u[j] / uu;
  return q;
}

}  // namespace

TEST(Eigen, KnownEigenpairsInDescendingOrderWithFixedSigns) {
  const std::vector<double> lambda = {0.5, 12.0, 3.0, 7.5, 1.25, 0.0};
  Matrix q = householder({1, -2, 3, 0.5, -1, 2});
  const size_t n = lambda.size();
  Matrix a;
  sizeMatrix(a, n, n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) {
      double s = 0;
      for (size_t k = 0; k < n; ++k) s += q[i][k] * lambda[k] * q[j][k];
      a[i][j] = s;
    }
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < i; ++j) a[i][j] = a[j][i];
  std::vector<double> values;
  Matrix v;
  std::string err;
  ASSERT_TRUE(ge::sym_eigen(a, values, v, err)) << err;
  const std::vector<size_t> order = {1, 3, 2, 4, 0, 5};  // lambda sorted descending
  ASSERT_EQ(values.size(), n);
  for (size_t k = 0; k < n; ++k) {
    EXPECT_NEAR(values[k], lambda[order[k]], 1e-13 * 12.0) << k;
    // Same vector up to sign; the sign rule makes the largest entry positive.
    double dot = 0, biggest = 0;
    for (size_t i = 0; i < n; ++i) {
      dot += v[i][k] * q[i][order[k]];
      if (std::fabs(v[i][k]) > std::fabs(biggest)) biggest = v[i][k];
    }
    EXPECT_NEAR(std::fabs(dot), 1.0, 1e-13) << k;
    EXPECT_GT(biggest, 0) << k;
  }
}

TEST(Eigen, SmallExactCasesAndTheSignRule) {
  Matrix a, v;
  sizeMatrix(a, 2, 2);
  a[0][0] = 2; a[0][1] = 1; a[1][0] = 1; a[1][1] = 2;
  std::vector<double> values;
  std::string err;
  ASSERT_TRUE(ge::sym_eigen(a, values, v, err)) << err;
  EXPECT_NEAR(values[0], 3.0, 1e-15);
  EXPECT_NEAR(values[1], 1.0, 1e-15);
  EXPECT_NEAR(v[0][0], std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(v[1][0], std::sqrt(0.5), 1e-15);
  // Second vector (1,-1)/sqrt(2): a tie in magnitude, so the first entry is made positive.
  EXPECT_GT(v[0][1], 0);
  EXPECT_LT(v[1][1], 0);

  // A diagonal matrix decomposes exactly: unit vectors, values sorted.
  sizeMatrix(a, 3, 3);
  a[0][0] = 1; a[1][1] = 4; a[2][2] = 2;
  ASSERT_TRUE(ge::sym_eigen(a, values, v, err)) << err;
  EXPECT_EQ(values, (std::vector<double>{4, 2, 1}));
  EXPECT_EQ(v[1][0], 1.0); EXPECT_EQ(v[2][1], 1.0); EXPECT_EQ(v[0][2], 1.0);

  Matrix s;
  sizeMatrix(s, 3, 2);
  s[0][0] = 0.5; s[1][0] = -0.7; s[2][0] = 0.1;
  s[0][1] = -0.3; s[1][1] = 0.3; s[2][1] = 0.2;
  ge::fix_signs(s);
  EXPECT_EQ(s[1][0], 0.7); EXPECT_EQ(s[0][0], -0.5);
  EXPECT_EQ(s[0][1], 0.3); EXPECT_EQ(s[1][1], -0.3);

  sizeMatrix(a, 2, 2);
  a[0][1] = NAN;
  EXPECT_FALSE(ge::sym_eigen(a, values, v, err));
  EXPECT_NE(err.find("not finite"), std::string::npos) << err;
}

namespace {

// The eigen-file rules of the loadings programs: header skipped, reading ends
// at an empty line; an eigenvalue is the number at the start of its line; an
// eigenvector row is a name between the first two double quotes of the field
// before the first comma, then the components.
void read_back(const std::string& val_text, const std::string& vec_text, std::vector<double>& values,
               std::vector<std::string>& names, std::vector<std::vector<double>>& rows) {
  auto lines = [](const std::string& t) {
    std::vector<std::string> out;
    size_t s = 0;
    while (s < t.size()) {
      size_t e = t.find('\n', s);
      if (e == std::string::npos) e = t.size();
      out.push_back(t.substr(s, e - s));
      s = e + 1;
    }
    return out;
  };
  std::vector<std::string> vl = lines(val_text), rl = lines(vec_text);
  for (size_t i = 1; i < vl.size() && !vl[i].empty(); ++i)
    values.push_back(num::parse_double(vl[i].data(), vl[i].data() + vl[i].size()));
  for (size_t i = 1; i < rl.size() && !rl[i].empty(); ++i) {
    const std::string& l = rl[i];
    size_t c = l.find(',');
    if (c == std::string::npos) break;
    std::string field = l.substr(0, c);
    size_t q1 = field.find('"'), q2 = q1 == std::string::npos ? q1 : field.find('"', q1 + 1);
    names.push_back(q1 == std::string::npos ? field : field.substr(q1 + 1, q2 == std::string::npos ? q2 : q2 - q1 - 1));
    std::vector<double> row;
    while (c != std::string::npos) {
      size_t next = l.find(',', c + 1);
      std::string f = l.substr(c + 1, next == std::string::npos ? next : next - c - 1);
      row.push_back(num::parse_double(f.data(), f.data() + f.size()));
      c = next;
    }
    rows.push_back(row);
  }
}

}  // namespace

TEST(ResultFiles, LayoutAndExactReadBackByTheLoadingsRules) {
  std::vector<double> values = {2.0 / 3.0, 0.1, -1e-17};
  Matrix v;
  sizeMatrix(v, 3, 3);
  for (size_t i = 0; i < 9; ++i) v.cells[i] = std::sqrt(static_cast<double>(i + 2)) / 7 * (i % 2 ? -1 : 1);
  std::vector<std::string> names = {"S01", "", "a b\r"};
  std::string val = ge::eigenval_text(values), vec = ge::eigenvec_text(names, v);
  EXPECT_EQ(val, "eigenvalue\n0.66666666666666663\n0.10000000000000001\n-1.0000000000000001e-17\n");
  EXPECT_EQ(vec.substr(0, vec.find('\n') + 1), "\"\",\"PC1\",\"PC2\",\"PC3\"\n");
  EXPECT_EQ(vec.substr(vec.find('\n') + 1, 27), "\"S01\",0.20203050891044216,-");
  std::vector<double> back_values;
  std::vector<std::string> back_names;
  std::vector<std::vector<double>> rows;
  read_back(val, vec, back_values, back_names, rows);
  EXPECT_EQ(back_values, values);
  EXPECT_EQ(back_names, names);
  ASSERT_EQ(rows.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(rows[i][k], v[i][k]);
}

TEST(ResultFiles, SummaryAndPlot) {
  std::vector<double> values = {3.0, 1.0};
  Matrix v;
  sizeMatrix(v, 2, 2);
  v[0][0] = v[1][0] = v[0][1] = std::sqrt(0.5);
  v[1][1] = -std::sqrt(0.5);
  ge::BlockFile b;
  b.path = "out/diagst_1.2_.csv";
  std::string s = ge::summary_text(2, {b}, values, 10);
  EXPECT_NE(s.find("samples: 2\n"), std::string::npos) << s;
  EXPECT_NE(s.find("  out/diagst_1.2_.csv\n"), std::string::npos) << s;
  EXPECT_NE(s.find("75.00%"), std::string::npos) << s;
  EXPECT_NE(s.find("25.00%"), std::string::npos) << s;
  std::string svg = ge::pca_svg("t<1>", {"a&b", "c"}, {"g1", ""}, values, v);
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  EXPECT_NE(svg.find("t&lt;1&gt;"), std::string::npos);
  EXPECT_NE(svg.find(">a&amp;b<"), std::string::npos);
  EXPECT_NE(svg.find("(no group)"), std::string::npos);
  EXPECT_NE(svg.find(">75.0%<"), std::string::npos);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  std::vector<double> t = ge::nice_ticks(-0.37, 0.52, 6);
  ASSERT_FALSE(t.empty());
  EXPECT_NEAR(t.front(), -0.2, 1e-12);  // step 0.2
  EXPECT_NEAR(t.back(), 0.4, 1e-12);
}

// --- Hostile inputs: streams, files reached twice, names given twice,
// asymmetric blocks, results without variance.

TEST(Input, ReadsOnceAsAStreamAndRefusesNulBytes) {
  std::string d = fresh_dir("input");
  ge::Input in;
  std::string_view line;
  std::vector<std::string> got;
  // A line longer than the first buffer, a final line without a line feed.
  const std::string longline(200000, 'x');
  put(d + "a", "a\n\r\n" + longline + "\nlast");
  ASSERT_TRUE(in.open(d + "a"));
  while (in.next(line)) got.emplace_back(line);
  EXPECT_FALSE(in.failed());
  EXPECT_EQ(got, (std::vector<std::string>{"a", "\r", longline, "last"}));
  put(d + "nul", std::string("a\nb\0c\n", 6));
  got.clear();
  ASSERT_TRUE(in.open(d + "nul"));
  while (in.next(line)) got.emplace_back(line);
  EXPECT_TRUE(in.failed());
  EXPECT_NE(in.reason().find("NUL byte"), std::string::npos);
  EXPECT_FALSE(in.open(d));  // a folder
  EXPECT_EQ(errno, EISDIR);
  // A named pipe: opened once, its writer's lines all read.
  ASSERT_EQ(0, mkfifo((d + "fifo").c_str(), 0600));
  std::thread writer([&] { std::ofstream(d + "fifo") << "p\nq\n"; });
  got.clear();
  ASSERT_TRUE(in.open(d + "fifo"));
  while (in.next(line)) got.emplace_back(line);
  writer.join();
  EXPECT_EQ(got, (std::vector<std::string>{"p", "q"}));
  // Identity without opening, the same through a link.
  ASSERT_EQ(0, symlink((d + "a").c_str(), (d + "link").c_str()));
  ge::FileId a, l;
  ASSERT_TRUE(ge::file_id(d + "a", a));
  ASSERT_TRUE(ge::file_id(d + "link", l));
  EXPECT_TRUE(a == l);
  ASSERT_TRUE(ge::file_id(d + "fifo", l));
  EXPECT_FALSE(a == l);
}

TEST(SampleList, RefusesANameGivenTwice) {
  std::string d = fresh_dir("samples_dup");
  std::vector<std::string> names;
  std::string err;
  put(d + "a", "S1\nS2\nS3\nS2\n");
  EXPECT_FALSE(ge::read_sample_list(d + "a", names, err));
  EXPECT_NE(err.find("the name \"S2\" on line 4 is the name on line 2"), std::string::npos) << err;
  put(d + "b", "S1\n\nS3\n\n");
  EXPECT_FALSE(ge::read_sample_list(d + "b", names, err));
  EXPECT_NE(err.find("the name \"\" on line 4 is the name on line 2"), std::string::npos) << err;
  // Names that differ in a byte are two names.
  put(d + "c", "S1\nS1 \nS1\r\ns1\n");
  EXPECT_TRUE(ge::read_sample_list(d + "c", names, err)) << err;
  EXPECT_EQ(names.size(), 4u);
  std::string many;
  for (long i = 0; i <= ge::kMaxSamples; ++i) many += std::to_string(i) + "\n";
  put(d + "many", many);
  EXPECT_FALSE(ge::read_sample_list(d + "many", names, err));
  EXPECT_NE(err.find("more than 46340 names"), std::string::npos) << err;
}

TEST(BlockFiles, ADiagonalBlockMustBeSymmetricBitForBit) {
  struct Case { const char* text; const char* says; };
  const Case cases[] = {
      {"1,2,3\n2,1,4\n3,4.0000000000000009,1\n", "line 2, value 3 is 4 but line 3, value 2 is 4.0000000000000009"},
      {"1,2,3\n2,1,4\n3.5,4,1\n", "line 1, value 3 is 3 but line 3, value 1 is 3.5"},
      {"1,0,3\n-0,1,4\n3,4,1\n", "line 1, value 2 is 0 but line 2, value 1 is -0"},
  };
  for (const Case& c : cases) {
    std::string d = fresh_dir("asym");
    put(d + "diagst_1.3_.csv", c.text);
    std::string err = assemble_error({d}, 3);
    EXPECT_NE(err.find("diagst_1.3_.csv (samples 1-3 against samples 1-3, 3 lines of 3 values) is not symmetric: " +
                       std::string(c.says)),
              std::string::npos)
        << err;
  }
  // The same values in other digits are the same; a rectangular block has no such rule.
  std::string d = fresh_dir("sym");
  put(d + "diagst_1.2_.csv", "1,2.50\n25e-1,1\n");
  put(d + "diagst_3.3_.csv", "4\n");
  put(d + "rectst_3.3_1.2_.csv", "7,8\n");
  Matrix m;
  std::vector<ge::BlockFile> used;
  std::string err;
  ASSERT_TRUE(ge::assemble({d}, ge::Kind::Std, 3, m, used, err)) << err;
  EXPECT_EQ(m[0][1], 2.5);
  EXPECT_EQ(m[1][2], 8.0);
}

TEST(BlockFiles, AFileReachedTwiceIsRefusedBeforeAnyIsRead) {
  Matrix g = known(4, 1.0);
  std::string d = fresh_dir("twice");
  ASSERT_EQ(0, std::system(("mkdir '" + d + "b' '" + d + "h'").c_str()));
  diag(d + "b/", g, 1, 4);
  ASSERT_EQ(0, link((d + "b/diagst_1.4_.csv").c_str(), (d + "h/diagst_1.4_.csv").c_str()));
  ASSERT_EQ(0, symlink((d + "b").c_str(), (d + "s").c_str()));
  for (const std::string& again : {d + "b/", d + "./b/", d + "s/", d + "h/", d + "h/../b/"}) {
    std::string err = assemble_error({d + "b/", again}, 4);
    EXPECT_NE(err.find("block file " + again + "diagst_1.4_.csv (block prefix \"" + again +
                       "\") is the same file as block file " + d + "b/diagst_1.4_.csv"),
              std::string::npos)
        << err;
  }
  // Known before reading: a broken file reached twice is refused for that.
  put(d + "b/diagst_1.4_.csv", "broken\n");
  EXPECT_NE(assemble_error({d + "b/", d + "s/"}, 4).find("same file"), std::string::npos);
  // An earlier input (the sample list, say) as a block file.
  diag(d + "b/", g, 1, 4);
  ge::SeenInput list{"the sample list L", {}};
  ASSERT_TRUE(ge::file_id(d + "h/diagst_1.4_.csv", list.id));
  Matrix m;
  std::vector<ge::BlockFile> used;
  std::string err;
  EXPECT_FALSE(ge::assemble({d + "b/"}, ge::Kind::Std, 4, m, used, err, {list}));
  EXPECT_NE(err.find("is the same file as the sample list L"), std::string::npos) << err;
  // A copy is another file: added.
  ASSERT_EQ(0, std::system(("mkdir '" + d + "c' && cp '" + d + "b/diagst_1.4_.csv' '" + d + "c/'").c_str()));
  ASSERT_TRUE(ge::assemble({d + "b/", d + "c/"}, ge::Kind::Std, 4, m, used, err)) << err;
  EXPECT_EQ(m[2][3], 2 * g[2][3]);
}

TEST(Eigen, ResultsWithoutVarianceOrBeyondTheLargestDoubleAreRefused) {
  Matrix v;
  sizeMatrix(v, 2, 2);
  v[0][0] = v[1][1] = 1;
  std::string err;
  EXPECT_TRUE(ge::check_result({2, 1}, v, err)) << err;
  EXPECT_TRUE(ge::check_result({2, -1}, v, err)) << err;  // a total above zero
  EXPECT_FALSE(ge::check_result({0, 0}, v, err));
  EXPECT_NE(err.find("no positive eigenvalue (the largest is 0): the blocks hold no variance"), std::string::npos) << err;
  EXPECT_FALSE(ge::check_result({-1, -2}, v, err));
  EXPECT_NE(err.find("not an inner-product matrix"), std::string::npos) << err;
  EXPECT_FALSE(ge::check_result({1, -3}, v, err));
  EXPECT_NE(err.find("total variance) is -2, not positive"), std::string::npos) << err;
  EXPECT_FALSE(ge::check_result({INFINITY, 1}, v, err));
  EXPECT_NE(err.find("eigenvalue 1 as inf"), std::string::npos) << err;
  EXPECT_FALSE(ge::check_result({NAN, 1}, v, err));
  EXPECT_FALSE(ge::check_result({1.7e308, 1.7e308}, v, err));
  EXPECT_NE(err.find("total variance) is inf"), std::string::npos) << err;
  v[1][0] = NAN;
  EXPECT_FALSE(ge::check_result({2, 1}, v, err));
  EXPECT_NE(err.find("eigenvector 1"), std::string::npos) << err;
  // Shares: 100 v / total, and v / total x 100 where 100 v overflows.
  EXPECT_EQ(ge::share(1, 3), 100.0 * 1 / 3);
  EXPECT_EQ(ge::share(1.5e308, 1.6e308), 1.5e308 / 1.6e308 * 100.0);
  // The summary and the plot of a result near the largest double hold no nan.
  v[1][0] = 0;
  std::string sum = ge::summary_text(2, {}, {1.5e308, 1e307}, 10);
  EXPECT_NE(sum.find("93.75%"), std::string::npos) << sum;
  std::string svg = ge::pca_svg("t", {"a", "b"}, {}, {1.5e308, 1e307}, v);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

// --- Outliers.

namespace {

// n samples, one column per entry of `cols`: the leading entries given, the rest 0.
Matrix columns(size_t n, const std::vector<std::vector<double>>& cols) {
  Matrix v;
  sizeMatrix(v, static_cast<long>(n), static_cast<long>(cols.size()));
  for (size_t k = 0; k < cols.size(); ++k)
    for (size_t i = 0; i < cols[k].size(); ++i) v[i][k] = cols[k][i];
  return v;
}

}  // namespace

TEST(Outliers, RoundsOverTheSamplesNotYetFlagged) {
  // Column {10, 3, 0 x 8}: round 1 mean 1.3, SD sqrt(92.1 / 9), 10 is 2.72 SD
  // out and 3 only 0.53; round 2 over {3, 0 x 8}: mean 1/3, SD 1, so 3 is
  // 2.67 SD out; round 3: all 0, SD 0, no more.
  Matrix v = columns(10, {{10, 3}});
  ge::OutlierRule rule{2, 10};
  std::vector<ge::Outlier> f = ge::find_outliers({1}, v, rule);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].sample, 0u); EXPECT_EQ(f[0].round, 1); EXPECT_EQ(f[0].component, 0u);
  EXPECT_NEAR(f[0].deviation, 8.7 / std::sqrt(92.1 / 9), 1e-14);
  EXPECT_EQ(f[1].sample, 1u); EXPECT_EQ(f[1].round, 2);
  EXPECT_NEAR(f[1].deviation, 8.0 / 3, 1e-14);
  // A higher limit: the first is not beyond it, so no second round.
  rule.sd = 2.8;
  EXPECT_TRUE(ge::find_outliers({1}, v, rule).empty());
  // Negative deviations count by their size.
  Matrix w = columns(10, {{-10, -3}});
  f = ge::find_outliers({1}, w, ge::OutlierRule{2, 10});
  ASSERT_EQ(f.size(), 2u);
  EXPECT_LT(f[0].deviation, -2);
}

TEST(Outliers, ComponentsSearchedAndTheComponentReported) {
  // Sample 0 far out on both components, farther on the second: reported
  // once, with the second. Sample 1 out on the third only.
  Matrix v = columns(10, {{10}, {20}, {0, 10}});
  std::vector<ge::Outlier> f = ge::find_outliers({3, 2, 1}, v, ge::OutlierRule{2, 10});
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].sample, 0u); EXPECT_EQ(f[0].component, 0u);  // both 2.85 SD out: a tie, the first
  EXPECT_EQ(f[1].sample, 1u); EXPECT_EQ(f[1].component, 2u);
  EXPECT_EQ(f[1].round, 1);
  // Two leading components only: sample 1 is not searched for.
  f = ge::find_outliers({3, 2, 1}, v, ge::OutlierRule{2, 2});
  ASSERT_EQ(f.size(), 1u);
  // Components of a zero (or numerically zero) eigenvalue are passed over.
  EXPECT_EQ(ge::outlier_components({3, 2, 1e-20}, 10, ge::OutlierRule{2, 10}), 2u);
  EXPECT_EQ(ge::outlier_components({3, 0, 1}, 10, ge::OutlierRule{2, 10}), 1u);
  EXPECT_EQ(ge::outlier_components({3, 2, 1}, 2, ge::OutlierRule{2, 10}), 2u);  // at most n
  EXPECT_EQ(ge::outlier_components({3, 2, 1}, 10, ge::OutlierRule{2, 0}), 0u);
  EXPECT_EQ(ge::find_outliers({3, 2, 0}, v, ge::OutlierRule{2, 10}).size(), 1u);
  EXPECT_TRUE(ge::find_outliers({3, 2, 1}, v, ge::OutlierRule{2, 0}).empty());
  // A column that is constant has no SD: nothing flagged on it.
  Matrix c = columns(4, {{1, 1, 1, 1}});
  EXPECT_TRUE(ge::find_outliers({1}, c, ge::OutlierRule{0.1, 10}).empty());
}

TEST(Outliers, TableReportAndPlot) {
  const std::vector<std::string> names = {"S1", "S2", "S3"};
  const std::vector<ge::Outlier> f = {{2, 0, 7.25, 1}, {0, 3, -6.5, 2}};
  EXPECT_EQ(ge::outliers_csv(names, f), "sample,component,deviation,round\n\"S3\",1,7.25,1\n\"S1\",4,-6.5,2\n");
  EXPECT_EQ(ge::outliers_csv(names, {}), "sample,component,deviation,round\n");
  EXPECT_EQ(ge::outliers_report(names, f, ge::OutlierRule{6, 10}, 10),
            "outliers beyond 6 SD on any of PC1-PC10, in rounds: 2\n"
            "  round 1   PC1       +7.25 SD  S3\n"
            "  round 2   PC4       -6.50 SD  S1\n");
  EXPECT_EQ(ge::outliers_report(names, {}, ge::OutlierRule{6, 10}, 10), "");
  EXPECT_EQ(ge::component_range(1), "PC1");
  Matrix v = columns(3, {{0.8, 0.1, -0.5}, {0.2, -0.9, 0.3}});
  const std::string plain = ge::pca_svg("t", names, {}, {2, 1}, v);
  EXPECT_EQ(plain, ge::pca_svg("t", names, {}, {2, 1}, v, {0, 0, 0}, ""));
  const std::string marked = ge::pca_svg("t", names, {}, {2, 1}, v, {2, 0, 1}, "ringed: 2 outliers");
  size_t rings = 0;
  for (size_t at = 0; (at = marked.find("r=\"8\" fill=\"none\"", at)) != std::string::npos; ++at) ++rings;
  EXPECT_EQ(rings, 2u);
  EXPECT_NE(marked.find("<title>S1: outlier, round 2</title>"), std::string::npos);
  EXPECT_NE(marked.find(">ringed: 2 outliers</text>"), std::string::npos);
}
