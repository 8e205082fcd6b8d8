// Number formatting with printf's conversions, into a caller's buffer.
#pragma once

#include <cstddef>

namespace num {

// Room for any of the conversions below, terminating NUL included.
constexpr size_t kFormatBuf = 64;

// As snprintf "%.15g"; returns the length written.
size_t format_g15(char* buf, double v);
// As snprintf "%.15e".
size_t format_e15(char* buf, double v);
// As snprintf "%.17g" (enough digits to read the same double back).
size_t format_g17(char* buf, double v);

}  // namespace num
