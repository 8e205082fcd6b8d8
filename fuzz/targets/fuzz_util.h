// Helpers of the fuzz targets: the input as a file for readers that take a
// path, plain models of the line and number rules, and a check that aborts
// with a message so libFuzzer keeps the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace fz {

// A file of this process in /dev/shm (or /tmp), removed at exit.
inline const char* temp_path() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string p = std::string(dir) + "/methpca_fuzz_" + std::to_string(getpid()) + ".csv";
    return p;
  }();
  static const bool registered = [] { return std::atexit([] { unlink(temp_path()); }) == 0; }();
  (void)registered;
  return path.c_str();
}

// Writes the input to the temporary file and returns its path.
inline const char* as_file(const uint8_t* data, size_t size) {
  const char* path = temp_path();
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) { std::perror(path); std::abort(); }
  size_t done = 0;
  while (done < size) {
    ssize_t w = write(fd, data + done, size - done);
    if (w <= 0) { std::perror(path); std::abort(); }
    done += static_cast<size_t>(w);
  }
  close(fd);
  return path;
}

// The readers announce their files on standard output: keep that quiet.
inline void quiet_stdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

// Lines as a std::getline loop sees them, less the empty read after a final
// line feed: "h\na\n" gives "h","a"; "h\na\n\n" gives "h","a",""; "" gives none.
inline std::vector<std::string> lines_of(std::string_view s) {
  std::vector<std::string> out;
  size_t b = 0;
  while (b < s.size()) {
    size_t e = s.find('\n', b);
    if (e == std::string_view::npos) { out.emplace_back(s.substr(b)); break; }
    out.emplace_back(s.substr(b, e - b));
    b = e + 1;
  }
  return out;
}

// atof / atoi of a field, by way of a C string (a NUL ends the field).
inline double atof_of(std::string_view f) { return std::atof(std::string(f).c_str()); }
inline int atoi_of(std::string_view f) { return std::atoi(std::string(f).c_str()); }

inline uint64_t bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Same double, bit for bit (NaN sign and payload included).
inline bool same(double a, double b) { return bits(a) == bits(b); }

[[noreturn]] inline void finding(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "FINDING: %s %s\n", what, detail.c_str());
  std::abort();
}

inline std::string show(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f && c != '\\') out += static_cast<char>(c);
    else { char b[8]; std::snprintf(b, sizeof b, "\\x%02x", c); out += b; }
  }
  return out;
}

inline std::string show(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.17g (0x%016llx)", v, static_cast<unsigned long long>(bits(v)));
  return b;
}

// Fields 2 and 3 of a line by the number of commas in it (the cut of the
// inner-product readers and of read_des):
//   3 or more: f2 between commas 1 and 2, f3 between commas 2 and 3
//   2:         f2 between commas 1 and 2, f3 after comma 2
//   1:         f2 after the comma,        f3 before it
//   0:         both the whole line
struct Fields23 { std::string f2, f3; };
inline Fields23 cut23(const std::string& line) {
  std::vector<size_t> commas;
  for (size_t i = 0; i < line.size() && commas.size() < 3; ++i)
    if (line[i] == ',') commas.push_back(i);
  switch (commas.size()) {
    case 0: return {line, line};
    case 1: return {line.substr(commas[0] + 1), line.substr(0, commas[0])};
    case 2: return {line.substr(commas[0] + 1, commas[1] - commas[0] - 1), line.substr(commas[1] + 1)};
    default:
      return {line.substr(commas[0] + 1, commas[1] - commas[0] - 1),
              line.substr(commas[1] + 1, commas[2] - commas[1] - 1)};
  }
}

// Field 2 of a methylation line as descriptives and the loadings programs cut
// it: after the first comma up to the second or the end; no comma: the line.
inline std::string cut2(const std::string& line) {
  size_t c1 = line.find(',');
  if (c1 == std::string::npos) return line;
  size_t c2 = line.find(',', c1 + 1);
  return c2 == std::string::npos ? line.substr(c1 + 1) : line.substr(c1 + 1, c2 - c1 - 1);
}

}  // namespace fz
