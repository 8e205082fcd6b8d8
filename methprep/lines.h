// Line source over a plain or gzip-compressed file (recognised by its magic
// bytes, whatever its name). Lines are split at '\n' as LineReader splits them.
#pragma once

#include "linereader.h"

#include <string>
#include <string_view>
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
  // The LineReader's byte source over gz_ (ctx: this InputLines).
  static long read_gz(void* ctx, char* dst, size_t n);

  LineReader lines_;  // over the file, or over gz_ for a compressed one
  gzFile gz_ = nullptr;
  size_t line_no_ = 0;
  std::string error_;
};
