// Buffered line reader over a file descriptor: large reads, no per-character
// stream calls, no allocation per line. Lines are split at '\n' (not part of
// the line); a carriage return stays in the line. A final line without a line
// feed is reported; the empty piece after a final line feed is not, so a file
// "h\na\n" yields "h", "a" and a file "h\na\n\n" yields "h", "a", "".
//
// Built with METHPCA_PLAIN, the reader is the plain one instead: std::getline
// on a std::ifstream, with the same line sequence.
#pragma once

#include "numparse_fast.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class LineReader {
 public:
  // Longest line read: a longer one fails the reader with EFBIG.
  static constexpr size_t kMaxLine = size_t{1} << 28;

  explicit LineReader(size_t buffer_size = size_t{1} << 20);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  LineReader(LineReader&& other) noexcept;

  // Opens a regular file (or pipe) for reading. False, with errno set, if it
  // cannot be opened or is a directory.
  bool open(const char* path);
  // open(), then continues at byte `offset` (as offset() reported it): the
  // in-step reader's way back into a file it had to close. Regular files only;
  // false, with errno set, otherwise or when the seek fails.
  bool open_at(const char* path, unsigned long long offset);
  void close();
  // True when the open file is a regular file (it can be reopened at an offset).
  bool is_regular() const { return regular_; }
  // Bytes of the file consumed by the lines returned so far.
  unsigned long long offset() const;
  bool is_open() const { return fd_ >= 0; }

#ifndef METHPCA_PLAIN
  // Reads from a byte source instead of a file (a decompressor, say):
  // read(ctx, dst, n) stores up to n bytes at dst and returns how many, 0 at
  // the end, or -1 on an error with errno telling why. Lines are split as for
  // a file. close() leaves the source itself alone. (Fast build only: the
  // plain build reads files through std::ifstream.)
  void open_source(long (*read)(void* ctx, char* dst, size_t n), void* ctx);
