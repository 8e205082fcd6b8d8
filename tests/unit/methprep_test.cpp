// methprep's building blocks: strict fields, chromosome mapping, sample
// names, value text, the covering threshold and plain/gzip line input.
#include "align.h"
#include "chrom.h"
#include "fields.h"
#include "lines.h"
#include "names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace prep;

namespace {

std::string temp_path(const char* stem) {
  static int seq = 0;
  return "/tmp/methprep_test_" + std::to_string(getpid()) + "_" + std::to_string(seq++) + stem;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void write_gz(const std::string& path, const std::string& text) {
  gzFile g = gzopen(path.c_str(), "wb");
  ASSERT_NE(g, nullptr);
  gzwrite(g, text.data(), static_cast<unsigned>(text.size()));
  gzclose(g);
}

std::string gz_bytes(const std::string& text) {
  std::string path = temp_path(".gz");
  write_gz(path, text);
  std::ifstream f(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  return bytes;
}

std::vector<std::string> all_lines(const std::string& path, std::string* err = nullptr) {
  InputLines in;
  EXPECT_TRUE(in.open(path));
  std::vector<std::string> out;
  std::string_view l;
  while (in.next(l)) out.emplace_back(l);
  if (err) *err = in.error();
  return out;
}

}  // namespace

TEST(MethprepFields, WholeFieldNumbersOnly) {
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
  EXPECT_TRUE(to_int64("123", i));
  EXPECT_EQ(i, 123);
  EXPECT_TRUE(to_int64("+7", i));
  EXPECT_EQ(i, 7);
  for (const char* bad : {"", " 1", "1 ", "1x", "+-1", "0x10", "99999999999999999999"})
    EXPECT_FALSE(to_int64(bad, i)) << bad;
  EXPECT_FALSE(to_uint64("-1", u));
  EXPECT_TRUE(to_uint64("18446744073709551615", u));
  EXPECT_TRUE(to_double("0.5", d));
  EXPECT_EQ(d, 0.5);
  EXPECT_TRUE(to_double("1e-3", d));
  EXPECT_EQ(d, 1e-3);
  for (const char* bad : {"", "nan", "inf", "1e999", "0.5%", ".", "1,5"})
    EXPECT_FALSE(to_double(bad, d)) << bad;
}

TEST(MethprepFields, SplitDropsCarriageReturnAndKeepsEmptyFields) {
  std::vector<std::string_view> f;
  split_fields("a\t\tb\r", '\t', f);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0], "a");
  EXPECT_EQ(f[1], "");
  EXPECT_EQ(f[2], "b");
  split_fields("x,", ',', f);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[1], "");
  EXPECT_EQ(quoted(std::string_view("a\tb", 3)), "\"a\\x09b\"");
}

TEST(MethprepChrom, BuiltInNames) {
  EXPECT_EQ(ChromMap::builtin("chr1"), 1);
  EXPECT_EQ(ChromMap::builtin("22"), 22);
  EXPECT_EQ(ChromMap::builtin("chrX"), 23);
  EXPECT_EQ(ChromMap::builtin("Y"), 24);
  EXPECT_EQ(ChromMap::builtin("chrM"), 25);
  EXPECT_EQ(ChromMap::builtin("MT"), 25);
  for (const char* dropped : {"chr23", "0", "chr01", "chrUn_gl000220", "lambda", "chr", "", "x", "chr1_random"})
    EXPECT_EQ(ChromMap::builtin(dropped), 0) << dropped;
}

TEST(MethprepChrom, MapOverridesAndSelectionKeepsASubset) {
  std::string map = temp_path(".map");
  write_text(map, "NC_000001.11,1\nchrM,26\n\n");
  ChromMap m;
  ASSERT_EQ(m.load_map(map), "");
  EXPECT_EQ(m.lookup("NC_000001.11"), 1);
  EXPECT_EQ(m.lookup("chrM"), 26);
  EXPECT_EQ(m.lookup("chr2"), 2);  // the built-in rule still holds
  ASSERT_EQ(m.select("1,3-4,chrM"), "");
  EXPECT_EQ(m.lookup("chr1"), 1);
  EXPECT_EQ(m.lookup("chr2"), 0);
  EXPECT_EQ(m.lookup("4"), 4);
  EXPECT_EQ(m.lookup("chrM"), 26);
  EXPECT_EQ(m.lookup("chr5"), 0);
  EXPECT_TRUE(m.mapped("chr5"));
  EXPECT_FALSE(m.mapped("chrQ"));
  m.count_dropped("chrQ");
  m.count_dropped("chrQ");
  EXPECT_EQ(m.dropped().at("chrQ"), 2u);
  EXPECT_NE(m.select("4-3"), "");
  EXPECT_NE(m.select("1,,2"), "");

  write_text(map, "a,1\na,2\n");
  EXPECT_EQ(ChromMap().load_map(map), map + ":2: name \"a\" is mapped twice\n");
  write_text(map, "a,0\n");
  EXPECT_NE(ChromMap().load_map(map).find(":1: chromosome number \"0\""), std::string::npos);
  std::remove(map.c_str());
}

