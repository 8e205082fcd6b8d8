// Number formatting with printf's conversions, into a caller's buffer. The
// fast versions use std::to_chars with a precision, which is defined to give
// printf's text (format_g15 first tries an exact shortcut for values from
// 1e-8 to below 1e15); the _ref versions call snprintf, and tests compare
// them.
#pragma once

#include <cstddef>

namespace num {

// Room for any of the conversions below, terminating NUL included.
constexpr size_t kFormatBuf = 64;

// As "%.15g"; returns the length written (no NUL is written).
size_t format_g15(char* buf, double v);
// As "%.15e".
size_t format_e15(char* buf, double v);
// As "%.17g" (enough digits to read the same double back).
size_t format_g17(char* buf, double v);

// "," and then "%.15g" of each of v[0], ..., v[n-1], one after another (a
// row's fields after its first); buf must have room for n * kListRoom
// bytes. Returns the length written. Several values at a time where the
// processor allows; the text is that of format_g15 for each.
constexpr size_t kListRoom = 32;
size_t format_g15_list(char* buf, const double* v, size_t n);
// The same one value at a time (the reference, and the way without AVX-512).
size_t format_g15_list_one(char* buf, const double* v, size_t n);

size_t format_g15_ref(char* buf, double v);
size_t format_e15_ref(char* buf, double v);
size_t format_g17_ref(char* buf, double v);

}  // namespace num
