// Strict field handling for the input formats: a field is a number only when
// all of it is one. Every failure becomes a message naming the file and line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace prep {

// Splits `line` at `sep` into `out` (reused between calls). A trailing '\r'
// is dropped first so files with Windows line ends read alike.
void split_fields(std::string_view line, char sep, std::vector<std::string_view>& out);

// Whole-field conversions; false when the field is not exactly a number of
// that kind (no blanks, no trailing text, in range, finite).
bool to_int64(std::string_view f, int64_t& v);
bool to_uint64(std::string_view f, uint64_t& v);
bool to_double(std::string_view f, double& v);

// Largest position a site may have (the system's coordinates are signed 32-bit).
constexpr int64_t kMaxPosition = 2147483647;

// "<path>:<line>: <what>\n"
std::string at_line(const std::string& path, size_t line, const std::string& what);
// Field text quoted for a message, cut to a readable length.
std::string quoted(std::string_view f);

}  // namespace prep
