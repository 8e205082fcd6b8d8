// methgen: writes a synthetic methylation dataset for tests, demos and
// benchmarks.
//
//   methgen --out DIR --samples N --chroms C --sites S [--groups G] [--seed X] [--constant F]
//
// DIR/samples.txt      sample names S1.. zero-padded to the width of N, one per line
// DIR/groups.tsv       name<TAB>group (1..G), in list order
// DIR/meth/chrK/NAME.csv  header "position,beta", then S lines "position,value"
//
// Values are bimodal (most sites near 0.1 or 0.85, some intermediate); about a
// tenth of the sites shift with a latent group, a fraction F of the sites holds
// one value in every sample. All arithmetic is on integers (values in
// millionths) with our own generator, so the same arguments give the same bytes
// on every machine.

#include "process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t kOne = 1000000;  // 1.0 in millionths

uint64_t splitmix64(uint64_t& s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// xoshiro256**, seeded through splitmix64 from a tuple of integers.
struct Rng {
  uint64_t s[4];
  Rng(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0) {
    uint64_t x = seed;
    for (uint64_t v : {a, b, c}) {
      x ^= v + 0x632BE59BD9B4E019ULL;
      splitmix64(x);
    }
    for (auto& w : s) w = splitmix64(x);
  }
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t next() {
    const uint64_t r = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return r;
  }
  // Uniform in [0, n) (n > 0); the tiny modulo bias does not matter here.
  int64_t below(int64_t n) { return static_cast<int64_t>(next() % static_cast<uint64_t>(n)); }
  // Roughly normal with standard deviation sd: the sum of four 16-bit uniforms
  // (standard deviation 37837 around 131070), scaled.
  int64_t noise(int64_t sd) {
    const uint64_t r = next();
    const int64_t sum = static_cast<int64_t>((r & 0xFFFF) + ((r >> 16) & 0xFFFF) + ((r >> 32) & 0xFFFF) + (r >> 48));
    return (sum - 131070) * sd / 37837;
  }
};

int64_t clamp01(int64_t v) { return v < 0 ? 0 : v > kOne ? kOne : v; }

[[noreturn]] void fail(const std::string& msg, int status = 1) {
  std::fputs(("methgen: " + msg + "\n").c_str(), stdout);
  std::exit(status);
}

[[noreturn]] void usage(const std::string& why) {
  fail(why + "; usage: methgen --out DIR --samples N --chroms C --sites S [--groups G=3] [--seed X=1] [--constant F=0.02]",
       2);
}

long long parse_count(const char* opt, const char* s, long long min) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s, &end, 10);
  if (errno || end == s || *end || v < min) fail(std::string("bad value for ") + opt + ": " + s, 2);
  return v;
}

// Buffered writer over a file descriptor.
class Writer {
 public:
  explicit Writer(size_t cap) : buf_(cap) {}
  void open(const std::string& path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) fail("cannot write " + path + ": " + std::strerror(errno));
    used_ = 0;
  }
  char* room(size_t n) {
    if (buf_.size() - used_ < n) flush();
    return buf_.data() + used_;
  }
  void advance(size_t n) { used_ += n; }
  void write(const char* p, size_t n) {
    std::memcpy(room(n), p, n);
    used_ += n;
  }
  void write(const std::string& s) { write(s.data(), s.size()); }
  void close() {
    flush();
    if (::close(fd_) != 0) fail("cannot write " + path_ + ": " + std::strerror(errno));
    fd_ = -1;
  }

 private:
  void flush() {
    const char* p = buf_.data();
    size_t n = used_;
    while (n > 0) {
      ssize_t w = ::write(fd_, p, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        fail("cannot write " + path_ + ": " + std::strerror(errno));
      }
      if (w == 0) fail("cannot write " + path_ + ": " + std::strerror(EIO));
      p += w;
      n -= static_cast<size_t>(w);
    }
    used_ = 0;
  }
  std::vector<char> buf_;
  size_t used_ = 0;
  int fd_ = -1;
  std::string path_;
};

// Writes "0.dddddd" or "1.000000" for v in [0, kOne]; 8 bytes.
inline void put_value(char* p, int64_t v) {
  p[0] = v == kOne ? '1' : '0';
  p[1] = '.';
  int64_t f = v == kOne ? 0 : v;
  for (int i = 7; i >= 2; --i) {
    p[i] = static_cast<char>('0' + f % 10);
    f /= 10;
  }
}

void make_dirs(const std::string& d) {
  std::error_code ec;
  std::filesystem::create_directories(d, ec);
  if (ec) fail("cannot create folder " + d + ": " + ec.message());
}

}  // namespace

