#include "process.h"

#include "linereader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

std::string temp_dir() {
  char tmpl[] = "/tmp/process_test_XXXXXX";
  const char* d = mkdtemp(tmpl);
  EXPECT_NE(d, nullptr);
  return d ? d : "";
}

// Runs `body` in a child process; returns its wait status.
template <class F>
int in_child(F body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

}  // namespace

TEST(Process, UsageArgumentsAreTheNamesInAngleBrackets) {
  const std::string u =
      "usage: stdweights <methylation dir prefix> <label> <components K >= 0> <chromosome N>\n";
  EXPECT_EQ(usage_argument(u, 1), "<methylation dir prefix>");
  EXPECT_EQ(usage_argument(u, 3), "<components K >= 0>");
  EXPECT_EQ(usage_argument(u, 4), "<chromosome N>");
  EXPECT_EQ(usage_argument(u, 5), "");
  EXPECT_EQ(usage_argument("usage: x <a>", 1), "<a>");
}

// More temporaries than the handler once had room for (8), all removed by a
// signal, which then ends the process as its default action does.
TEST(Process, SignalRemovesEveryTrackedTemporaryAndEndsTheProcess) {
  const std::string dir = temp_dir();
  constexpr int kFiles = 40;
  for (int sig : {SIGTERM, SIGUSR1, SIGALRM, SIGQUIT}) {
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) names.push_back(dir + "/." + std::to_string(sig) + "_" + std::to_string(i) + ".tmp");
    int status = in_child([&] {
      signal(sig, SIG_DFL);
      for (const std::string& n : names) {
        close(open(n.c_str(), O_CREAT | O_WRONLY, 0644));
        track_temporary(n);
      }
      untrack_temporary(names[3]);  // committed: kept
      kill(getpid(), sig);
      _exit(3);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << sig << ": status " << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(exists(names[i]), i == 3) << names[i];
    unlink(names[3].c_str());
  }
  rmdir(dir.c_str());
}

// An input read through mapped windows that is cut shorter under the reader
// ends the run as a read error does: one line, status 255, temporaries gone.
TEST(Process, InputCutShorterWhileMappedIsAReadError) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer takes SIGBUS";
#endif
  const std::string dir = temp_dir();
  const std::string in = dir + "/in.csv", out = dir + "/stdout", tmp = dir + "/.out.tmp";
  {
    std::string lines;
    for (int i = 0; lines.size() < (size_t{1} << 20); ++i) lines += std::to_string(i) + ",0.5\n";
    FILE* f = std::fopen(in.c_str(), "w");
    std::fwrite(lines.data(), 1, lines.size(), f);
    std::fclose(f);
  }
  int status = in_child([&] {
    const int fd = open(out.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    dup2(fd, 1);
    install_signal_handlers();
    close(open(tmp.c_str(), O_CREAT | O_WRONLY, 0644));
    track_temporary(tmp);
    LineReader r(4096);
    r.set_map_window(size_t{64} << 10);
    if (!r.open(in.c_str())) _exit(4);
    std::string_view line;
    if (!r.next(line)) _exit(5);
    if (truncate(in.c_str(), 100) != 0) _exit(6);
    while (r.next(line)) {
    }
    _exit(7);  // the rest was read although the file is gone
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 255);
  FILE* f = std::fopen(out.c_str(), "r");
  char buf[200] = {};
  ASSERT_NE(f, nullptr);
  (void)!std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  EXPECT_STREQ(buf, "cannot read an input file: it became shorter while it was read\n");
  EXPECT_FALSE(exists(tmp));
  unlink(in.c_str());
  unlink(out.c_str());
  rmdir(dir.c_str());
}

// The process' own write to a pipe without reader fails with EPIPE and the run
// goes on; its temporaries stay until it ends.
TEST(Process, OwnBrokenPipeIsAWriteErrorNotTheEnd) {
  const std::string dir = temp_dir();
  const std::string name = dir + "/.kept.tmp";
  int status = in_child([&] {
    signal(SIGPIPE, SIG_DFL);
    close(open(name.c_str(), O_CREAT | O_WRONLY, 0644));
    track_temporary(name);
    int p[2];
    if (pipe(p) != 0) _exit(4);
    close(p[0]);
    errno = 0;
    if (write(p[1], "x", 1) != -1 || errno != EPIPE) _exit(5);
    _exit(0);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(exists(name));
  unlink(name.c_str());
  rmdir(dir.c_str());
}

// A closed standard output is taken by /dev/null opened for reading: a file
// opened later gets another number, and writes to it fail.
TEST(Process, ClosedStandardOutputIsReservedAndFailsWrites) {
  int status = in_child([] {
    close(1);
    char prog[] = "prog";
    char* argv[] = {prog, nullptr};
    start_program(1, argv);
    int fd = open("/dev/null", O_WRONLY);
    if (fd == 1) _exit(6);
    if (write(1, "x", 1) != -1) _exit(7);
    _exit(0);
  });
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Process, VersionAnywhereOnTheCommandLine) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  int status = in_child([&] {
    dup2(p[1], 1);
    close(p[0]);
    char a0[] = "prog", a1[] = "x", a2[] = "--version", a3[] = "y";
    char* argv[] = {a0, a1, a2, a3, nullptr};
    start_program(4, argv);
    _exit(9);  // not reached
  });
  close(p[1]);
  char buf[256] = {};
  ssize_t n = read(p[0], buf, sizeof buf - 1);
  close(p[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_GT(n, 0);
  const std::string line(buf, static_cast<size_t>(n));
  EXPECT_EQ(line.rfind("methpca ", 0), 0u) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
}
