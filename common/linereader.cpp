#include "linereader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LineReader::LineReader(size_t buffer_size) : cap_(buffer_size < 64 ? 64 : buffer_size) {}

LineReader::~LineReader() { close(); }

LineReader::LineReader(LineReader&& o) noexcept
    : fd_(o.fd_), cap_(o.cap_), buf_(std::move(o.buf_)), begin_(o.begin_), end_(o.end_), scan_(o.scan_),
      eof_(o.eof_), err_(o.err_), lines_(o.lines_) {
  o.fd_ = -1;
}

bool LineReader::open(const char* path) {
  close();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    int e = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = e;
    return false;
  }
  // The buffer is allocated here, no larger than a regular file needs: a
  // reader of a small file does not pay for clearing a large buffer.
  size_t want = cap_;
  if (S_ISREG(st.st_mode) && st.st_size >= 0 && static_cast<unsigned long long>(st.st_size) < cap_)
    want = std::max<size_t>(64, static_cast<size_t>(st.st_size) + 1);
  if (buf_.size() < want) buf_.resize(want);
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  fd_ = fd;
  begin_ = end_ = scan_ = 0;
  eof_ = false;
  err_ = 0;
  lines_ = 0;
  return true;
}

void LineReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool LineReader::fill() {
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // a line longer than the buffer
  for (;;) {
    ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (n > 0) { end_ += static_cast<size_t>(n); return true; }
    if (n == 0) { eof_ = true; return false; }
    if (errno == EINTR) continue;
    err_ = errno;
    eof_ = true;
    return false;
  }
}

bool LineReader::next(std::string_view& line) {
  if (fd_ < 0) return false;
  for (;;) {
    const char* base = buf_.data();
    const void* nl = std::memchr(base + begin_ + scan_, '\n', end_ - begin_ - scan_);
    if (nl) {
      size_t pos = static_cast<size_t>(static_cast<const char*>(nl) - base);
      line = std::string_view(base + begin_, pos - begin_);
      begin_ = pos + 1;
      scan_ = 0;
      ++lines_;
      return true;
    }
    scan_ = end_ - begin_;
    if (eof_ || !fill()) {
      if (err_) return false;
      if (end_ == begin_) return false;  // nothing after the last line feed
      line = std::string_view(buf_.data() + begin_, end_ - begin_);
      begin_ = end_;
      scan_ = 0;
      ++lines_;
      return true;
    }
  }
}
