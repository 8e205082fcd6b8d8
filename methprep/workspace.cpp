#include "workspace.h"

#include "process.h"
#include "sysutil.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace prep {

namespace {

std::string g_out;      // DIR with a trailing '/'
std::string g_work;     // DIR/.methprep-XXXXXX/
std::string g_tmp, g_stage;
bool g_created_out = false;

// The published entries of DIR, in the order they are moved into place.
const char* const kPublished[] = {"meth", "samples.txt", "manifest.tsv"};

std::string g_activity = "starting";

bool exists(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

// Closes every descriptor above the standard ones. Only for a process that
// is ending: async-signal-safe.
void close_other_fds() {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
#endif
  struct rlimit rl;
  long top = getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY ? static_cast<long>(rl.rlim_cur) : 65536;
  if (top > (1L << 20)) top = 1L << 20;
  for (long fd = 3; fd < top; ++fd) ::close(static_cast<int>(fd));
}

// ---- Removal from a signal handler: system calls only, fixed buffers.

char g_sig_work[4096];  // the working folder, when armed
char g_sig_out[4096];   // DIR, when this run created it
volatile sig_atomic_t g_sig_work_armed = 0;
volatile sig_atomic_t g_sig_out_armed = 0;

// Signals that end the process by default and can be caught (the set
// start_program's handlers take too).
const int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS, SIGFPE,
                             SIGSEGV, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,   SIGXCPU, SIGVTALRM,
                             SIGPROF, SIGIO,   SIGPWR,  SIGSYS,
#ifdef SIGSTKFLT
                             SIGSTKFLT,
#endif
};
struct sigaction g_old_action[NSIG];

bool sig_copy(char* dst, const std::string& s) {
  if (s.size() >= sizeof g_sig_work) return false;
  std::memcpy(dst, s.c_str(), s.size() + 1);
  return true;
}

struct Dirent64 {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[];
};

// Empties the folder open as `dirfd`, depth levels deep at most.
void sig_empty(int dirfd, int depth) {
  alignas(8) char buf[2048];
  for (int pass = 0; pass < 64; ++pass) {  // entries removed while listing may be skipped: list again
    bool removed = false;
    lseek(dirfd, 0, SEEK_SET);
    for (;;) {
      long n = syscall(SYS_getdents64, dirfd, buf, sizeof buf);
      if (n <= 0) break;
      for (long off = 0; off < n;) {
        const Dirent64* d = reinterpret_cast<const Dirent64*>(buf + off);
        off += d->reclen;
        const char* nm = d->name;
        if (nm[0] == '.' && (nm[1] == '\0' || (nm[1] == '.' && nm[2] == '\0'))) continue;
        if (unlinkat(dirfd, nm, 0) == 0) { removed = true; continue; }
        if (depth > 0) {
          int sub = openat(dirfd, nm, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
          if (sub >= 0) {
            sig_empty(sub, depth - 1);
            ::close(sub);
          }
        }
        if (unlinkat(dirfd, nm, AT_REMOVEDIR) == 0) removed = true;
      }
    }
    if (!removed) return;
  }
}

extern "C" void remove_workspace_and_chain(int sig, siginfo_t* info, void* ctx) {
  int saved = errno;
  // SIGPIPE from our own write to a pipe without reader does not end the
  // run (the write fails with EPIPE); any other of these signals does.
  const bool own_pipe = sig == SIGPIPE && info && info->si_code == SI_USER && info->si_pid == getpid();
  if (!own_pipe && g_sig_work_armed) {
    g_sig_work_armed = 0;
    close_other_fds();
    int fd = ::open(g_sig_work, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      sig_empty(fd, 8);
      ::close(fd);
    }
    rmdir(g_sig_work);
  }
  if (!own_pipe && g_sig_out_armed) {
    g_sig_out_armed = 0;
    rmdir(g_sig_out);
  }
  // Then the handler that was there before (start_program's: the tracked
  // temporaries, then the default action), or the default action itself.
  const struct sigaction& old = g_old_action[sig];
  errno = saved;
  if (old.sa_flags & SA_SIGINFO) {
    old.sa_sigaction(sig, info, ctx);
  } else if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN) {
    old.sa_handler(sig);
  } else if (!own_pipe) {
    sigaction(sig, &old, nullptr);
    raise(sig);  // delivered with the default action once this returns
  }
  errno = saved;
}

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kFatalSignals) sigaddset(&set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
  return set;
}

