#include "eigen_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string write_temp(const char* tag, const std::string& bytes) {
  std::string path = testing::TempDir() + "loadcalc_" + tag + "_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::vector<double> eigenvals_of(const std::string& text) {
  read_eigenval(write_temp("eigenval", text).c_str());
  return eigen_val;
}

int n_sample_of(const std::string& text) {
  read_n_sample(write_temp("count", text).c_str());
  return n_sample;
}

// Sizes eigen_vec as the programs do (rows counted first), then reads it.
void load_eigenvec(const std::string& text, int K) {
  std::string path = write_temp("eigenvec", text);
  read_n_sample(path.c_str());
  sizeMatrix(eigen_vec, n_sample, K);
  read_eigenvec(path.c_str(), K);
}

using V = std::vector<double>;

TEST(ReadEigenval, LeadingNumberOfEachLineAfterTheHeader) {
  EXPECT_EQ(eigenvals_of("x\n12.5\n3.25\n0.5\n"), (V{12.5, 3.25, 0.5}));
  EXPECT_EQ(eigenvals_of("12.5\n3.25\n0.5"), (V{3.25, 0.5}));  // header skipped unread
  EXPECT_EQ(eigenvals_of("x\n12.5,foo,1\nPC1\n 2e1\r\n-inf\n"), (V{12.5, 0.0, 20.0, -INFINITY}));
}

TEST(ReadEigenval, AnEmptyLineEndsTheReading) {
  EXPECT_EQ(eigenvals_of("x\n1\n\n2\n"), (V{1.0}));
  EXPECT_EQ(eigenvals_of("x\n1\n2\n\n\n"), (V{1.0, 2.0}));
  EXPECT_EQ(eigenvals_of("x\n\r\n5\n"), (V{0.0, 5.0}));  // a carriage return is not empty
  EXPECT_EQ(eigenvals_of("x\n"), V{});
  EXPECT_EQ(eigenvals_of("x"), V{});
  EXPECT_EQ(eigenvals_of(""), V{});
}

TEST(ReadEigenval, AnnouncesTheFileAndStopsWhenItDoesNotOpen) {
  testing::internal::CaptureStdout();
  read_eigenval(write_temp("announce", "x\n1\n").c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, " file " + write_temp("announce", "x\n1\n") + " with eigenvalues is read \n");
  EXPECT_EXIT(read_eigenval("/nonexistent/ev.csv"), testing::ExitedWithCode(255), "");
}

TEST(ReadNSample, CountsRowsUpToTheFirstEmptyLine) {
  EXPECT_EQ(n_sample_of("h\na\nb\nc\n"), 3);
  EXPECT_EQ(n_sample_of("h\na\nb\nc"), 3);
  EXPECT_EQ(n_sample_of("h\na\nb\n\nc\n"), 2);
  EXPECT_EQ(n_sample_of("h\nno comma\n\"x\",1\n"), 2);  // content not looked at
  EXPECT_EQ(n_sample_of("h"), 0);
  EXPECT_EXIT(read_n_sample("/nonexistent/evec.csv"), testing::ExitedWithCode(255), "");
}

TEST(ReadEigenvec, NamesFromQuotedOrPlainFirstFields) {
  load_eigenvec("\"\",\"PC1\"\n\"S01\",1\nS02,2\n\"S03,3\nx\"S 4\"y,4\n\"\",5\nS06\r,6\n", 1);
  ASSERT_EQ(n_sample, 6);
  EXPECT_EQ(sample_names,
            (std::vector<std::string>{"S01", "S02", "S03", "S 4", "", "S06\r"}));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(eigen_vec[i][0], i + 1.0);
}

TEST(ReadEigenvec, TakesExactlyKComponentFieldsInOrder) {
  load_eigenvec("h\n\"A\",0.1,-0.2,0.3\n\"B\", 4e-1 ,NA,x\r\n", 2);
  EXPECT_EQ(eigen_vec[0][0], 0.1);
  EXPECT_EQ(eigen_vec[0][1], -0.2);
  EXPECT_EQ(eigen_vec[1][0], 0.4);
  EXPECT_EQ(eigen_vec[1][1], 0.0);
  load_eigenvec("h\nA,1,2\nB,3,4", 2);  // last row without a line feed
  EXPECT_EQ(eigen_vec[1][1], 4.0);
  load_eigenvec("h\nA,1,\nB,,4\n", 2);  // empty fields read as 0
  EXPECT_EQ(eigen_vec[0][1], 0.0);
  EXPECT_EQ(eigen_vec[1][0], 0.0);
  EXPECT_EQ(eigen_vec[1][1], 4.0);
}

TEST(ReadEigenvec, RowsEndAtAnEmptyLineOrWithoutCommaWhenKIsZero) {
  load_eigenvec("h\nA,1\nB,2\n\nC,3\n", 1);
  EXPECT_EQ(n_sample, 2);
  EXPECT_EQ(sample_names, (std::vector<std::string>{"A", "B"}));
  load_eigenvec("h\nA,1\nB\nC,3\n", 0);
  EXPECT_EQ(n_sample, 3);
  EXPECT_EQ(sample_names, (std::vector<std::string>{"A", "", ""}));
}