int main(int argc, char** argv) {
  start_program(argc, argv);
  std::string out;
  long long n_samples = -1, n_chroms = -1, n_sites = -1, n_groups = 3, seed = 1;
  double constant = 0.02;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) usage(a.rfind("--", 0) == 0 ? "option " + a + " needs a value" : "unexpected argument \"" + a + "\"");
    const char* v = argv[++i];
    if (a == "--out") out = v;
    else if (a == "--samples") n_samples = parse_count("--samples", v, 1);
    else if (a == "--chroms") n_chroms = parse_count("--chroms", v, 1);
    else if (a == "--sites") n_sites = parse_count("--sites", v, 0);
    else if (a == "--groups") n_groups = parse_count("--groups", v, 1);
    else if (a == "--seed") seed = parse_count("--seed", v, LLONG_MIN);
    else if (a == "--constant") {
      char* end = nullptr;
      constant = std::strtod(v, &end);
      if (end == v || *end || !(constant >= 0 && constant <= 1)) fail(std::string("bad value for --constant: ") + v, 2);
    } else usage("unknown option \"" + a + "\"");
  }
  if (out.empty() || n_samples < 0 || n_chroms < 0 || n_sites < 0)
    usage(std::string("option ") + (out.empty() ? "--out" : n_samples < 0 ? "--samples" : n_chroms < 0 ? "--chroms" : "--sites") +
          " is missing");
  if (out.back() != '/') out += '/';
  // Positions must stay within a signed 32-bit integer.
  if (n_sites > 2000000000LL) fail("--sites is too large", 2);

  const uint64_t useed = static_cast<uint64_t>(seed);
  const size_t N = static_cast<size_t>(n_samples), S = static_cast<size_t>(n_sites);
  const int G = static_cast<int>(n_groups);
  const int64_t constant_micro = static_cast<int64_t>(constant * 1e6 + 0.5);

  // Names and latent groups: a seeded shuffle dealt round robin.
  const int width = static_cast<int>(std::to_string(n_samples).size());
  std::vector<std::string> names(N);
  for (size_t j = 0; j < N; ++j) {
    std::string num = std::to_string(j + 1);
    names[j] = "S" + std::string(static_cast<size_t>(width) - num.size(), '0') + num;
  }
  std::vector<size_t> order(N);
  for (size_t j = 0; j < N; ++j) order[j] = j;
  Rng grng(useed, 1);
  for (size_t j = N; j > 1; --j) std::swap(order[j - 1], order[static_cast<size_t>(grng.below(static_cast<int64_t>(j)))]);
  std::vector<int> group(N);
  for (size_t k = 0; k < N; ++k) group[order[k]] = static_cast<int>(k % static_cast<size_t>(G));
  // A small per-sample offset, the same on every chromosome.
  std::vector<int64_t> offset(N);
  for (size_t j = 0; j < N; ++j) {
    Rng r(useed, 2, j);
    offset[j] = r.below(40001) - 20000;
  }

  make_dirs(out);
  Writer w(size_t{1} << 20);
  w.open(out + "samples.txt");
  for (auto& nm : names) w.write(nm + "\n");
  w.close();
  w.open(out + "groups.tsv");
  for (size_t j = 0; j < N; ++j) w.write(names[j] + "\t" + std::to_string(group[j] + 1) + "\n");
  w.close();

  // Site parameters of one chromosome.
  std::vector<char> prefix;         // "position," of every site, end to end
  std::vector<size_t> prefix_at;    // start of each site's text in prefix
  std::vector<int32_t> mu, sd;      // base value and noise, millionths
  std::vector<uint8_t> kind;        // 0 ordinary, 1 constant, 2 group-shifted
  std::vector<int32_t> shift;       // G shifts per site, for kind 2
  const int64_t max_step = std::max<int64_t>(1, std::min<int64_t>(400, (2147483647LL - 1000) / std::max<long long>(n_sites, 1)));

  for (long long c = 1; c <= n_chroms; ++c) {
    Rng r(useed, 3, static_cast<uint64_t>(c));
    prefix.clear();
    prefix_at.assign(S + 1, 0);
    mu.resize(S);
    sd.resize(S);
    kind.resize(S);
    shift.assign(S * static_cast<size_t>(G), 0);
    int64_t pos = 1 + r.below(1000);
    for (size_t s = 0; s < S; ++s) {
      if (s > 0) pos += 1 + r.below(max_step);
      prefix_at[s] = prefix.size();
      std::string t = std::to_string(pos) + ",";
      prefix.insert(prefix.end(), t.begin(), t.end());
      const int64_t m = r.below(100);
      if (m < 45) mu[s] = static_cast<int32_t>(clamp01(100000 + r.noise(40000)));
      else if (m < 85) mu[s] = static_cast<int32_t>(clamp01(850000 + r.noise(50000)));
      else mu[s] = static_cast<int32_t>(200000 + r.below(500001));
      sd[s] = static_cast<int32_t>(15000 + r.below(35001));
      if (r.below(kOne) < constant_micro) {
        kind[s] = 1;
      } else if (r.below(10) == 0) {
        kind[s] = 2;
        for (int g = 0; g < G; ++g) shift[s * static_cast<size_t>(G) + static_cast<size_t>(g)] = static_cast<int32_t>(r.below(500001) - 250000);
      } else {
        kind[s] = 0;
      }
    }
    prefix_at[S] = prefix.size();

    const std::string dir = out + "meth/chr" + std::to_string(c) + "/";
    make_dirs(dir);
    for (size_t j = 0; j < N; ++j) {
      Rng sr(useed, 4, static_cast<uint64_t>(c), j);
      w.open(dir + names[j] + ".csv");
      w.write("position,beta\n", 14);
      const size_t g = static_cast<size_t>(group[j]);
      for (size_t s = 0; s < S; ++s) {
        int64_t v = mu[s];
        if (kind[s] != 1) {
          v += offset[j] + sr.noise(sd[s]);
          if (kind[s] == 2) v += shift[s * static_cast<size_t>(G) + g];
          v = clamp01(v);
        }
        const size_t plen = prefix_at[s + 1] - prefix_at[s];
        char* p = w.room(plen + 9);
        std::memcpy(p, prefix.data() + prefix_at[s], plen);
        put_value(p + plen, v);
        p[plen + 8] = '\n';
        w.advance(plen + 9);
      }
      w.close();
    }
  }
  std::printf("methgen: %lld samples x %lld chromosomes x %lld sites (%d groups, seed %lld, constant %g) in %s\n",
              n_samples, n_chroms, n_sites, G, seed, constant, out.c_str());
  return 0;
}
