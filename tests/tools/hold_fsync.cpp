// Test shim, loaded with LD_PRELOAD: when METHPCA_HOLD_FSYNC names a file,
// fsync() first creates that file, then waits up to a minute before syncing.
// A program is thus caught between writing an output's temporary file and
// moving it into place, for as long as a test needs to send it a signal.
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

extern "C" int fsync(int fd) {
  using Fn = int (*)(int);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
  if (const char* mark = getenv("METHPCA_HOLD_FSYNC")) {
    int m = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (m >= 0) close(m);
    timespec t{60, 0};
    nanosleep(&t, nullptr);
  }
  return real ? real(fd) : 0;
}
