#include "lines.h"

#include "sysutil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr size_t kRawBuffer = size_t{1} << 18;
}  // namespace

InputLines::~InputLines() { close(); }

void InputLines::close() {
  lines_.close();
  if (z_init_) inflateEnd(&zs_);
  z_init_ = false;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool InputLines::fill_raw() {
  if (raw_pos_ > 0) {
    std::memmove(raw_.data(), raw_.data() + raw_pos_, raw_end_ - raw_pos_);
    raw_end_ -= raw_pos_;
    raw_offset_ += raw_pos_;
    raw_pos_ = 0;
  }
  for (;;) {
    ssize_t n = ::read(fd_, raw_.data() + raw_end_, raw_.size() - raw_end_);
    if (n > 0) {
      raw_end_ += static_cast<size_t>(n);
      return true;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    read_errno_ = errno;
    return false;
  }
}

bool InputLines::open(const std::string& path) {
  close();
  gz_ = false;
  member_done_ = false;
  raw_pos_ = raw_end_ = 0;
  raw_offset_ = 0;
  read_errno_ = 0;
  line_no_ = 0;
  open_errno_ = 0;
  error_.clear();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    open_errno_ = errno;
    error_ = std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    open_errno_ = S_ISDIR(st.st_mode) ? EISDIR : errno;
    error_ = std::strerror(open_errno_);
    close();
    return false;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if (S_ISREG(st.st_mode)) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  if (raw_.size() != kRawBuffer) raw_.assign(kRawBuffer, 0);
  // Peek until two bytes are buffered (a pipe may deliver one at a time):
  // 1f 8b starts a gzip member.
  while (raw_end_ < 2 && fill_raw()) {}
  if (read_errno_ != 0) {
    open_errno_ = read_errno_;
    error_ = std::strerror(read_errno_);
    close();
    return false;
  }
  gz_ = raw_end_ >= 2 && raw_[0] == 0x1f && raw_[1] == 0x8b;
  if (!gz_) {
    lines_.open_source(&InputLines::read_plain, this);
    return true;
  }
  zs_ = z_stream{};
  int rc = inflateInit2(&zs_, 15 + 16);  // gzip wrapper only
  if (rc == Z_MEM_ERROR) throw std::bad_alloc();
  if (rc != Z_OK) {
    error_ = "cannot start gzip decompression";
    close();
    return false;
  }
  z_init_ = true;
  lines_.open_source(&InputLines::read_gz, this);
  return true;
}

bool InputLines::next(std::string_view& line) {
  const bool ok = lines_.next(line);
  if (ok) {
    // A byte-order mark is not part of the first field.
    if (line_no_ == 0 && line.size() >= 3 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    ++line_no_;
  } else if (lines_.failed() && error_.empty()) {  // a source has set its message already
    // Out of memory is the run's fault, reported by the caller's handler.
    if (lines_.errno_value() == ENOMEM) throw std::bad_alloc();
    error_ = read_error_text(lines_.errno_value());
  }
  return ok;
}

long InputLines::read_plain(void* ctx, char* dst, size_t n) {
  auto* self = static_cast<InputLines*>(ctx);
  if (self->raw_pos_ < self->raw_end_) {  // the peeked bytes first
    size_t k = std::min(n, self->raw_end_ - self->raw_pos_);
    std::memcpy(dst, self->raw_.data() + self->raw_pos_, k);
    self->raw_pos_ += k;
    return static_cast<long>(k);
  }
  return static_cast<long>(::read(self->fd_, dst, n));  // the reader retries EINTR
}

long InputLines::gz_fail(const std::string& why) {
  error_ = why;
  errno = EIO;
  return -1;
}

long InputLines::read_gz(void* ctx, char* dst, size_t n) {
  auto* self = static_cast<InputLines*>(ctx);
  z_stream& zs = self->zs_;
  const unsigned ask = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
  for (;;) {
    if (self->member_done_) {
      // After a member: the end of the input, another member, or anything
      // else, which is refused rather than dropped.
      while (self->raw_end_ - self->raw_pos_ < 2 && self->fill_raw()) {}
      if (self->read_errno_ != 0) return self->gz_fail(std::strerror(self->read_errno_));
      size_t left = self->raw_end_ - self->raw_pos_;
      if (left == 0) return 0;
      const unsigned char* p = self->raw_.data() + self->raw_pos_;
      if (left < 2 || p[0] != 0x1f || p[1] != 0x8b)
        return self->gz_fail("data that are not gzip follow the gzip data (from byte " +
                             std::to_string(self->raw_offset_ + self->raw_pos_) +
                             "): decompress the file, or compress all of it");
      if (inflateReset(&zs) != Z_OK) return self->gz_fail("cannot restart gzip decompression");
      self->member_done_ = false;
    }
    if (self->raw_pos_ == self->raw_end_) {
      if (!self->fill_raw()) {
        if (self->read_errno_ != 0) return self->gz_fail(std::strerror(self->read_errno_));
        return self->gz_fail("gzip data are damaged: unexpected end of file");
      }
    }
    zs.next_in = self->raw_.data() + self->raw_pos_;
    zs.avail_in = static_cast<uInt>(self->raw_end_ - self->raw_pos_);
    zs.next_out = reinterpret_cast<Bytef*>(dst);
    zs.avail_out = ask;
    int rc = inflate(&zs, Z_NO_FLUSH);
    self->raw_pos_ = self->raw_end_ - zs.avail_in;
    long got = static_cast<long>(ask - zs.avail_out);
    if (rc == Z_STREAM_END) {
      self->member_done_ = true;
    } else if (rc == Z_MEM_ERROR) {
      throw std::bad_alloc();
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      return self->gz_fail(std::string("gzip data are damaged: ") + (zs.msg ? zs.msg : "unknown error"));
    }
    if (got > 0) return got;
  }
}