#endif

  // Next line, valid until the following call. False at the end of the input
  // or on a read error (see failed()).
  bool next(std::string_view& line);

  // next(), and in `value` field 2 of the line as atof reads it. Field 2 is
  // the text after the first comma up to the second comma or the line end; a
  // line without a comma is field 2 as a whole (so an empty line reads 0).
  // The ordinary methylation line ("<digits>,<decimal>\n") is cut and
  // converted in one pass over its bytes; any other line takes next() and
  // num::parse_double, which give the same value.
  bool next_field2(std::string_view& line, double& value);

  // Up to n lines as next_field2 gives them, field 2 of each into out[0],
  // out[stride], ...; when `empty` is given, empty[k * estride] is 1 for an
  // empty line and 0 otherwise. Returns how many (fewer only at the end of the
  // input or on a read error). The in-step reader's loop: ordinary lines are
  // taken without leaving it.
  size_t read_field2(double* out, size_t stride, size_t n, char* empty, size_t estride);

  // Field 2 of a line as atof reads it (the rule of next_field2).
  static double field2_value(std::string_view line);

  // Asks the processor to fetch `other`'s next `bytes` buffered bytes into
  // its caches (no effect on what is read), spread over this reader's next
  // read_field2: as many bytes of `other` after each round of lines as the
  // round took of this file, the rest at its end. The in-step reader calls it
  // for the next file while it reads one: prefetches issued all at once wait
  // for each other on the memory; issued along the parse they overlap with it.
  void prefetch_along(const LineReader& other, size_t bytes) {
    pf_ = other.data_ + other.begin_;
    pf_end_ = pf_ + std::min(bytes, other.end_ - other.begin_);
  }

  // How read_field2 works, for tests and benchmarks (the values are the
  // same): 0 one line and one field at a time (16-byte separator scans);
  // 1 the same, with short plain fields converted eight at a time (AVX-512);
  // 2 the lines too found and paired eight at a time (AVX-512 VBMI2). The
  // default is the highest the processor allows, and so is any higher level
  // asked for. Returns the previous level.
  static unsigned set_wide_level(unsigned level);

  // A regular file of at least four windows is read through read-only
  // mappings of `bytes` at a time (a multiple of the page size; 0, the
  // default, never), which spares the copy out of the page cache; the last
  // windows, and a line longer than a window, are read as usual. The mapped
  // bytes count as the process' resident memory while mapped. A file cut
  // shorter while it is mapped ends the process by SIGBUS (whose handler
  // still removes unfinished outputs). Takes effect at the next open().
  // (Fast build only.)
  void set_map_window(size_t bytes);

  // True when a read failed; errno_value() tells why.
  bool failed() const { return err_ != 0; }
  int errno_value() const { return err_; }
  // Lines returned so far.
  size_t lines_read() const { return lines_; }

 private:
  bool fill();  // moves the unread tail to the front and reads more
  bool fill_mapped();  // maps the window that starts with the unread bytes
  void unmap();
  bool next_field2_slow(std::string_view& line, double& value);
  size_t read_field2_lines(double* out, size_t stride, size_t n, char* empty, size_t estride);
  void prefetch_step(size_t bytes);  // `bytes` more of the prefetch_along range
  // Bytes kept readable after the sentinel, so the vector scan of
  // read_field2 may load a whole window at any line start without a bound
  // test.
  static constexpr size_t kPad = 64;
  void reset_buffer() {
    unmap();
    data_ = buf_.data();
    begin_ = end_ = scan_ = 0;
    buf_[0] = '\n';
  }

  struct Plain;  // the std::ifstream of the plain build

  int fd_ = -1;    // 0 marks a reader open on a source (or the plain build's stream)
  long (*src_)(void*, char*, size_t) = nullptr;  // the byte source, when reading one
  void* src_ctx_ = nullptr;
  size_t cap_;  // buffer size asked for; open() allocates up to it
  // Holds bytes [begin_, end_) of the file and one sentinel '\n' at end_, so
  // the fused scan needs no bound test per byte (set up by open(); the fast
  // path runs only while a file is open).
  std::vector<char> buf_;
  // The bytes being read: buf_, or a mapped window of the file whose valid
  // bytes end before one of its own line feeds (that line feed, and kPad
  // bytes after it, stand for the sentinel and the overhang).
  char* data_ = nullptr;
  const char* pf_ = nullptr;  // what prefetch_along has left to fetch
  const char* pf_end_ = nullptr;
  char* map_ = nullptr;  // the mapped window, if any, of map_len_ bytes
  size_t map_len_ = 0;
  size_t win_ = 0;       // window size asked for (0: no mapping)
  bool mapping_ = false;  // this file is read through windows for now
  unsigned long long size_ = 0;  // size of the open regular file
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last valid byte
  size_t scan_ = 0;   // bytes from begin_ already known to hold no '\n'
  bool eof_ = false;
  int err_ = 0;
  size_t lines_ = 0;
  unsigned long long read_total_ = 0;  // bytes read from the file so far
  bool regular_ = false;
  std::unique_ptr<Plain> plain_;
};

inline bool LineReader::next_field2(std::string_view& line, double& value) {
#ifndef METHPCA_PLAIN
  // Fast path: field 1 up to the first comma, then a plain decimal ending the
  // line ('\n') or field 2 (',' or '\r', after which the line end is found
  // with memchr). A line reaching the end of the buffered bytes, or anything
  // unusual, goes the general way.
  if (fd_ < 0) return false;
  char* const base = data_;
  const char* const p = base + begin_;
  const char* const e = base + end_;  // *e == '\n'
  const char* q = p;
  while (*q != ',' && *q != '\n') ++q;
  if (*q == ',') {
    double v;
    const char* r = num::parse_plain_decimal(q + 1, e, v);
    if (r && r != e) {
      const char* nl = nullptr;
      if (*r == '\n')
        nl = r;
      else if (*r == ',' || *r == '\r')
        nl = static_cast<const char*>(std::memchr(r, '\n', static_cast<size_t>(e - r)));
      if (nl) {
        line = std::string_view(p, static_cast<size_t>(nl - p));
        begin_ = static_cast<size_t>(nl - base) + 1;
        scan_ = 0;
        ++lines_;
        value = v;
        return true;
      }
    }
  }
#endif
  return next_field2_slow(line, value);
}
