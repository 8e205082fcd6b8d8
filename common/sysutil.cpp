#include "sysutil.h"

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <unordered_map>

void die(const std::string& msg, int status) {
  std::fwrite(msg.data(), 1, msg.size(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) std::fwrite(msg.data(), 1, msg.size(), stderr);
  std::exit(status);
}

void die_output(const std::string& path, const std::string& reason) {
  die("cannot write output file " + path + ": " + reason + "\n");
}

long raise_open_file_limit() {
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return -1;
  if (rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
    getrlimit(RLIMIT_NOFILE, &rl);
  }
  return rl.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long>(rl.rlim_cur);
}

void require_open_files(long n_files) {
  long limit = raise_open_file_limit();
  constexpr long kReserved = 8;
  if (limit >= 0 && n_files + kReserved > limit)
    die("cannot open " + std::to_string(n_files) + " files at once: the open-file limit is " +
        std::to_string(limit) + " (raise it with ulimit -n)\n");
}

std::string read_error_text(int err) {
  if (err == EFBIG) return "a line longer than 256 MiB (is it a text file?)";
  return std::strerror(err);
}

void require_unique_names(const std::vector<std::string>& names, const std::string& list_path) {
  std::unordered_map<std::string, size_t> seen;
  seen.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    auto [it, fresh] = seen.emplace(names[i], i);
    if (!fresh)
      die("sample file " + list_path + " names sample \"" + names[i] + "\" twice (samples " +
          std::to_string(it->second + 1) + " and " + std::to_string(i + 1) + ")\n");
  }
}
