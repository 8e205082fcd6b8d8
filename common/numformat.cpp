#include "numformat.h"

#include <charconv>
#include <cstdio>

namespace num {
namespace {

size_t to_chars_len(char* buf, double v, std::chars_format f, int precision) {
  auto r = std::to_chars(buf, buf + kFormatBuf, v, f, precision);
  return static_cast<size_t>(r.ptr - buf);
}

size_t printf_len(char* buf, const char* fmt, double v) {
  return static_cast<size_t>(std::snprintf(buf, kFormatBuf, fmt, v));
}

}  // namespace

size_t format_g15(char* buf, double v) { return to_chars_len(buf, v, std::chars_format::general, 15); }
size_t format_e15(char* buf, double v) { return to_chars_len(buf, v, std::chars_format::scientific, 15); }
size_t format_g17(char* buf, double v) { return to_chars_len(buf, v, std::chars_format::general, 17); }

size_t format_g15_ref(char* buf, double v) { return printf_len(buf, "%.15g", v); }
size_t format_e15_ref(char* buf, double v) { return printf_len(buf, "%.15e", v); }
size_t format_g17_ref(char* buf, double v) { return printf_len(buf, "%.17g", v); }

}  // namespace num