void install_workspace_handlers() {
  static bool done = false;
  if (done) return;
  done = true;
  // The process-wide handlers first, so that ours go in over them and hand
  // over to them.
  install_signal_handlers();
  auto install = [](int sig) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN))
      return;  // kept ignored (nohup)
    g_old_action[sig] = old;
    struct sigaction sa {};
    sa.sa_sigaction = remove_workspace_and_chain;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigfillset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  };
  for (int sig : kFatalSignals) install(sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig);
}

// Holds the handled signals off while the folders change hands.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set = handled_signals();
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

}  // namespace

void set_activity(const std::string& what) { g_activity = what; }
const std::string& activity() { return g_activity; }

void remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(path.c_str())) {
      std::vector<std::string> names;
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
      for (const auto& n : names) remove_tree(path + "/" + n);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

std::string workspace_open(const std::string& out_dir) {
  install_workspace_handlers();
  SignalsHeld held;
  g_out = out_dir;
  if (g_out.empty()) return "--out: empty folder name\n";
  while (g_out.size() > 1 && g_out.back() == '/') g_out.pop_back();
  struct stat st;
  if (stat(g_out.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return "output folder " + g_out + " is not a folder\n";
  } else {
    if (mkdir(g_out.c_str(), 0777) != 0)
      return "cannot create output folder " + g_out + ": " + std::strerror(errno) + "\n";
    g_created_out = true;
    if (sig_copy(g_sig_out, g_out)) g_sig_out_armed = 1;
  }
  if (g_out != "/") g_out += '/';
  for (const char* name : kPublished)
    if (exists(g_out + name)) {
      workspace_discard();
      return "output folder " + g_out + " already holds " + name +
             " from an earlier run: remove it or choose another folder\n";
    }
  std::string tmpl = g_out + ".methprep-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    std::string err = std::strerror(errno);
    workspace_discard();
    return "cannot create a working folder in " + g_out + ": " + err + "\n";
  }
  g_work = std::string(buf.data()) + "/";
  if (sig_copy(g_sig_work, buf.data())) g_sig_work_armed = 1;
  g_tmp = g_work + "tmp/";
  g_stage = g_work + "stage/";
  make_dir(g_tmp);
  make_dir(g_stage);
  return {};
}

const std::string& tmp_dir() { return g_tmp; }
const std::string& stage_dir() { return g_stage; }

void make_dir(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
    fatal("cannot create folder " + path + ": " + std::strerror(errno) + "\n", 255);
}

void workspace_publish() {
  SignalsHeld held;
  std::vector<std::string> moved;
  for (const char* name : kPublished) {
    std::string from = g_stage + name, to = g_out + name;
    if (!exists(from)) continue;
    if (exists(to) || rename(from.c_str(), to.c_str()) != 0) {
      std::string err = exists(to) ? "it appeared during the run" : std::strerror(errno);
      for (const auto& m : moved) rename((g_out + m).c_str(), (g_stage + m).c_str());
      fatal("cannot move output into place as " + to + ": " + err + "\n", 255);
    }
    moved.push_back(name);
  }
  g_sig_work_armed = 0;
  g_sig_out_armed = 0;
  remove_tree(g_work);
  g_work.clear();
  g_created_out = false;
}

void workspace_discard() {
  SignalsHeld held;
  g_sig_work_armed = 0;
  g_sig_out_armed = 0;
  if (!g_work.empty()) remove_tree(g_work);
  g_work.clear();
  if (g_created_out) rmdir(g_out.c_str());
  g_created_out = false;
}

void fatal(const std::string& msg, int status) {
  close_other_fds();
  workspace_discard();
  die(msg, status);
}

}  // namespace prep
