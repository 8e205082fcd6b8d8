// Number conversion with the C library's atof/atoi semantics on a field
// [first, last): leading white space, optional sign, the longest number prefix,
// trailing text ignored, 0 when no number starts the field. A NUL byte ends the
// field as it would end a C string.
#pragma once

namespace num {

// Equal to atof() of the field's text, for every input.
double parse_double(const char* first, const char* last);

// Equal to atoi() of the field's text as glibc computes it, (int)strtol(s, 0, 10).
int parse_int(const char* first, const char* last);

// Plain references: copy the field into a C string and call the C library.
double parse_double_ref(const char* first, const char* last);
int parse_int_ref(const char* first, const char* last);

}  // namespace num
