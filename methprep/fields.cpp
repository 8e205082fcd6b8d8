#include "fields.h"

#include <charconv>
#include <cmath>

namespace prep {

void split_fields(std::string_view line, char sep, std::vector<std::string_view>& out) {
  out.clear();
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // Fields are short: a plain scan beats a library search per field.
  const char* p = line.data();
  const char* end = p + line.size();
  const char* start = p;
  for (; p != end; ++p)
    if (*p == sep) {
      out.emplace_back(start, static_cast<size_t>(p - start));
      start = p + 1;
    }
  out.emplace_back(start, static_cast<size_t>(end - start));
}

namespace {

// The whole field as one number: one leading '+' is allowed (from_chars takes
// none), "+-" is not, nothing may follow the number.
template <class T, class... Format>
bool whole_number(std::string_view f, T& v, Format... format) {
  const char* first = f.data();
  const char* last = f.data() + f.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return false;
  }
  if (first == last) return false;
  auto [p, ec] = std::from_chars(first, last, v, format...);
  return ec == std::errc() && p == last;
}

}  // namespace

bool to_int64(std::string_view f, int64_t& v) { return whole_number(f, v); }

// from_chars refuses a '-' for an unsigned type.
bool to_uint64(std::string_view f, uint64_t& v) { return whole_number(f, v); }

bool to_double(std::string_view f, double& v) {
  return whole_number(f, v, std::chars_format::general) && std::isfinite(v);
}

std::string at_line(const std::string& path, size_t line, const std::string& what) {
  return path + ":" + std::to_string(line) + ": " + what + "\n";
}

std::string quoted(std::string_view f) {
  std::string s = "\"";
  size_t n = f.size() > 40 ? 40 : f.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(f[i]);
    if (c < 0x20 || c == 0x7f) {
      static const char* hex = "0123456789abcdef";
      s += "\\x";
      s += hex[c >> 4];
      s += hex[c & 15];
    } else {
      s += static_cast<char>(c);
    }
  }
  if (f.size() > n) s += "...";
  s += "\"";
  return s;
}

}  // namespace prep
