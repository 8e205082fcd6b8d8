#include "outfile.h"

#include "sysutil.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Temporary files in flight, removed by the signal handler when a job is
// killed. Plain arrays: the handler may only touch async-signal-safe state.
constexpr int kSlots = 256;
char g_tmp_names[kSlots][4096];
volatile sig_atomic_t g_tmp_used[kSlots];

extern "C" void remove_temporaries_and_reraise(int sig) {
  for (int i = 0; i < kSlots; ++i)
    if (g_tmp_used[i]) unlink(g_tmp_names[i]);
  signal(sig, SIG_DFL);
  raise(sig);
}

void install_handlers_once() {
  static bool done = false;
  if (done) return;
  done = true;
  // A file-size limit must show up as a write error (EFBIG), not kill the run.
  signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction sa {};
    sa.sa_handler = remove_temporaries_and_reraise;
    sigemptyset(&sa.sa_mask);
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
}

int register_tmp(const std::string& name) {
  if (name.size() >= sizeof g_tmp_names[0]) return -1;
  for (int i = 0; i < kSlots; ++i)
    if (!g_tmp_used[i]) {
      std::memcpy(g_tmp_names[i], name.c_str(), name.size() + 1);
      g_tmp_used[i] = 1;
      return i;
    }
  return -1;
}

void unregister_tmp(const std::string& name) {
  for (int i = 0; i < kSlots; ++i)
    if (g_tmp_used[i] && name == g_tmp_names[i]) g_tmp_used[i] = 0;
}

mode_t current_umask() {
  mode_t m = umask(0);
  umask(m);
  return m;
}

}  // namespace

OutFile::~OutFile() { abort(); }

bool OutFile::open(const std::string& path) {
  abort();
  install_handlers_once();
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
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) { error_ = std::strerror(errno); return false; }
  fd_ = fd;
  tmp_ = name.data();
  register_tmp(tmp_);
  if (buf_.empty()) buf_.resize(size_t{1} << 20);
  return true;
}

void OutFile::fail(int err) {
  if (error_.empty()) error_ = std::strerror(err);
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
      q += w;
      m -= static_cast<size_t>(w);
    }
  };
  if (fd_ < 0) { used_ = 0; return; }
  write_all(buf_.data(), used_);
  used_ = 0;
  if (n == 0) return;
  if (n < buf_.size()) {
    std::memcpy(buf_.data(), p, n);
    used_ = n;
  } else {
    write_all(p, n);
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
    unregister_tmp(tmp_);
    tmp_.clear();
    return false;
  }
  unregister_tmp(tmp_);
  tmp_.clear();
  return true;
}

void OutFile::abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  used_ = 0;
  if (!tmp_.empty()) {
    unlink(tmp_.c_str());
    unregister_tmp(tmp_);
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
