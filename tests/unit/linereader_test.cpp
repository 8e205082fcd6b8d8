#include "linereader.h"

#include "numparse.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

// Field 2 cut and converted the plain way: text after the first comma up to
// the second comma or the line end (a line without a comma as a whole), then
// strtod on it.
double reference_field2(const std::string& line) {
  std::string f = line;
  size_t c1 = line.find(',');
  if (c1 != std::string::npos) {
    size_t c2 = line.find(',', c1 + 1);
    f = line.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
  }
  return num::parse_double_ref(f.data(), f.data() + f.size());
}

// next_field2 gives next()'s lines and, bit for bit, the plain field-2 value,
// on methylation-like lines and on lines of random bytes, whatever the buffer
// size (lines cut by the buffer end take the general path).
// Methylation-like lines ("<coord>,<value>" in the usual printf forms, plain
// decimals of 0 to 12 digits on either side of the point, sometimes followed
// by a third field or a carriage return) mixed with lines of odd bytes.
std::string field2_lines(std::mt19937_64& rng, int n) {
  const char odd[] = "0123456789,,..eE-+ \r\txX\0";
  std::string bytes;
  for (int i = 0; i < n; ++i) {
    const unsigned kind = rng() % 8;
    if (kind < 4) {
      bytes += std::to_string(rng() % 100000000) + ",";
      char v[64];
      const char* fmts[] = {"%.6f", "%.17g", "%g", "%.0f", "%.25f"};
      std::snprintf(v, sizeof v, fmts[rng() % 5], std::ldexp(double(rng() % 1000003), -int(rng() % 30)));
      bytes += v;
    } else if (kind < 6) {
      bytes += std::to_string(rng() % 1000) + ",";
      for (int k = static_cast<int>(rng() % 13); k > 0; --k) bytes.push_back(static_cast<char>('0' + rng() % 10));
      if (rng() % 4) bytes.push_back('.');
      for (int k = static_cast<int>(rng() % 13); k > 0; --k) bytes.push_back(static_cast<char>('0' + rng() % 10));
    } else {
      const int len = static_cast<int>(rng() % 30);
      for (int k = 0; k < len; ++k) bytes.push_back(odd[rng() % (sizeof odd - 1)]);
    }
    if (kind < 6 && rng() % 5 == 0) bytes += (rng() % 2) ? ",extra" : "\r";
    if (i + 1 < n || rng() % 2) bytes.push_back('\n');
  }
  return bytes;
}

TEST(LineReader, FusedField2ScanMatchesPlainCutAndStrtod) {
  std::string p = temp_path("field2");
  std::mt19937_64 rng(11);
  for (int round = 0; round < 300; ++round) {
    const std::string bytes = field2_lines(rng, static_cast<int>(rng() % 60));
    write_bytes(p, bytes);
    const std::vector<std::string> want = reference_lines(bytes);
    for (size_t buf : {size_t{1}, size_t{17}, size_t{64}, size_t{1} << 16}) {
      LineReader r(buf);
      ASSERT_TRUE(r.open(p.c_str()));
      std::string_view line;
      double v;
      size_t i = 0;
      while (r.next_field2(line, v)) {
        ASSERT_LT(i, want.size());
        ASSERT_EQ(std::string(line), want[i]) << "round " << round << " buf " << buf;
        const double w = reference_field2(want[i]);
        ASSERT_TRUE(std::memcmp(&v, &w, sizeof v) == 0 || (v != v && w != w))
            << "[" << want[i] << "] got " << std::hexfloat << v << " want " << w;
        ++i;
      }
      ASSERT_EQ(i, want.size());
      ASSERT_FALSE(r.failed());
    }
  }
  std::remove(p.c_str());
}

// Ordinary lines whose field 2 is at most ten bytes, mostly digits with a
// point or two, some signs, exponents, blanks, letters and the bytes next to
// the digits ("/", ":"): every shape the
// eight-at-a-time conversion takes or must hand back.
std::string short_field_lines(std::mt19937_64& rng, int n) {
  const char alphabet[] = "0123456789012345678901234567890123456789....+-e x:/";
  std::string bytes;
  for (int i = 0; i < n; ++i) {
    bytes += std::to_string(rng() % 100000) + ",";
    for (int k = static_cast<int>(rng() % 11); k > 0; --k) bytes.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    bytes.push_back('\n');
  }
  return bytes;
}

