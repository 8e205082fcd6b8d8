// In-step reading of many samples' files: the files of one set (the samples
// of one chromosome, say) are read together, a chunk of lines at a time, each
// file's lines going to its own column of a site-major panel. Every program
// that walks several samples' files reads them through this class; each puts
// its own rule for what a line count or an empty line means on top of it.
//
// All files stay open when the open-file limit allows. Otherwise at most
// `max_open` are open at a time and a file is closed and reopened where it
// stopped (by byte offset) as its turn comes; that needs regular files, so a
// pipe or other stream among such a set is refused at open(), before a line
// is read.
#pragma once

#include "linereader.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class InStep {
 public:
  // Files open at once: the open-file limit less a few descriptors kept for
  // standard streams and outputs (raise_open_file_limit() raises it first).
  static size_t default_max_open();

  // `max_open` 0 takes default_max_open(). `buffer` is each file's read
  // buffer; 0 shares about 8 MB among the open files (32 KB to 256 KB each).
  explicit InStep(size_t max_open = 0, size_t buffer = 0);
  InStep(const InStep&) = delete;
  InStep& operator=(const InStep&) = delete;

  enum class Open { ok, not_open, not_regular };
  // Closes any earlier set and opens `paths` in order. On a failure returns
  // which and sets `bad` to the file's index (errno tells why); the files
  // opened so far are closed again.
  Open open(std::vector<std::string> paths, size_t& bad);
  void close();

  size_t size() const { return paths_.size(); }
  const std::string& path(size_t j) const { return paths_[j]; }
  // True when every file of the set is open at once (no reopening).
  bool all_open() const { return slots_ >= paths_.size(); }

  // Next line of file j (a LineReader line: valid until the next call for
  // any file). False at its end or on a read error (failed(j)).
  bool next(size_t j, std::string_view& line);
  // Up to n lines of file j, field 2 of each as atof reads it, into
  // out[0], out[stride], ...; returns how many (fewer only at its end or on
  // a read error). When `empty` is given, empty[k * estride] is set to 1 for an
  // empty line and 0 otherwise.
  size_t read(size_t j, double* out, size_t stride, size_t n, char* empty = nullptr,
              size_t estride = 1);
  // Lines of file j returned so far.
  size_t lines(size_t j) const { return files_[j].lines; }
  bool failed(size_t j) const { return files_[j].err != 0; }
  int errno_value(size_t j) const { return files_[j].err; }
  // Closes file j for good (its end was reached, or it is no longer needed).
  void done(size_t j);

 private:
  struct File {
    unsigned long long offset = 0;  // where a closed file goes on
    size_t lines = 0;
    int err = 0;
    int slot = -1;       // reader holding it, or -1
    bool ended = false;  // end of file or read error seen, or done()
  };
  LineReader* reader(size_t j);  // file j's reader, reopened if need be; null if it cannot be

  size_t max_open_;
  size_t buffer_;
  size_t slots_ = 0;  // readers in use for this set
  std::vector<std::string> paths_;
  std::vector<File> files_;
  std::vector<LineReader> readers_;
  std::vector<size_t> owner_;  // file held by each reader
  size_t last_bytes_ = 0;      // bytes the last read() took from its file
};
