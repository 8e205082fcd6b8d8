#include "outfile.h"

#include "process.h"
#include "sysutil.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Blocks every signal for its lifetime.
struct SignalsHeld {
  sigset_t old;
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old, nullptr); }
};

mode_t current_umask() {
  mode_t m = umask(0);
  umask(m);
  return m;
}

}  // namespace

OutFile::~OutFile() { abort(); }

bool OutFile::open(const std::string& path) {
  abort();
  path_ = path;
  error_.clear();
  used_ = 0;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) { error_ = std::strerror(EISDIR); return false; }
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) { error_ = std::strerror(EISDIR); return false; }
  // Keep the temporary name within NAME_MAX whatever the target's length.
  std::string stem = base.size() > 200 ? base.substr(0, 200) : base;
  std::string tmpl = dir + "." + stem + ".tmpXXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  {
    // A signal between creating the temporary and tracking it would leave it.
    SignalsHeld held;
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) { error_ = std::strerror(errno); return false; }
    fd_ = fd;
    written_ = started_ = dropped_ = 0;
    behind_ = true;
    tmp_ = name.data();
    track_temporary(tmp_);
  }
  if (buf_.empty()) buf_.resize(size_t{1} << 20);
  return true;
}

void OutFile::fail(int err) {
  if (error_.empty()) error_ = std::strerror(err);
}

// Write-behind: every kWindow bytes, writeback of the newest window starts and
// the window before it, written by then, leaves the page cache. A batch job's
// output is not read again soon, commit() syncs it anyway, and reusing the
// same few pages costs the kernel far less than a new page for every 4 KiB
// (and leaves other jobs' cached files in place).
void OutFile::write_behind() {
  constexpr off_t kWindow = off_t{8} << 20;
  if (!behind_ || written_ - started_ < kWindow) return;
  if (sync_file_range(fd_, started_, written_ - started_, SYNC_FILE_RANGE_WRITE) != 0) {
    behind_ = false;  // not supported here: plain buffered writes
    return;
  }
  if (started_ > dropped_) {
    // Waiting consumes a writeback error for this descriptor, so it is this
    // file's failure: the sync in commit() would no longer see it.
    if (sync_file_range(fd_, dropped_, started_ - dropped_,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                            SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
      fail(errno);
      return;
    }
    posix_fadvise(fd_, dropped_, started_ - dropped_, POSIX_FADV_DONTNEED);
    dropped_ = started_;
  }
  started_ = written_;
}

void OutFile::spill(const char* p, size_t n) {
  // Flush the buffer, then either buffer the new bytes or write them through.
  auto write_all = [this](const char* q, size_t m) {
    while (m > 0 && error_.empty()) {
      ssize_t w = ::write(fd_, q, m);
      if (w < 0) {
        if (errno == EINTR) continue;
        fail(errno);
        return;
      }
      if (w == 0) {  // no progress: report it rather than retry for ever
        fail(EIO);
        return;
      }
      q += w;
      m -= static_cast<size_t>(w);
      written_ += w;
    }
  };
  if (fd_ < 0) { used_ = 0; return; }
  write_all(buf_.data(), used_);
  used_ = 0;
  if (n >= buf_.size()) write_all(p, n);
  if (error_.empty()) write_behind();
  if (n > 0 && n < buf_.size()) {
    std::memcpy(buf_.data(), p, n);
    used_ = n;
  }
}

bool OutFile::flush() {
  if (fd_ < 0) {
    if (error_.empty()) error_ = "not open";
    return false;
  }
  spill(nullptr, 0);
  if (error_.empty() && fsync(fd_) != 0 && errno != EINVAL) fail(errno);
  return error_.empty();
}

bool OutFile::commit() {
  if (fd_ < 0) {
    if (error_.empty()) error_ = "not open";
    return false;
  }
  spill(nullptr, 0);
  if (error_.empty() && fsync(fd_) != 0 && errno != EINVAL) fail(errno);
  if (error_.empty() && fchmod(fd_, 0666 & ~current_umask()) != 0) fail(errno);
  if (::close(fd_) != 0) fail(errno);
  fd_ = -1;
  if (error_.empty() && rename(tmp_.c_str(), path_.c_str()) != 0) fail(errno);
  if (!error_.empty()) {
    unlink(tmp_.c_str());
    untrack_temporary(tmp_);
    tmp_.clear();
    return false;
  }
  untrack_temporary(tmp_);
  tmp_.clear();
  return true;
}

void OutFile::abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  used_ = 0;
  if (!tmp_.empty()) {
    unlink(tmp_.c_str());
    untrack_temporary(tmp_);
    tmp_.clear();
  }
}

void write_file_or_die(const std::string& path, std::string_view data) {
  OutFile f;
  if (f.open(path)) {
    f.write(data);
    if (f.commit()) return;
  }
  die_output(path, f.error());
}
