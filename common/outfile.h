// Output that appears whole or not at all: bytes go to a temporary file in the
// target's folder, which commit() flushes, syncs and renames into place. On any
// failure, on abort(), on destruction without commit() and when a signal
// ends the process (process.h) the temporary file is removed and an earlier
// file of the target's name stays untouched.
#pragma once

#include <cstddef>
#include <cstring>
#include <sys/types.h>
#include <string>
#include <string_view>
#include <vector>

class OutFile {
 public:
  OutFile() = default;
  ~OutFile();
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // Creates the temporary file for `path`. False if it cannot (error() says why).
  bool open(const std::string& path);
  void write(const char* p, size_t n) {
    if (n > buf_.size() - used_) { spill(p, n); return; }
    std::memcpy(buf_.data() + used_, p, n);
    used_ += n;
  }
  void write(std::string_view s) { write(s.data(), s.size()); }
  void put(char c) {
    if (used_ == buf_.size()) spill(nullptr, 0);
    buf_[used_++] = c;
  }
  // Writes the buffered bytes to the temporary file and syncs it, so that a
  // full disk shows here, before any file of a set is moved into place.
  // False if anything failed since open().
  bool flush();
  // Moves the finished file into place. False if anything failed since open().
  bool commit();
  void abort();

  const std::string& path() const { return path_; }
  // The reason of the first failure, as strerror gives it.
  const std::string& error() const { return error_; }

 private:
  void spill(const char* p, size_t n);
  void write_behind();
  void fail(int err);

  std::string path_, tmp_, error_;
  std::vector<char> buf_;
  size_t used_ = 0;
  int fd_ = -1;
  off_t written_ = 0, started_ = 0, dropped_ = 0;
  bool behind_ = true;
};

// Writes `path` whole from `data`, or prints "cannot write output file <path>:
// <reason>" on standard output and ends the process with status 255.
void write_file_or_die(const std::string& path, std::string_view data);
