#include "lines.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

InputLines::~InputLines() {
  if (gz_) gzclose(gz_);
}

bool InputLines::open(const std::string& path) {
  if (gz_) gzclose(gz_);
  gz_ = nullptr;
  plain_.close();
  begin_ = end_ = scan_ = 0;
  eof_ = false;
  line_no_ = 0;
  error_.clear();
  // Peek at the first two bytes: 1f 8b starts a gzip member.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) { error_ = std::strerror(errno); return false; }
  unsigned char magic[2] = {0, 0};
  ssize_t got = ::read(fd, magic, 2);
  int read_errno = errno;
  if (got < 0) {
    ::close(fd);
    error_ = std::strerror(read_errno == EISDIR ? EISDIR : read_errno);
    return false;
  }
  bool is_gz = got == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
  if (!is_gz) {
    ::close(fd);
    if (!plain_.open(path.c_str())) { error_ = std::strerror(errno); return false; }
    return true;
  }
  if (lseek(fd, 0, SEEK_SET) != 0) {
    error_ = std::strerror(errno);
    ::close(fd);
    return false;
  }
  gz_ = gzdopen(fd, "rb");
  if (!gz_) { ::close(fd); error_ = "cannot start gzip decompression"; return false; }
  gzbuffer(gz_, 1 << 18);
  buf_.resize(size_t{1} << 20);
  return true;
}

bool InputLines::next(std::string_view& line) {
  bool ok;
  if (gz_) {
    ok = next_gz(line);
  } else {
    ok = plain_.next(line);
    if (!ok && plain_.failed()) error_ = std::strerror(plain_.errno_value());
  }
  if (ok) ++line_no_;
  return ok;
}

bool InputLines::fill_gz() {
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // a line longer than the buffer
  size_t room = buf_.size() - end_;
  unsigned ask = room > (1u << 30) ? (1u << 30) : static_cast<unsigned>(room);
  int n = gzread(gz_, buf_.data() + end_, ask);
  if (n > 0) { end_ += static_cast<size_t>(n); return true; }
  eof_ = true;
  int code = Z_OK;
  const char* msg = gzerror(gz_, &code);
  if (n < 0 || code != Z_OK) {
    if (code == Z_ERRNO) error_ = std::strerror(errno);
    else error_ = std::string("gzip data are damaged: ") + (msg && *msg ? msg : "unknown error");
  }
  return false;
}

bool InputLines::next_gz(std::string_view& line) {
  for (;;) {
    const char* base = buf_.data();
    const void* nl = std::memchr(base + begin_ + scan_, '\n', end_ - begin_ - scan_);
    if (nl) {
      size_t pos = static_cast<size_t>(static_cast<const char*>(nl) - base);
      line = std::string_view(base + begin_, pos - begin_);
      begin_ = pos + 1;
      scan_ = 0;
      return true;
    }
    scan_ = end_ - begin_;
    if (eof_ || !fill_gz()) {
      if (!error_.empty() || end_ == begin_) return false;
      line = std::string_view(buf_.data() + begin_, end_ - begin_);
      begin_ = end_;
      scan_ = 0;
      return true;
    }
  }
}
