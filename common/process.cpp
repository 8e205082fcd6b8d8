#include "process.h"

#include "sysutil.h"
#include "version.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>
#include <vector>

namespace {

// Tracked temporaries: a list that only grows (nodes are reused, never
// freed), so the handler can walk it at any moment. A node is in use while
// its name is set; the name is set and cleared by single atomic stores.
struct Temp {
  std::atomic<char*> name{nullptr};
  Temp* next = nullptr;
};
static_assert(std::atomic<char*>::is_always_lock_free);
std::atomic<Temp*> g_temps{nullptr};

volatile sig_atomic_t g_broken_pipe = 0;  // our own write hit a pipe without reader
bool g_stdout_closed = false;
const char* g_program = "methpca";

// Runs on the signal's own stack (a stack overflow is a SIGSEGV too).
alignas(16) char g_signal_stack[64 * 1024];

extern "C" void on_terminating_signal(int sig, siginfo_t* info, void*) {
  if (sig == SIGPIPE && info && info->si_code == SI_USER && info->si_pid == getpid()) {
    g_broken_pipe = 1;  // the write returns EPIPE; the run goes on
    return;
  }
  for (Temp* t = g_temps.load(); t; t = t->next)
    if (char* n = t->name.load()) unlink(n);
  if (sig == SIGBUS && info && info->si_code == BUS_ADRERR) {
    // Past the end of a mapped file: an input read through mapped windows
    // became shorter under the reader. A read error, as reading reports it.
    static const char msg[] = "cannot read an input file: it became shorter while it was read\n";
    (void)!write(1, msg, sizeof msg - 1);
    _exit(255);
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  // Blocked until the handler returns, then delivered with the default action.
  raise(sig);
}

// Every catchable signal whose default action ends the process.
std::vector<int> terminating_signals() {
  std::vector<int> s = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,
                        SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,   SIGXCPU, SIGVTALRM,
                        SIGPROF, SIGSYS};
#ifdef SIGSTKFLT
  s.push_back(SIGSTKFLT);
#endif
#ifdef SIGIO
  s.push_back(SIGIO);
#endif
#if defined(SIGPOLL) && (!defined(SIGIO) || SIGPOLL != SIGIO)
  s.push_back(SIGPOLL);
#endif
#ifdef SIGPWR
  s.push_back(SIGPWR);
#endif
#ifdef SIGEMT
  s.push_back(SIGEMT);
#endif
#ifdef SIGLOST
  s.push_back(SIGLOST);
#endif
#ifdef SIGRTMIN
  for (int r = SIGRTMIN; r <= SIGRTMAX; ++r) s.push_back(r);
#endif
  return s;
}

// The standard descriptors, so that no output file opened later becomes
// "standard output" and receives the messages.
void reserve_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int got = open("/dev/null", O_RDONLY);
    if (got < 0) continue;
    if (got != fd) {
      dup2(got, fd);
      close(got);
    }
    if (fd == 1) g_stdout_closed = true;
  }
}

// At exit: one line on standard error when standard output lost messages.
void check_standard_output() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return;
  std::string reason;
  if (g_stdout_closed) {
    reason = "it is closed";
  } else if (g_broken_pipe) {
    reason = std::strerror(EPIPE);
  } else {
    // The first failure's errno is gone; a one-byte write finds it again.
    reason = write(1, "\n", 1) < 0 ? std::strerror(errno) : "a write failed";
  }
  std::fprintf(stderr, "%s: standard output failed (%s); its messages were lost, the run was not affected\n",
               g_program, reason.c_str());
  std::fflush(stderr);
}

std::string usage_program(const std::string& usage) {
  size_t b = usage.rfind("usage: ", 0) == 0 ? 7 : 0;
  size_t e = usage.find(' ', b);
  return usage.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

}  // namespace

std::string usage_argument(const std::string& usage, int k) {
  size_t pos = 0;
  for (int i = 0;; ++i) {
    size_t b = usage.find('<', pos);
    if (b == std::string::npos) return "";
    // An argument's name ends at a '>' followed by a blank or the end of the
    // line ("<components K >= 0>" holds a '>' of its own).
    size_t e = b;
    do {
      e = usage.find('>', e + 1);
    } while (e != std::string::npos && e + 1 < usage.size() && usage[e + 1] != ' ' &&
             usage[e + 1] != '\n');
    if (e == std::string::npos) return "";
    if (i + 1 == k) return usage.substr(b, e - b + 1);
    pos = e + 1;
  }
}

void install_signal_handlers() {
  static bool done = false;
  if (done) return;
  done = true;
  signal(SIGXFSZ, SIG_IGN);
  stack_t ss{};
  ss.ss_sp = g_signal_stack;
  ss.ss_size = sizeof g_signal_stack;
  sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_sigaction = on_terminating_signal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  sigfillset(&sa.sa_mask);  // one handler at a time
  for (int sig : terminating_signals()) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0) continue;
    if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
    sigaction(sig, &sa, nullptr);
  }
}

void track_temporary(const std::string& path) {
  install_signal_handlers();
  char* copy = strdup(path.c_str());
  if (!copy) throw std::bad_alloc();
  for (Temp* t = g_temps.load(); t; t = t->next) {
    char* none = nullptr;
    if (t->name.compare_exchange_strong(none, copy)) return;
  }
  Temp* t = new Temp;
  t->name.store(copy);
  t->next = g_temps.load();
  g_temps.store(t);
}

void untrack_temporary(const std::string& path) {
  for (Temp* t = g_temps.load(); t; t = t->next) {
    char* n = t->name.load();
    if (n && path == n) {
      t->name.store(nullptr);
      std::free(n);
      return;
    }
  }
}

void start_program(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts(kVersionLine);
      std::exit(std::fflush(stdout) == 0 ? 0 : 255);
    }
  if (argc > 0 && argv[0]) {
    const char* slash = std::strrchr(argv[0], '/');
    g_program = slash ? slash + 1 : argv[0];
  }
  reserve_standard_descriptors();
  install_signal_handlers();
  static bool registered = false;
  if (!registered) registered = std::atexit(check_standard_output) == 0;
}

[[noreturn]] void die_argument(const std::string& what, const std::string& usage) {
  std::string u = usage;
  while (!u.empty() && u.back() == '\n') u.pop_back();
  die(what + "; " + u + "\n");
}

void require_arguments(int argc, char** argv, const std::string& usage) {
  int needed = 0;
  while (!usage_argument(usage, needed + 1).empty()) ++needed;
  const int given = argc - 1;
  const std::string program = usage_program(usage);
  if (given < needed) {
    std::string what = program + ": missing argument" + (needed - given > 1 ? "s " : " ");
    for (int k = given + 1; k <= needed; ++k)
      what += (k > given + 1 ? ", " : "") + std::to_string(k) + " " + usage_argument(usage, k);
    die_argument(what, usage);
  }
  if (given > needed)
    die_argument(program + ": argument " + std::to_string(needed + 1) + " \"" + argv[needed + 1] +
                     "\" is one too many (" + std::to_string(needed) + " are taken)",
                 usage);
}
