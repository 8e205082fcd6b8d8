// grameigen's inputs, each opened once and read as a stream of lines, so that
// a named pipe works as a file does, and known by its device and inode, so
// that one file reached under two paths (./a and a, a symbolic or a hard
// link) is recognised.
#pragma once

#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace ge {

// Identity of a file: device and inode, as stat(2) reports them.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId& o) const { return dev == o.dev && ino == o.ino; }
};

// Identity of the file `path` names, following symbolic links, without
// opening it (opening a named pipe would wait for its writer). False with
// errno set when it cannot be found.
bool file_id(const std::string& path, FileId& id);

// An input read as a stream. Lines are split at '\n' (not part of the line),
// a carriage return stays in the line, and a final line without a line feed
// counts, the empty piece after a final line feed does not: "a\n\nb\n" gives
// "a", "", "b". A NUL byte ends the reading as a failure: no text input
// holds one (and a device like /dev/zero is refused at once).
class Input {
 public:
  Input() = default;
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // Opens `path` once; false with errno set (EISDIR for a folder).
  bool open(const std::string& path);
  // The identity of the opened file.
  const FileId& id() const { return id_; }
  bool regular() const { return regular_; }
  // Next line, valid until the following call; false at the end or on a failure.
  bool next(std::string_view& line);
  // Lines returned so far.
  size_t lines() const { return lines_; }
  // After next() returned false: whether it failed, and why ("Input/output
  // error", "it holds a NUL byte, so it is not a text file").
  bool failed() const { return err_ != 0 || nul_; }
  std::string reason() const;

 private:
  bool fill();

  int fd_ = -1;
  FileId id_;
  bool regular_ = false;
  std::vector<char> buf_;
  size_t begin_ = 0, end_ = 0, scan_ = 0;  // unread bytes [begin_, end_); [begin_, scan_) hold no '\n'
  bool eof_ = false, nul_ = false;
  int err_ = 0;
  size_t lines_ = 0;
};

}  // namespace ge
