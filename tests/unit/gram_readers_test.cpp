#include "gram_io.h"
#include "gram_readers.h"
#include "layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string temp_file(const std::string& tag, const std::string& bytes) {
  std::string path = testing::TempDir() + "gram_readers_" + tag + "_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// Runs a reader on `bytes` and returns what it printed.
template <class Reader>
std::string run_reader(Reader reader, const std::string& tag, const std::string& bytes,
                       std::string* path_out = nullptr) {
  std::string path = temp_file(tag, bytes);
  if (path_out) *path_out = path;
  testing::internal::CaptureStdout();
  reader(path.c_str());
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

std::vector<std::string> des_paths;

void reset_sites() {
  start_coord = 0;
  mean_vector.clear();
  sd_vector.clear();
  des_paths.clear();
}

// Announces and counts a descriptives file, as the programs do first.
std::string run_des(const std::string& tag, const std::string& bytes, std::string* path_out = nullptr) {
  std::string path;
  std::string printed = run_reader(read_mean_sd, tag, bytes, &path);
  des_paths.push_back(path);
  if (path_out) *path_out = path;
  return printed;
}

// The values of the files counted so far, read as the sums read them.
void read_values() {
  gram::RunDescriptives des;
  des.paths = des_paths;
  long prev = 0;
  start_coord = 0;
  for (const std::string& p : des_paths) {
    read_mean_sd(p.c_str());
    des.sites.push_back(start_coord - prev);
    prev = start_coord;
  }
  const size_t n = static_cast<size_t>(start_coord);
  mean_vector.assign(n, -1.0);
  sd_vector.assign(n, -1.0);
  gram::DesReader in(des);
  ASSERT_TRUE(in.read(mean_vector.data(), sd_vector.data(), n));
  double extra_m, extra_s;
  EXPECT_FALSE(in.read(&extra_m, &extra_s, 1));
}

}  // namespace

TEST(Fields, CutByNumberOfCommas) {
  EXPECT_EQ(field2("a,b,c,d,e"), "b");
  EXPECT_EQ(field3("a,b,c,d,e"), "c");
  EXPECT_EQ(field2("a,b,c"), "b");
  EXPECT_EQ(field3("a,b,c"), "c");
  // One comma: field 2 after it, field 3 before it.
  EXPECT_EQ(field2("100,0.5"), "0.5");
  EXPECT_EQ(field3("100,0.5"), "100");
  // None: the whole line for both.
  EXPECT_EQ(field2("0.25"), "0.25");
  EXPECT_EQ(field3("0.25"), "0.25");
  EXPECT_EQ(field2(""), "");
  EXPECT_EQ(field3(",,"), "");
}

TEST(Fields, ValuesReadAsAtof) {
  EXPECT_EQ(layout::meth_value("1234,0.75"), 0.75);
  EXPECT_EQ(layout::meth_value("1234,0.75,12"), 0.75);
  EXPECT_EQ(layout::meth_value("1234,NA"), 0.0);
  EXPECT_EQ(layout::meth_value("1234,0.5\r"), 0.5);
  EXPECT_EQ(layout::meth_value("1234, 2e-3x,7"), 0.002);
  EXPECT_TRUE(std::isnan(layout::meth_value("1,nan")));
  EXPECT_EQ(layout::meth_value("0.125"), 0.125);  // no comma: whole line
}

TEST(ReadMeanSd, FinalLineFeedDoesNotCount) {
  reset_sites();
  std::string printed = run_des("des_lf", "h\n1,0.5,0.1\n2,0.25,0.2\n");
  EXPECT_EQ(start_coord, 2);
  reset_sites();
  std::string path;
  printed = run_des("des_nolf", "h\n1,0.5,0.1\n2,0.25,0.2", &path);
  EXPECT_EQ(start_coord, 2);
  EXPECT_EQ(printed, "file named " + path + "  is read \n");
  testing::internal::CaptureStdout();
  read_values();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(mean_vector[1], 0.25);
  EXPECT_EQ(sd_vector[1], 0.2);
}

TEST(ReadMeanSd, FilesLieEndToEnd) {
  reset_sites();
  run_des("des_a", "h\n1,1,10\n2,2,20\n3,3,30\n");
  run_des("des_b", "h\n1,4,40\n2,5,50\n");
  EXPECT_EQ(start_coord, 5);
  testing::internal::CaptureStdout();
  read_values();
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(mean_vector.size(), 5u);
  EXPECT_EQ(mean_vector[3], 4.0);
  EXPECT_EQ(sd_vector[4], 50.0);
}

TEST(ReadMeanSd, EmptyLinesAndOddFields) {
  reset_sites();
  // Inner empty line: a site of mean 0 and SD 0. One comma: mean after it,
  // SD before it. Two final line feeds: the empty line before the last is a
  // site.
  run_des("des_odd", "h\n1,0.5,0.1\n\n100,0.5\n7,0.3,0.2,9,9\n\n");
  ASSERT_EQ(start_coord, 5);
  testing::internal::CaptureStdout();
  read_values();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(mean_vector[1], 0.0);
  EXPECT_EQ(sd_vector[1], 0.0);
  EXPECT_EQ(mean_vector[2], 0.5);
  EXPECT_EQ(sd_vector[2], 100.0);
  EXPECT_EQ(sd_vector[3], 0.2);
  EXPECT_EQ(mean_vector[4], 0.0);
}