// read_field2 (the in-step reader's batch) gives the same values, empty-line
// flags and line count, in runs of any length (across its rounds of lines and
// the buffer's refills), into a strided column; at every level of
// set_wide_level the processor has.
TEST(LineReader, BatchField2MatchesPlainCutAndStrtod) {
  std::string p = temp_path("batch");
  std::mt19937_64 rng(23);
  const unsigned wide_default = LineReader::set_wide_level(2);
  for (int round = 0; round < 480; ++round) {
    LineReader::set_wide_level(round / 4 % 3);  // each kind of file every way
    // Every fourth file is of the shortest ordinary lines ("7,0", "12,0.5"):
    // the most lines and separators per scanned window and per round; every
    // fourth of short fields of all shapes.
    std::string bytes;
    if (round % 4 == 2) {
      for (int i = static_cast<int>(rng() % 3000); i > 0; --i)
        bytes += std::to_string(rng() % 100) + (rng() % 2 ? ",0\n" : ",0.5\n");
    } else if (round % 4 == 3) {
      bytes = short_field_lines(rng, static_cast<int>(rng() % 3000));
    } else {
      bytes = field2_lines(rng, static_cast<int>(rng() % 400));
    }
    write_bytes(p, bytes);
    const std::vector<std::string> want = reference_lines(bytes);
    for (size_t buf : {size_t{1}, size_t{100}, size_t{1} << 16}) {
      for (size_t chunk : {size_t{1}, size_t{3}, size_t{64}, size_t{65}, size_t{500}}) {
        LineReader r(buf);
        ASSERT_TRUE(r.open(p.c_str()));
        std::vector<double> v(chunk * 3);
        std::vector<char> empty(chunk * 2, 7);
        size_t i = 0;
        for (;;) {
          const size_t got = r.read_field2(v.data(), 3, chunk, empty.data(), 2);
          for (size_t k = 0; k < got; ++k, ++i) {
            ASSERT_LT(i, want.size());
            const double w = reference_field2(want[i]);
            ASSERT_TRUE(std::memcmp(&v[k * 3], &w, sizeof w) == 0 || (w != w && v[k * 3] != v[k * 3]))
                << "[" << want[i] << "] got " << std::hexfloat << v[k * 3] << " want " << w << " buf " << buf
                << " chunk " << chunk;
            ASSERT_EQ(empty[k * 2], want[i].empty() ? 1 : 0) << "line " << i;
          }
          if (got < chunk) break;
        }
        ASSERT_EQ(i, want.size()) << "buf " << buf << " chunk " << chunk;
        ASSERT_EQ(r.lines_read(), want.size());
        ASSERT_FALSE(r.failed());
      }
    }
  }
  LineReader::set_wide_level(wide_default);
  std::remove(p.c_str());
}

