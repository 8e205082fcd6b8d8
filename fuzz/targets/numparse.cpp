// parse_double against strtod and parse_int against atoi on the same bytes:
// any difference, down to the bit pattern (NaN sign included), is a finding.
#include "fuzz_util.h"
#include "numparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* first = reinterpret_cast<const char*>(data);
  const char* last = first + size;
  const std::string text(first, size);  // c_str() ends at the first NUL, as for atof

  const double got = num::parse_double(first, last);
  const double want = std::strtod(text.c_str(), nullptr);
  if (!fz::same(got, want))
    fz::finding("parse_double", fz::show(text) + ": " + fz::show(got) + " != strtod " + fz::show(want));

  const int got_i = num::parse_int(first, last);
  const int want_i = std::atoi(text.c_str());
  if (got_i != want_i)
    fz::finding("parse_int", fz::show(text) + ": " + std::to_string(got_i) + " != atoi " +
                                 std::to_string(want_i));
  return 0;
}
