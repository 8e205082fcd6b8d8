#include "parsers.h"

#include "fields.h"
#include "workspace.h"

namespace prep {

bool blank_line(std::string_view line) { return line.empty() || line == "\r"; }

void bad_line(const std::string& path, size_t line, const std::string& what) {
  fatal(at_line(path, line, what));
}

int64_t position_field(std::string_view f, const std::string& path, size_t line, const char* what) {
  int64_t v = 0;
  if (!to_int64(f, v) || v < 0 || v > kMaxPosition)
    bad_line(path, line, std::string(what) + " " + quoted(f) + " is not a whole number from 0 to " +
                             std::to_string(kMaxPosition));
  return v;
}

void check_read(const InputLines& in, const std::string& path) {
  if (in.failed()) fatal("cannot read " + path + ": " + in.error() + "\n");
}

}  // namespace prep
