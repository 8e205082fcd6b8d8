#include "input.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ge {

bool file_id(const std::string& path, FileId& id) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

Input::~Input() {
  if (fd_ >= 0) ::close(fd_);
}

bool Input::open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st;
  const bool stat_ok = fstat(fd_, &st) == 0;
  if (!stat_ok || S_ISDIR(st.st_mode)) {
    const int e = stat_ok ? EISDIR : errno;
    ::close(fd_);
    fd_ = -1;
    errno = e;
    return false;
  }
  id_ = {st.st_dev, st.st_ino};
  regular_ = S_ISREG(st.st_mode);
  if (buf_.empty()) buf_.resize(size_t{1} << 16);
  begin_ = end_ = scan_ = 0;
  eof_ = nul_ = false;
  err_ = 0;
  lines_ = 0;
  return true;
}

// Moves the unread bytes to the front (growing the buffer when one line fills
// it) and reads more. False at the end of the input or on a failure.
bool Input::fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    scan_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
  for (;;) {
    const ssize_t n = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (n > 0) {
      if (std::memchr(buf_.data() + end_, '\0', static_cast<size_t>(n))) {
        nul_ = eof_ = true;
        return false;
      }
      end_ += static_cast<size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err_ = errno;
    eof_ = true;
    return false;
  }
}

bool Input::next(std::string_view& line) {
  if (fd_ < 0) return false;
  for (;;) {
    const char* nl = static_cast<const char*>(std::memchr(buf_.data() + scan_, '\n', end_ - scan_));
    if (nl) {
      const size_t at = static_cast<size_t>(nl - buf_.data());
      line = std::string_view(buf_.data() + begin_, at - begin_);
      begin_ = scan_ = at + 1;
      ++lines_;
      return true;
    }
    scan_ = end_;
    if (!fill()) break;
  }
  if (failed() || begin_ == end_) return false;
  line = std::string_view(buf_.data() + begin_, end_ - begin_);  // a last line without a line feed
  begin_ = scan_ = end_;
  ++lines_;
  return true;
}

std::string Input::reason() const {
  if (nul_) return "it holds a NUL byte, so it is not a text file";
  return std::strerror(err_);
}

}  // namespace ge
