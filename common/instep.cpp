#include "instep.h"

#include "sysutil.h"

#include <algorithm>
#include <cerrno>

namespace {

// Descriptors kept free beside the input files: standard streams, output
// files, a sample list or descriptives file read alongside.
constexpr long kReserved = 8;

}  // namespace

size_t InStep::default_max_open() {
  const long limit = raise_open_file_limit();
  if (limit < 0) return static_cast<size_t>(-1);
  return static_cast<size_t>(std::max<long>(limit - kReserved, 1));
}

InStep::InStep(size_t max_open, size_t buffer)
    : max_open_(max_open ? max_open : default_max_open()), buffer_(buffer) {}

void InStep::close() {
  for (size_t s = 0; s < slots_; ++s) readers_[s].close();
  slots_ = 0;
  paths_.clear();
  files_.clear();
  owner_.clear();
}

InStep::Open InStep::open(std::vector<std::string> paths, size_t& bad) {
  close();
  paths_ = std::move(paths);
  const size_t n = paths_.size();
  files_.assign(n, File{});
  slots_ = std::min(n, max_open_);
  // Read buffers of all open files together stay near 8 MB, each 32 KB to
  // 256 KB: what one read brings in is parsed before the other files' reads
  // push it out of the cache (40 KB each for 200 files read 5-10% faster
  // than 80 KB), and a read is never so short that the calls cost more.
  const size_t buf = buffer_ ? buffer_ : std::clamp<size_t>((size_t{8} << 20) / std::max<size_t>(slots_, 1),
                                        size_t{32} << 10, size_t{256} << 10);
  if (readers_.size() < slots_) {
    readers_.reserve(slots_);
    while (readers_.size() < slots_) readers_.emplace_back(buf);
  }
  // Large files are read through mapped windows (no copy out of the page
  // cache: 8-10% of fullgram's and weights' time on 200 samples), all windows
  // together near 32 MB of mapped pages, each 128 KB to 512 KB; with more
  // open files than that allows, they are read.
  const size_t share = (size_t{32} << 20) / std::max<size_t>(slots_, 1);
  const size_t win = share < (size_t{128} << 10) ? 0 : std::min(share, size_t{512} << 10);
  for (size_t s = 0; s < slots_; ++s) readers_[s].set_map_window(win);
  owner_.assign(slots_, static_cast<size_t>(-1));
  // Every file is opened once here, in order, so the first that does not open
  // is the one reported. With fewer readers than files, each file takes the
  // reader of the file `slots_` before it, which is closed at offset 0.
  for (size_t j = 0; j < n; ++j) {
    const size_t s = j % std::max<size_t>(slots_, 1);
    if (owner_[s] != static_cast<size_t>(-1)) files_[owner_[s]].slot = -1;
    LineReader& r = readers_[s];
    if (!r.open(paths_[j].c_str())) {
      const int e = errno;
      close();
      bad = j;
      errno = e;
      return Open::not_open;
    }
    if (!all_open() && !r.is_regular()) {
      close();
      bad = j;
      errno = ESPIPE;
      return Open::not_regular;
    }
    owner_[s] = j;
    files_[j].slot = static_cast<int>(s);
  }
  // The readers now hold the last files; the earlier ones reopen at offset 0.
  if (!all_open())
    for (size_t s = 0; s < slots_; ++s) {
      readers_[s].close();
      files_[owner_[s]].slot = -1;
      owner_[s] = static_cast<size_t>(-1);
    }
  return Open::ok;
}

LineReader* InStep::reader(size_t j) {
  File& f = files_[j];
  if (f.ended) return nullptr;
  if (f.slot >= 0) return &readers_[static_cast<size_t>(f.slot)];
  const size_t s = j % slots_;
  LineReader& r = readers_[s];
  if (owner_[s] != static_cast<size_t>(-1)) {
    File& old = files_[owner_[s]];
    old.offset = r.offset();
    old.slot = -1;
    r.close();
  }
  owner_[s] = static_cast<size_t>(-1);
  if (!r.open_at(paths_[j].c_str(), f.offset)) {
    f.err = errno ? errno : EIO;
    f.ended = true;
    return nullptr;
  }
  owner_[s] = j;
  f.slot = static_cast<int>(s);
  return &r;
}

void InStep::done(size_t j) {
  File& f = files_[j];
  if (f.slot >= 0) {
    const size_t s = static_cast<size_t>(f.slot);
    readers_[s].close();
    owner_[s] = static_cast<size_t>(-1);
    f.slot = -1;
  }
  f.ended = true;
}

bool InStep::next(size_t j, std::string_view& line) {
  LineReader* r = reader(j);
  if (!r) return false;
  if (r->next(line)) {
    ++files_[j].lines;
    return true;
  }
  if (r->failed()) files_[j].err = r->errno_value();
  done(j);
  return false;
}

size_t InStep::read(size_t j, double* out, size_t stride, size_t n, char* empty, size_t estride) {
  LineReader* r = reader(j);
  if (!r) return 0;
  const unsigned long long before = r->offset();
  // Callers read the files in order: while file j is parsed, the bytes file
  // j + 1 will likely need (as many as the last read took) come into the
  // caches; the other files' reads and the caller's work since its last
  // turn have pushed them out (5% of fullgram's time on 200 samples), along
  // the parse of file j.
  if (j + 1 < files_.size() && files_[j + 1].slot >= 0)
    r->prefetch_along(readers_[static_cast<size_t>(files_[j + 1].slot)], last_bytes_ ? last_bytes_ : 4096);
  const size_t k = r->read_field2(out, stride, n, empty, estride);
  last_bytes_ = static_cast<size_t>(r->offset() - before);
  files_[j].lines += k;
  if (k < n) {
    if (r->failed()) files_[j].err = r->errno_value();
    done(j);
  }
  return k;
}
