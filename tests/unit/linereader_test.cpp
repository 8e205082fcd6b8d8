#include "linereader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string temp_path(const char* tag) {
  return testing::TempDir() + "linereader_" + tag + "_" + std::to_string(getpid());
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

std::vector<std::string> read_all(const std::string& path, size_t buf = 1 << 20) {
  LineReader r(buf);
  EXPECT_TRUE(r.open(path.c_str()));
  std::vector<std::string> out;
  std::string_view line;
  while (r.next(line)) out.emplace_back(line);
  EXPECT_FALSE(r.failed());
  return out;
}

// What std::getline yields, less the empty piece after a final line feed.
std::vector<std::string> reference_lines(const std::string& bytes) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t nl = bytes.find('\n', start);
    if (nl == std::string::npos) {
      if (start < bytes.size()) out.push_back(bytes.substr(start));
      return out;
    }
    out.push_back(bytes.substr(start, nl - start));
    start = nl + 1;
  }
}

TEST(LineReader, LineEndsCarriageReturnsAndFinalLine) {
  std::string p = temp_path("basic");
  using V = std::vector<std::string>;
  write_bytes(p, "h\na\nb\n");
  EXPECT_EQ(read_all(p), (V{"h", "a", "b"}));
  write_bytes(p, "h\na\nb");
  EXPECT_EQ(read_all(p), (V{"h", "a", "b"}));
  write_bytes(p, "h\r\na\r\n\n");
  EXPECT_EQ(read_all(p), (V{"h\r", "a\r", ""}));
  write_bytes(p, "");
  EXPECT_EQ(read_all(p), V{});
  write_bytes(p, "\n");
  EXPECT_EQ(read_all(p), V{""});
  write_bytes(p, std::string("a\0b\nc", 5));
  EXPECT_EQ(read_all(p), (V{std::string("a\0b", 3), "c"}));
  std::remove(p.c_str());
}

TEST(LineReader, SmallBuffersAndLongLinesAgreeWithReference) {
  std::string p = temp_path("random");
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) {
      int len = (rng() % 10 == 0) ? static_cast<int>(rng() % 500) : static_cast<int>(rng() % 12);
      for (int k = 0; k < len; ++k) bytes.push_back(static_cast<char>('a' + rng() % 26));
      if (i + 1 < n || rng() % 2) bytes.push_back('\n');
    }
    write_bytes(p, bytes);
    for (size_t buf : {size_t{1}, size_t{64}, size_t{100}, size_t{1} << 16})
      ASSERT_EQ(read_all(p, buf), reference_lines(bytes)) << "round " << round << " buf " << buf;
  }
  std::remove(p.c_str());
}

TEST(LineReader, RefusesMissingFilesAndFolders) {
  LineReader r;
  EXPECT_FALSE(r.open("/nonexistent/file.csv"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(r.open(testing::TempDir().c_str()));
  EXPECT_EQ(errno, EISDIR);
  std::string_view line;
  EXPECT_FALSE(r.next(line));
}

}  // namespace
