// The cut of the descriptives lines the inner-product programs read:
// field2, field3 and des_fields (mean and SD as atof reads them) of every
// line of the input against the table by number of commas.
#include "fuzz_util.h"
#include "gram_readers.h"

namespace {
void check(const std::string& line) {
  const fz::Fields23 want = fz::cut23(line);
  if (field2(line) != want.f2) fz::finding("field2", fz::show(line));
  if (field3(line) != want.f3) fz::finding("field3", fz::show(line));
  double mean, sd;
  des_fields(line, mean, sd);
  if (!fz::same(mean, fz::atof_of(want.f2)) || !fz::same(sd, fz::atof_of(want.f3)))
    fz::finding("des_fields", fz::show(line));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check(std::string(text));  // the whole input as one line, line feeds and all
  for (const std::string& line : fz::lines_of(text)) check(line);
  return 0;
}
