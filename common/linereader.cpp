#include "linereader.h"

#include "numparse.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

struct LineReader::Plain {
  std::ifstream in;
  std::string line;
};

// The buffer is allocated by open(); until then next() and next_field2()
// report nothing.
LineReader::LineReader(size_t buffer_size) : cap_(buffer_size < 64 ? 64 : buffer_size) {}

LineReader::~LineReader() { close(); }

LineReader::LineReader(LineReader&& o) noexcept
    : fd_(o.fd_), src_(o.src_), src_ctx_(o.src_ctx_), cap_(o.cap_), buf_(std::move(o.buf_)), begin_(o.begin_), end_(o.end_), scan_(o.scan_),
      eof_(o.eof_), err_(o.err_), lines_(o.lines_), read_total_(o.read_total_), regular_(o.regular_), plain_(std::move(o.plain_)) {
  o.fd_ = -1;
}

bool LineReader::open(const char* path) {
  close();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool stat_ok = fstat(fd, &st) == 0;
  if (!stat_ok || S_ISDIR(st.st_mode)) {
    int e = stat_ok ? EISDIR : errno;
    ::close(fd);
    errno = e;
    return false;
  }
#ifdef METHPCA_PLAIN
  ::close(fd);
  if (!plain_) plain_ = std::make_unique<Plain>();
  plain_->in.clear();
  plain_->in.open(path);
  if (!plain_->in) {
    errno = EIO;
    return false;
  }
  fd = 0;  // marks the reader open; the stream does the reading
  if (buf_.empty()) buf_.resize(1);
#else
  // The buffer is allocated here, no larger than a regular file needs: a
  // reader of a small file does not pay for clearing a large buffer. One
  // byte more holds the sentinel.
  size_t want = cap_;
  if (S_ISREG(st.st_mode) && st.st_size >= 0 && static_cast<unsigned long long>(st.st_size) < cap_)
    want = std::max<size_t>(64, static_cast<size_t>(st.st_size) + 1);
  if (buf_.size() < want + 1) buf_.resize(want + 1);
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
#endif
  fd_ = fd;
  reset_buffer();
  eof_ = false;
  err_ = 0;
  lines_ = 0;
  read_total_ = 0;
  regular_ = S_ISREG(st.st_mode);
  return true;
}

bool LineReader::open_at(const char* path, unsigned long long offset) {
  if (!open(path)) return false;
  if (!regular_) {
    close();
    errno = ESPIPE;
    return false;
  }
  if (offset == 0) return true;
#ifdef METHPCA_PLAIN
  plain_->in.seekg(static_cast<std::streamoff>(offset));
  if (!plain_->in) {
    close();
    errno = EIO;
    return false;
  }
#else
  if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    const int e = errno;
    close();
    errno = e;
    return false;
  }
  read_total_ = offset;
#endif
  return true;
}

unsigned long long LineReader::offset() const {
#ifdef METHPCA_PLAIN
  if (!plain_ || !plain_->in.is_open()) return 0;
  plain_->in.clear(plain_->in.rdstate() & ~std::ios::failbit & ~std::ios::eofbit);
  const auto pos = plain_->in.tellg();
  return pos < 0 ? 0 : static_cast<unsigned long long>(pos);
#else
  return read_total_ - (end_ - begin_);
#endif
}

#ifndef METHPCA_PLAIN
void LineReader::open_source(long (*read)(void* ctx, char* dst, size_t n), void* ctx) {
  close();
  if (buf_.size() < cap_ + 1) buf_.resize(cap_ + 1);
  src_ = read;
  src_ctx_ = ctx;
  fd_ = 0;
  reset_buffer();
  eof_ = false;
  err_ = 0;
  lines_ = 0;
}
#endif

void LineReader::close() {
#ifdef METHPCA_PLAIN
  if (plain_ && plain_->in.is_open()) plain_->in.close();
#else
  if (fd_ >= 0 && !src_) ::close(fd_);
#endif
  fd_ = -1;
  src_ = nullptr;
  src_ctx_ = nullptr;
  if (!buf_.empty()) reset_buffer();
}

bool LineReader::fill() {
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ + 1 == buf_.size()) {
    // A line longer than the buffer: the buffer grows, up to kMaxLine. A
    // longer line (a device or a binary file given as input, say) is a read
    // error of its own rather than memory exhausted.
    if (buf_.size() > kMaxLine) {
      err_ = EFBIG;
      eof_ = true;
      return false;
    }
    try {
      buf_.resize(buf_.size() * 2);
    } catch (const std::bad_alloc&) {
      err_ = ENOMEM;
      eof_ = true;
      return false;
    }
  }
  for (;;) {
    char* dst = buf_.data() + end_;
    const size_t room = buf_.size() - 1 - end_;
    ssize_t n = src_ ? src_(src_ctx_, dst, room) : ::read(fd_, dst, room);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      read_total_ += static_cast<unsigned long long>(n);
      buf_[end_] = '\n';
      return true;
    }
    buf_[end_] = '\n';
    if (n == 0) { eof_ = true; return false; }
    if (errno == EINTR) continue;
    err_ = errno;
    eof_ = true;
    return false;
  }
}

bool LineReader::next(std::string_view& line) {
  if (fd_ < 0) return false;
#ifdef METHPCA_PLAIN
  if (!std::getline(plain_->in, plain_->line)) {
    if (plain_->in.bad()) err_ = EIO;
    return false;
  }
  line = plain_->line;
  ++lines_;
  return true;
#else
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
#endif
}

bool LineReader::next_field2_slow(std::string_view& line, double& value) {
  if (!next(line)) return false;
  value = field2_value(line);
  return true;
}

double LineReader::field2_value(std::string_view line) {
  const char* b = line.data();
  const char* e = b + line.size();
  if (const void* c = std::memchr(b, ',', line.size())) {
    b = static_cast<const char*>(c) + 1;
    if (const void* c2 = std::memchr(b, ',', static_cast<size_t>(e - b)))
      e = static_cast<const char*>(c2);
  }
  return num::parse_double(b, e);
}