// Through mapped windows (four pages, the smallest) the lines, values,
// empty-line flags and offsets are those of reading: lines across window
// edges, lines longer than a window, files without a final line feed, and a
// reader reopened at an offset it reported.
TEST(LineReader, MappedWindowsAgreeWithReading) {
  std::string p = temp_path("mapped");
  std::mt19937_64 rng(41);
  const size_t window = 4 * static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const unsigned wide_default = LineReader::set_wide_level(2);
  for (int round = 0; round < 60; ++round) {
    LineReader::set_wide_level(round % 3);
    std::string bytes = round % 2 ? short_field_lines(rng, 20000) : field2_lines(rng, 4000);
    if (round % 5 == 1) {  // a line longer than a window, somewhere
      const size_t at = bytes.find('\n', rng() % bytes.size());
      bytes.insert(at == std::string::npos ? bytes.size() : at, std::string(window + rng() % (2 * window), '7'));
    }
    if (round % 3 == 2 && !bytes.empty() && bytes.back() == '\n') bytes.pop_back();
    write_bytes(p, bytes);
    const std::vector<std::string> want = reference_lines(bytes);
    ASSERT_GE(bytes.size(), 4 * window);
    LineReader r(100);
    r.set_map_window(window);
    ASSERT_TRUE(r.open(p.c_str()));
    std::vector<double> v(64);
    std::vector<char> empty(64);
    size_t i = 0, line_offset = 0;
    unsigned long long reopen_at = 0;
    size_t reopen_line = 0;
    while (i < want.size()) {
      // Lines in batches of any length, and one by one now and then.
      if (rng() % 4 == 0) {
        std::string_view line;
        double x;
        ASSERT_TRUE(r.next_field2(line, x)) << "line " << i;
        ASSERT_EQ(line, want[i]);
        const double w = reference_field2(want[i]);
        ASSERT_TRUE(std::memcmp(&x, &w, sizeof w) == 0 || (w != w && x != x)) << want[i];
        line_offset += want[i].size() + 1;
        ++i;
      } else {
        const size_t n = 1 + rng() % 64;
        const size_t got = r.read_field2(v.data(), 1, n, empty.data(), 1);
        ASSERT_EQ(got, std::min(n, want.size() - i)) << "line " << i;
        for (size_t k = 0; k < got; ++k, ++i) {
          const double w = reference_field2(want[i]);
          ASSERT_TRUE(std::memcmp(&v[k], &w, sizeof w) == 0 || (w != w && v[k] != v[k]))
              << "[" << want[i] << "] round " << round;
          ASSERT_EQ(empty[k], want[i].empty() ? 1 : 0);
          line_offset += want[i].size() + 1;
        }
      }
      ASSERT_EQ(r.offset(), std::min(line_offset, bytes.size())) << "line " << i;
      if (reopen_at == 0 && i > want.size() / 3) reopen_at = r.offset(), reopen_line = i;
    }
    std::string_view line;
    EXPECT_FALSE(r.next(line));
    EXPECT_FALSE(r.failed());
    // Back in at the saved offset: the same lines from there on.
    ASSERT_TRUE(r.open_at(p.c_str(), reopen_at));
    for (size_t k = reopen_line; k < want.size(); ++k) {
      ASSERT_TRUE(r.next(line)) << "line " << k;
      ASSERT_EQ(line, want[k]);
    }
    EXPECT_FALSE(r.next(line));
  }
  // A byte source after a mapped file is read from the source (standard
  // input, descriptor 0, which a source reader's own marker matches, is a
  // regular file here, so that a stray mapping of it would show).
  const int saved_stdin = dup(0);
  const int in = open(p.c_str(), O_RDONLY);
  ASSERT_GE(in, 0);
  ASSERT_EQ(dup2(in, 0), 0);
  close(in);
  LineReader r(100);
  r.set_map_window(window);
  ASSERT_TRUE(r.open(p.c_str()));
  std::string_view line;
  ASSERT_TRUE(r.next(line));
  struct Src {
    std::string bytes = "s1\ns2\n";
    size_t at = 0;
  } src;
  r.open_source(
      [](void* ctx, char* dst, size_t n) -> long {
        Src& s = *static_cast<Src*>(ctx);
        const size_t m = std::min(n, s.bytes.size() - s.at);
        std::memcpy(dst, s.bytes.data() + s.at, m);
        s.at += m;
        return static_cast<long>(m);
      },
      &src);
  ASSERT_TRUE(r.next(line));
  EXPECT_EQ(line, "s1");
  ASSERT_TRUE(r.next(line));
  EXPECT_EQ(line, "s2");
  EXPECT_FALSE(r.next(line));
  EXPECT_FALSE(r.failed());
  dup2(saved_stdin, 0);
  close(saved_stdin);
  LineReader::set_wide_level(wide_default);
  std::remove(p.c_str());
}

// The reader stays usable for another file after close(), and reports nothing
// once closed.
TEST(LineReader, ReopenAfterClose) {
  std::string p = temp_path("reopen");
  write_bytes(p, "h\n1,0.5\n2,0.25\n");
  LineReader r(64);
  ASSERT_TRUE(r.open(p.c_str()));
  std::string_view line;
  double v;
  ASSERT_TRUE(r.next_field2(line, v));
  r.close();
  EXPECT_FALSE(r.next_field2(line, v));
  ASSERT_TRUE(r.open(p.c_str()));
  ASSERT_TRUE(r.next(line));
  ASSERT_TRUE(r.next_field2(line, v));
  EXPECT_EQ(v, 0.5);
  ASSERT_TRUE(r.next_field2(line, v));
  EXPECT_EQ(v, 0.25);
  EXPECT_FALSE(r.next_field2(line, v));
  std::remove(p.c_str());
}

}  // namespace