TEST(MethprepNames, FromPathsAndChecks) {
  EXPECT_EQ(name_from_path("data/S1.cov.gz"), "S1");
  EXPECT_EQ(name_from_path("S1.bismark.cov"), "S1.bismark");
  EXPECT_EQ(name_from_path("/x/y/P2.bedGraph"), "P2");
  EXPECT_EQ(name_from_path("T3.txt.gz"), "T3");
  EXPECT_EQ(name_from_path("plain"), "plain");
  EXPECT_EQ(unusable_name("S_1-a.b+c"), "");
  for (const char* bad : {"", ".hidden", "-x", "a/b", "a b", "a,b", "a\r", "ä"})
    EXPECT_NE(unusable_name(bad), "") << bad;
  EXPECT_NE(unusable_name(std::string(201, 'a')), "");
  EXPECT_EQ(check_names({"a", "b"}, {"1", "2"}), "");
  EXPECT_EQ(check_names({"a", "a"}, {"from x", "from y"}), "sample name \"a\" is given twice (from x; from y)\n");
}

TEST(MethprepNames, NamesFileDropsCarriageReturnsAndTrailingBlankLines) {
  std::string p = temp_path(".names");
  write_text(p, "a\r\nb\n\n\n");
  std::string err;
  EXPECT_EQ(read_names(p, err), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(err, "");
  write_text(p, "a\n\nb\n");
  EXPECT_EQ(read_names(p, err), (std::vector<std::string>{"a", "", "b"}));  // then refused as empty
  std::remove(p.c_str());
}

TEST(MethprepValues, ShortestTextReadsBackExactly) {
  char buf[64];
  auto text = [&](double v) { return std::string(buf, format_value(buf, v)); };
  EXPECT_EQ(text(0.5), "0.5");
  EXPECT_EQ(text(1.0), "1");
  EXPECT_EQ(text(0.0), "0");
  EXPECT_EQ(text(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(text(0.1 + 0.2), "0.30000000000000004");
  std::mt19937_64 rng(5);
  for (int i = 0; i < 100000; ++i) {
    double v = static_cast<double>(rng() % 1000) / static_cast<double>(1 + rng() % 1000);
    if (i % 3 == 0) v = std::ldexp(static_cast<double>(rng() >> 11), -53 - static_cast<int>(rng() % 40));
    std::string t = text(v);
    double back = std::strtod(t.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << t;
    char g17[64];
    ASSERT_LE(t.size(), static_cast<size_t>(std::snprintf(g17, sizeof g17, "%.17g", v)) + 4) << t;
  }
}

TEST(MethprepValues, CoveringThreshold) {
  EXPECT_EQ(min_covering(1.0, 50), 50u);
  EXPECT_EQ(min_covering(0.9, 50), 45u);
  EXPECT_EQ(min_covering(0.6, 3), 2u);
  EXPECT_EQ(min_covering(0.7, 6), 5u);
  EXPECT_EQ(min_covering(0.5, 1), 1u);
  EXPECT_EQ(min_covering(0.0, 10), 1u);
  EXPECT_EQ(min_covering(0.1, 3), 1u);
}

TEST(MethprepLines, GzipReadsAsPlain) {
  std::string text = "a\tb\r\n\nlast";
  text.insert(0, std::string(3 << 20, 'x') + "\n");  // a line longer than the buffer
  std::string plain = temp_path(".txt"), gz = temp_path(".gz");
  write_text(plain, text);
  write_gz(gz, text);
  std::vector<std::string> a = all_lines(plain), b = all_lines(gz);
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[1], "a\tb\r");
  EXPECT_EQ(a[2], "");
  EXPECT_EQ(a[3], "last");
  EXPECT_EQ(a, b);

  InputLines in;
  ASSERT_TRUE(in.open(gz));
  EXPECT_TRUE(in.compressed());
  std::string_view l;
  in.next(l);
  in.next(l);
  EXPECT_EQ(in.line_no(), 2u);

  // A cut-off gzip file is an error, not a short input.
  std::ifstream f(gz, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  write_text(gz, bytes.substr(0, bytes.size() - 20));
  std::string err;
  all_lines(gz, &err);
  EXPECT_NE(err.find("gzip data are damaged"), std::string::npos) << err;
  std::remove(plain.c_str());
  std::remove(gz.c_str());
  EXPECT_FALSE(in.open("/nonexistent/file"));
}

// Reads `bytes` through a pipe written one byte at a time, as a slow producer
// delivers them: nothing may be lost to the gzip check, nothing sought back.
std::vector<std::string> lines_through_pipe(const std::string& bytes, std::string* err) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    for (char c : bytes)
      if (write(fds[1], &c, 1) != 1) break;
    close(fds[1]);
  });
  std::vector<std::string> out = all_lines("/proc/self/fd/" + std::to_string(fds[0]), err);
  writer.join();
  close(fds[0]);
  return out;
}

TEST(MethprepLines, PipesLoseNoBytes) {
  const std::string text = "chr12\t5\t5\t0\t1\t1\nchr12\t9\t9\t0\t2\t0\n";
  const std::vector<std::string> want = {"chr12\t5\t5\t0\t1\t1", "chr12\t9\t9\t0\t2\t0"};
  std::string err;
  EXPECT_EQ(lines_through_pipe(text, &err), want);
  EXPECT_EQ(err, "");
  EXPECT_EQ(lines_through_pipe(gz_bytes(text), &err), want);
  EXPECT_EQ(err, "");
  // One byte of a plain file, or 1f alone, is text.
  EXPECT_EQ(lines_through_pipe("c", &err), std::vector<std::string>{"c"});
  EXPECT_EQ(lines_through_pipe("\x1f", &err), std::vector<std::string>{"\x1f"});
  EXPECT_EQ(lines_through_pipe("", &err), std::vector<std::string>{});
}

TEST(MethprepLines, GzipMembersAndTrailingData) {
  std::string path = temp_path(".gz"), err;
  // Concatenated members (an empty one among them) read as one text.
  write_text(path, gz_bytes("a\nb") + gz_bytes("") + gz_bytes("c\n") + gz_bytes("d\n"));
  EXPECT_EQ(all_lines(path, &err), (std::vector<std::string>{"a", "bc", "d"}));
  EXPECT_EQ(err, "");
  // Anything else after a member is refused, never dropped: text, one byte,
  // padding, a lone 1f.
  for (const std::string& tail : {std::string("chr1\t3\t3\t0\t1\t0\n"), std::string("x"), std::string(512, '\0'),
                                  std::string("\x1f")}) {
    write_text(path, gz_bytes("a\n") + tail);
    all_lines(path, &err);
    EXPECT_NE(err.find("data that are not gzip follow the gzip data (from byte"), std::string::npos) << err;
  }
  // A damaged second member is damaged data.
  std::string second = gz_bytes("b\n");
  second[second.size() / 2] ^= 0x55;
  write_text(path, gz_bytes("a\n") + second.substr(0, second.size() - 4));
  all_lines(path, &err);
  EXPECT_NE(err.find("gzip data are damaged"), std::string::npos) << err;
  std::remove(path.c_str());
}

TEST(MethprepLines, ByteOrderMarkSkippedAtTheStartOnly) {
  const std::string bom = "\xEF\xBB\xBF";
  std::string plain = temp_path(".txt"), gz = temp_path(".gz");
  write_text(plain, bom + "chr1\t5\n" + bom + "x\n");
  write_gz(gz, bom + "chr1\t5\n" + bom + "x\n");
  const std::vector<std::string> want = {"chr1\t5", bom + "x"};
  EXPECT_EQ(all_lines(plain), want);
  EXPECT_EQ(all_lines(gz), want);
  std::string err;
  EXPECT_EQ(lines_through_pipe(bom + "chr1\t5\n" + bom + "x\n", &err), want);
  write_text(plain, bom);
  EXPECT_EQ(all_lines(plain), std::vector<std::string>{""});
  std::remove(plain.c_str());
  std::remove(gz.c_str());
  InputLines in;
  EXPECT_FALSE(in.open("/tmp"));
  EXPECT_EQ(in.error(), std::strerror(EISDIR));
}
