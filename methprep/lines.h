// Line source over a plain or gzip-compressed file (recognised by its magic
// bytes, whatever its name). Lines are split at '\n' as LineReader splits them.
#pragma once

#include "linereader.h"

#include <string>
#include <string_view>
#include <vector>
#include <zlib.h>

class InputLines {
 public:
  InputLines() = default;
  ~InputLines();
  InputLines(const InputLines&) = delete;
  InputLines& operator=(const InputLines&) = delete;

  // False with error() set when the file cannot be opened.
  bool open(const std::string& path);
  // Next line without its '\n' (a trailing '\r' stays). False at the end or
  // on a read or decompression error (see failed()).
  bool next(std::string_view& line);
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  // 1-based number of the line last returned.
  size_t line_no() const { return line_no_; }
  bool compressed() const { return gz_ != nullptr; }

 private:
  bool next_gz(std::string_view& line);
  bool fill_gz();

  LineReader plain_;
  gzFile gz_ = nullptr;
  std::vector<char> buf_;
  size_t begin_ = 0, end_ = 0, scan_ = 0;
  bool eof_ = false;
  size_t line_no_ = 0;
  std::string error_;
};
