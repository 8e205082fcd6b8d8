#include "outfile.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string fresh_dir(const char* tag) {
  std::string d = testing::TempDir() + "outfile_" + tag + "_" + std::to_string(getpid());
  std::string cmd = "rm -rf '" + d + "' && mkdir -p '" + d + "'";
  EXPECT_EQ(0, std::system(cmd.c_str()));
  return d + "/";
}

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

int entries(const std::string& dir) {
  int n = 0;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
  closedir(d);
  return n;
}

TEST(OutFile, CommitReplacesWholeFileWithUmaskPermissions) {
  std::string d = fresh_dir("commit");
  { std::ofstream(d + "a.csv") << "old"; }
  mode_t old = umask(027);
  OutFile f;
  ASSERT_TRUE(f.open(d + "a.csv"));
  EXPECT_EQ(slurp(d + "a.csv"), "old");  // untouched until commit
  std::string big(3 << 20, 'x');         // larger than the buffer
  f.write("head\n");
  f.write(big);
  f.put('\n');
  ASSERT_TRUE(f.commit());
  umask(old);
  EXPECT_EQ(slurp(d + "a.csv"), "head\n" + big + "\n");
  struct stat st;
  ASSERT_EQ(0, stat((d + "a.csv").c_str(), &st));
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(entries(d), 1);
}

// Files of several write-behind windows, from small writes and from writes
// larger than the buffer, come out whole; so does a second file through the
// same object.
TEST(OutFile, LongFilesComeOutWhole) {
  std::string d = fresh_dir("long");
  std::string want;
  OutFile f;
  for (int round = 0; round < 2; ++round) {
    const std::string path = d + (round ? "b.csv" : "a.csv");
    ASSERT_TRUE(f.open(path));
    want.clear();
    for (int i = 0; want.size() < (size_t{30} << 20); ++i) {
      if (i % 500 == 499) {
        std::string big((size_t{3} << 20) + static_cast<size_t>(i), static_cast<char>('a' + i % 26));
        f.write(big);
        want += big;
      } else {
        std::string line = std::to_string(i) + ",0." + std::to_string(i * 7919 % 100003) + "\n";
        f.write(line);
        want += line;
      }
    }
    ASSERT_TRUE(f.commit()) << f.error();
    EXPECT_TRUE(slurp(path) == want) << path;
  }
  EXPECT_EQ(entries(d), 2);
}

TEST(OutFile, AbortAndDestructionLeaveNothing) {
  std::string d = fresh_dir("abort");
  { std::ofstream(d + "keep.csv") << "old"; }
  {
    OutFile f;
    ASSERT_TRUE(f.open(d + "keep.csv"));
    f.write("new");
  }
  EXPECT_EQ(slurp(d + "keep.csv"), "old");
  OutFile g;
  ASSERT_TRUE(g.open(d + "other.csv"));
  g.abort();
  EXPECT_EQ(entries(d), 1);
}

TEST(OutFile, FailuresAreReported) {
  std::string d = fresh_dir("fail");
  OutFile f;
  EXPECT_FALSE(f.open(d + "missing/x.csv"));
  EXPECT_FALSE(f.error().empty());
  ASSERT_EQ(0, mkdir((d + "sub").c_str(), 0755));
  EXPECT_FALSE(f.open(d + "sub"));  // a folder where the file should go
  EXPECT_FALSE(f.open(d + "sub/"));
  EXPECT_FALSE(f.commit());
  EXPECT_EQ(entries(d), 1);
}

TEST(OutFile, FileSizeLimitIsAWriteErrorNotACrash) {
  std::string d = fresh_dir("fsize");
  { std::ofstream(d + "r.csv") << "earlier"; }
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  OutFile f;
  ASSERT_TRUE(f.open(d + "r.csv"));
  f.write(std::string(1 << 21, 'y'));
  bool ok = f.commit();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(f.error().empty());
  EXPECT_EQ(slurp(d + "r.csv"), "earlier");
  EXPECT_EQ(entries(d), 1);
}

// flush() shows a write failure while the file is still a temporary, so a
// set of files can be given up whole; after a good flush, commit() finishes.
TEST(OutFile, FlushReportsFailureBeforeAnythingIsMoved) {
  std::string d = fresh_dir("flush");
  { std::ofstream(d + "a.csv") << "earlier a"; }
  { std::ofstream(d + "b.csv") << "earlier b"; }
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  OutFile a, b;
  ASSERT_TRUE(a.open(d + "a.csv"));
  ASSERT_TRUE(b.open(d + "b.csv"));
  a.write("small\n");
  b.write(std::string(1 << 16, 'y'));
  const bool a_ok = a.flush(), b_ok = b.flush();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(a_ok);
  EXPECT_FALSE(b_ok);
  EXPECT_FALSE(b.error().empty());
  EXPECT_EQ(slurp(d + "a.csv"), "earlier a");  // nothing moved by flush
  a.abort();
  b.abort();
  EXPECT_EQ(slurp(d + "b.csv"), "earlier b");
  EXPECT_EQ(entries(d), 2);

  OutFile c;
  ASSERT_TRUE(c.open(d + "a.csv"));
  c.write("new\n");
  EXPECT_TRUE(c.flush());
  EXPECT_TRUE(c.commit());
  EXPECT_EQ(slurp(d + "a.csv"), "new\n");
  OutFile closed;
  EXPECT_FALSE(closed.flush());
}

}  // namespace
