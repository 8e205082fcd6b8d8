// Line source over a plain or gzip-compressed input (recognised by its magic
// bytes, whatever its name). The input is opened once and read as a stream
// from its start, so pipes, /dev/stdin and named pipes read as files do: the
// first bytes are peeked into our own buffer, never read twice or sought
// back. Concatenated gzip members read as one text; bytes after a member that
// do not start another member are an error, not dropped. A UTF-8 byte-order
// mark at the start of the text is skipped. Lines are split at '\n' as
// LineReader splits them.
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

  // False with error() set when the input cannot be opened or is a folder.
  // Blocks on a named pipe until a writer opens it, as any reader would.
  bool open(const std::string& path);
  // Next line without its '\n' (a trailing '\r' stays). False at the end or
  // on a read or decompression error (see failed()); throws std::bad_alloc
  // when memory runs out.
  bool next(std::string_view& line);
  bool failed() const { return !error_.empty(); }
  // errno of a failed open(): EMFILE, ENFILE and ENOMEM are faults of the
  // run, not of the input.
  int open_errno() const { return open_errno_; }
  const std::string& error() const { return error_; }
  // 1-based number of the line last returned.
  size_t line_no() const { return line_no_; }
  bool compressed() const { return gz_; }

 private:
  void close();
  // Reads more raw bytes after raw_[raw_end_]; false at the end of the input
  // (read_errno_ set on a read error).
  bool fill_raw();
  // The LineReader's byte sources (ctx: this InputLines).
  static long read_plain(void* ctx, char* dst, size_t n);
  static long read_gz(void* ctx, char* dst, size_t n);
  long gz_fail(const std::string& why);

  LineReader lines_;
  int fd_ = -1;
  std::vector<unsigned char> raw_;  // bytes read from fd_ and not yet used
  size_t raw_pos_ = 0, raw_end_ = 0;
  int read_errno_ = 0;
  bool gz_ = false;
  bool z_init_ = false;
  bool member_done_ = false;  // the last gzip member ended; another may follow
  uint64_t raw_offset_ = 0;   // input bytes before raw_[0]
  z_stream zs_{};
  size_t line_no_ = 0;
  int open_errno_ = 0;
  std::string error_;
};
