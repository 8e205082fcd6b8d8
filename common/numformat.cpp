#include "numformat.h"

#include <cstdio>

namespace num {

size_t format_g15(char* buf, double v) {
  return static_cast<size_t>(std::snprintf(buf, kFormatBuf, "%.15g", v));
}
size_t format_e15(char* buf, double v) {
  return static_cast<size_t>(std::snprintf(buf, kFormatBuf, "%.15e", v));
}
size_t format_g17(char* buf, double v) {
  return static_cast<size_t>(std::snprintf(buf, kFormatBuf, "%.17g", v));
}

}  // namespace num
