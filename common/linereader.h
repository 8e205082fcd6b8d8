// Buffered line reader over a file descriptor: large reads, no per-character
// stream calls, no allocation per line. Lines are split at '\n' (not part of
// the line); a carriage return stays in the line. A final line without a line
// feed is reported; the empty piece after a final line feed is not, so a file
// "h\na\n" yields "h", "a" and a file "h\na\n\n" yields "h", "a", "".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class LineReader {
 public:
  explicit LineReader(size_t buffer_size = size_t{1} << 20);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  LineReader(LineReader&& other) noexcept;

  // Opens a regular file (or pipe) for reading. False, with errno set, if it
  // cannot be opened or is a directory.
  bool open(const char* path);
  void close();
  bool is_open() const { return fd_ >= 0; }

  // Next line, valid until the following call. False at the end of the input
  // or on a read error (see failed()).
  bool next(std::string_view& line);

  // True when a read failed; errno_value() tells why.
  bool failed() const { return err_ != 0; }
  int errno_value() const { return err_; }
  // Lines returned so far.
  size_t lines_read() const { return lines_; }

 private:
  bool fill();  // moves the unread tail to the front and reads more

  int fd_ = -1;
  size_t cap_;             // buffer size asked for; open() allocates up to it
  std::vector<char> buf_;
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // one past the last valid byte
  size_t scan_ = 0;   // bytes from begin_ already known to hold no '\n'
  bool eof_ = false;
  int err_ = 0;
  size_t lines_ = 0;
};