TEST(ReadEigenvec, ARowWithFewerThanKComponentsEndsTheRun) {
  EXPECT_EXIT(load_eigenvec("h\nA,1,2\nB,3\n", 2), testing::ExitedWithCode(255), "");
  EXPECT_EXIT(load_eigenvec("h\nA,1,2\nB\n", 1), testing::ExitedWithCode(255), "");
}

TEST(ReadDes, MeanAndSdByTheCommasOfTheLine) {
  read_des(write_temp("des", "coord,mean,SD\n1000,0.62,0.11\n5,0.7\n0.3\n1,2,3,4\n,,\n").c_str());
  EXPECT_EQ(mean_vector, (V{0.62, 0.7, 0.3, 2.0, 0.0}));
  EXPECT_EQ(sd_vector, (V{0.11, 5.0, 0.3, 3.0, 0.0}));  // one comma: SD is field 1
}

TEST(ReadDes, MeanOnlyLeavesTheSdTableAlone) {
  sd_vector = {9.0};
  read_des(write_temp("des_mean", "coord,mean\n1000,0.62\n2000,0.5").c_str(), false);
  EXPECT_EQ(mean_vector, (V{0.62, 0.5}));
  EXPECT_EQ(sd_vector, (V{9.0}));
  sd_vector.clear();
}

TEST(ReadDes, SitesAfterAnEmptyLineKeepZero) {
  std::string text = "coord,mean,SD\n";
  for (int s = 0; s < 10; ++s) text += std::to_string(s) + ",0.5,0.25\n";
  text += "\n11,0.9,0.1\n";
  read_des(write_temp("des_gap", text).c_str());
  EXPECT_EQ(mean_vector.size(), 10u);
  EXPECT_EQ(mean_at(9), 0.5);
  EXPECT_EQ(sd_at(9), 0.25);
  EXPECT_EQ(mean_at(10), 0.0);
  EXPECT_EQ(sd_at(11), 0.0);
}

TEST(ReadDes, AMissingFileLeavesEmptyTablesAndPrintsNothing) {
  mean_vector = {1.0};
  testing::internal::CaptureStdout();
  read_des("/nonexistent/des_chr1.csv");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(mean_vector.empty());
}

TEST(ReadEigenvec, TwoRowsOfOneNameEndTheRun) {
  EXPECT_EXIT(load_eigenvec("h\n\"A\",1\n\"B\",2\nA,3\n", 1), testing::ExitedWithCode(255),
              "");
  load_eigenvec("h\n\"A\",1\n\"a\",2\n\"A \",3\n", 1);  // names compare exactly
  EXPECT_EQ(n_sample, 3);
}

TEST(ReadEigenvec, ReadsTheRowsReadNSampleKeptWithoutReopening) {
  const std::string path = write_temp("eigenvec_once", "h\n\"A\",0.5\n\"B\",-0.25\n");
  read_n_sample(path.c_str());
  std::remove(path.c_str());  // a pipe would not give its lines again either
  sizeMatrix(eigen_vec, n_sample, 1);
  testing::internal::CaptureStdout();
  read_eigenvec(path.c_str(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " file " + path + " with eigenvectors is read \n");
  EXPECT_EQ(sample_names, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(eigen_vec.cells, (V{0.5, -0.25}));
}

TEST(DesStream, ChunksGiveTheRowsOfReadDes) {
  std::string text = "coord,mean,SD\n";
  for (int s = 0; s < 23; ++s)
    text += std::to_string(s) + "," + std::to_string(s * 0.125) + (s % 5 ? ",0.5\n" : "\n");
  text += "\n99,9,9\n";
  const std::string path = write_temp("des_stream", text);
  read_des(path.c_str());
  for (size_t chunk : {1, 4, 7, 23, 64}) {
    DesStream in;
    ASSERT_TRUE(in.open(path.c_str()));
    std::vector<double> mean(chunk), sd(chunk), all_mean, all_sd;
    for (size_t got; (got = in.read(mean.data(), sd.data(), chunk)) > 0;) {
      all_mean.insert(all_mean.end(), mean.begin(), mean.begin() + static_cast<long>(got));
      all_sd.insert(all_sd.end(), sd.begin(), sd.begin() + static_cast<long>(got));
    }
    EXPECT_FALSE(in.failed());
    EXPECT_EQ(all_mean, mean_vector) << chunk;
    EXPECT_EQ(all_sd, sd_vector) << chunk;
    EXPECT_EQ(in.read(mean.data(), sd.data(), 1), 0u);  // ended stays ended
  }
  DesStream none;
  EXPECT_FALSE(none.open("/nonexistent/des_chr1.csv"));
}

}  // namespace
