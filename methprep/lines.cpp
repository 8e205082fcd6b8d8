#include "lines.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

InputLines::~InputLines() {
  if (gz_) gzclose(gz_);
}

bool InputLines::open(const std::string& path) {
  lines_.close();
  if (gz_) gzclose(gz_);
  gz_ = nullptr;
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
    if (!lines_.open(path.c_str())) { error_ = std::strerror(errno); return false; }
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
  lines_.open_source(&InputLines::read_gz, this);
  return true;
}

bool InputLines::next(std::string_view& line) {
  const bool ok = lines_.next(line);
  if (ok)
    ++line_no_;
  else if (lines_.failed() && error_.empty())  // read_gz has set a decompression error already
    error_ = std::strerror(lines_.errno_value());
  return ok;
}

long InputLines::read_gz(void* ctx, char* dst, size_t n) {
  auto* self = static_cast<InputLines*>(ctx);
  const unsigned ask = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
  const int got = gzread(self->gz_, dst, ask);
  if (got > 0) return got;
  int code = Z_OK;
  const char* msg = gzerror(self->gz_, &code);
  if (got == 0 && code == Z_OK) return 0;  // the end
  if (code == Z_ERRNO) {
    self->error_ = std::strerror(errno);
  } else {
    self->error_ = std::string("gzip data are damaged: ") + (msg && *msg ? msg : "unknown error");
    errno = EIO;
  }
  if (errno == EINTR || errno == 0) errno = EIO;  // the reader retries EINTR; this is final
  return -1;
}
