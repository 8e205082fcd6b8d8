// Temporary run files: flat arrays of fixed-size records, written and read
// sequentially through a buffer. Any I/O failure is fatal (the run cannot go
// on with a damaged temporary).
#pragma once

#include "workspace.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace prep {

// One site of one sample: position, reads covering it, methylation value.
struct Site {
  int32_t pos;
  uint32_t cov;
  double value;
};
// A site with the input line it came from, while a sample is being sorted.
struct SiteAt {
  int32_t pos;
  uint32_t cov;
  double value;
  uint64_t line;
};
// Per site over the samples merged so far: samples covering it and the sum of
// their values in sample order. In the kept list `sum` holds the mean.
struct Tally {
  int32_t pos;
  uint32_t n_cov;
  double sum;
};

// Coverage of formats that carry none: every listed site counts as covered.
constexpr uint32_t kCovUnknown = UINT32_MAX;

template <class T>
class RunWriter {
 public:
  explicit RunWriter(size_t buf_records = 1 << 14) : buf_(buf_records) {}
  ~RunWriter() { if (fd_ >= 0) ::close(fd_); }
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;

  void open(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) fail(errno);
    used_ = 0;
    count_ = 0;
  }
  void put(const T& r) {
    if (used_ == buf_.size()) flush();
    buf_[used_++] = r;
    ++count_;
  }
  void close() {
    flush();
    if (::close(fd_) != 0) fail(errno);
    fd_ = -1;
  }
  uint64_t count() const { return count_; }

 private:
  void flush() {
    const char* p = reinterpret_cast<const char*>(buf_.data());
    size_t n = used_ * sizeof(T);
    while (n > 0) {
      ssize_t w = ::write(fd_, p, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
    used_ = 0;
  }
  [[noreturn]] void fail(int err) {
    fatal("cannot write temporary file " + path_ + ": " + std::strerror(err) + "\n", 255);
  }
  std::string path_;
  std::vector<T> buf_;
  size_t used_ = 0;
  uint64_t count_ = 0;
  int fd_ = -1;
};

template <class T>
class RunReader {
 public:
  explicit RunReader(size_t buf_records = 1 << 12) : buf_(buf_records ? buf_records : 1) {}
  ~RunReader() { close(); }
  RunReader(const RunReader&) = delete;
  RunReader& operator=(const RunReader&) = delete;
  RunReader(RunReader&& o) noexcept
      : path_(std::move(o.path_)), buf_(std::move(o.buf_)), pos_(o.pos_), end_(o.end_), fd_(o.fd_) {
    o.fd_ = -1;
  }

  void open(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) fail(std::strerror(errno));
    pos_ = end_ = 0;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Next record; false at the end of the file.
  bool next(T& r) {
    if (pos_ == end_ && !fill()) return false;
    r = buf_[pos_++];
    return true;
  }

 private:
  bool fill() {
    char* p = reinterpret_cast<char*>(buf_.data());
    size_t want = buf_.size() * sizeof(T), got = 0;
    while (got < want) {
      ssize_t n = ::read(fd_, p + got, want - got);
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(std::strerror(errno));
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    if (got % sizeof(T) != 0) fail("truncated record");
    pos_ = 0;
    end_ = got / sizeof(T);
    return end_ > 0;
  }
  [[noreturn]] void fail(const std::string& why) {
    fatal("cannot read temporary file " + path_ + ": " + why + "\n", 255);
  }
  std::string path_;
  std::vector<T> buf_;
  size_t pos_ = 0, end_ = 0;
  int fd_ = -1;
};

}  // namespace prep