TEST(ReadMeanSd, HeaderAloneOrEmptyAddsNothing) {
  reset_sites();
  run_des("des_h", "header\n");
  run_des("des_h2", "header");
  run_des("des_e", "");
  EXPECT_EQ(start_coord, 0);
  testing::internal::CaptureStdout();
  read_values();
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(mean_vector.empty());
}

TEST(ReadSample, NamesAreWholeLines) {
  std::string path;
  std::string printed = run_reader(read_sample, "s_lf", "A\nB\nC\n", &path);
  EXPECT_EQ(printed, "sample file " + path + "  is read \n");
  EXPECT_EQ(n_sample, 3);
  run_reader(read_sample, "s_nolf", "A\nB\nC");
  EXPECT_EQ(n_sample, 3);
  // An inner empty line is an empty name; blanks and CR stay.
  run_reader(read_sample, "s_gap", "A\n\n B \nC\r\n");
  ASSERT_EQ(n_sample, 4);
  EXPECT_EQ(samplenames[1], "");
  EXPECT_EQ(samplenames[2], " B ");
  EXPECT_EQ(samplenames[3], "C\r");
  // Only the empty read after the last line feed is dropped.
  run_reader(read_sample, "s_twolf", "A\nB\n\n");
  ASSERT_EQ(n_sample, 3);
  EXPECT_EQ(samplenames[2], "");
  run_reader(read_sample, "s_empty", "");
  EXPECT_EQ(n_sample, 0);
}

TEST(ReadSample, NoCapacityLimit) {
  std::string bytes;
  for (int i = 0; i < 4000; ++i) bytes += "S" + std::to_string(i) + "\n";
  run_reader(read_sample, "s_many", bytes);
  ASSERT_EQ(n_sample, 4000);
  EXPECT_EQ(samplenames[3999], "S3999");
}

TEST(ReadCpgData, FillsOneColumnFromTheCursor) {
  sizeMatrix(cpg_data, 6, 2);
  i_sample = 1;
  start_coord = 1;
  std::string printed =
      run_reader(read_cpg_data, "m1", "h\n1234,0.75\n1,0.75,12\n2,NA\n3,0.5\r\n0.25\n");
  EXPECT_EQ(printed, "");
  EXPECT_EQ(start_coord, 6);
  const double want[6] = {0.0, 0.75, 0.75, 0.0, 0.5, 0.25};
  for (int r = 0; r < 6; ++r) {
    EXPECT_EQ(cpg_data[r][1], want[r]) << "row " << r;
    EXPECT_EQ(cpg_data[r][0], 0.0);
  }
}

TEST(ReadCpgData, LinesBeyondTheMatrixAreCountedNotStored) {
  sizeMatrix(cpg_data, 2, 1);
  i_sample = 0;
  start_coord = 0;
  run_reader(read_cpg_data, "m_long", "h\n1,1\n2,2\n3,3\n4,4\n");
  EXPECT_EQ(start_coord, 4);
  EXPECT_EQ(cpg_data[1][0], 2.0);
  // A column beyond the matrix: nothing stored, lines still counted.
  i_sample = 5;
  start_coord = 0;
  run_reader(read_cpg_data, "m_col", "h\n1,9\n");
  EXPECT_EQ(start_coord, 1);
  EXPECT_EQ(cpg_data[0][0], 1.0);
}

TEST(ReadCpgData, EmptyLineRuleAndVariants) {
  sizeMatrix(cpg_data_row, 4, 1);
  sizeMatrix(cpg_data_col, 4, 1);
  i_sample = 0;
  start_coord = 0;
  run_reader(read_cpg_data_row, "r_h", "header\n");
  run_reader(read_cpg_data_row, "r_e", "");
  EXPECT_EQ(start_coord, 0);
  run_reader(read_cpg_data_row, "r_2lf", "h\n1,0.5\n\n");
  EXPECT_EQ(start_coord, 2);  // the inner empty line is a site
  EXPECT_EQ(cpg_data_row[0][0], 0.5);
  start_coord = 0;
  run_reader(read_cpg_data_col, "c_1", "h\n1,0.25");
  EXPECT_EQ(start_coord, 1);
  EXPECT_EQ(cpg_data_col[0][0], 0.25);
}

TEST(ReadersDeathTest, MissingFileEndsTheRun) {
  EXPECT_EXIT(read_mean_sd("/nonexistent/des_chr1.csv"), testing::ExitedWithCode(255), "");
  EXPECT_EXIT(read_sample("/nonexistent/list.txt"), testing::ExitedWithCode(255), "");
  EXPECT_FALSE(can_open("/nonexistent/x.csv"));
  EXPECT_FALSE(can_open(testing::TempDir().c_str()));  // a folder is not a file
}
