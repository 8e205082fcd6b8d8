// The cut of the inner-product readers: field2, field3 and cpg_value of
// every line of the input against the table by number of commas.
#include "fuzz_util.h"
#include "gram_readers.h"

namespace {
void check(const std::string& line) {
  const fz::Fields23 want = fz::cut23(line);
  if (field2(line) != want.f2) fz::finding("field2", fz::show(line));
  if (field3(line) != want.f3) fz::finding("field3", fz::show(line));
  const double got = cpg_value(line), exp = fz::atof_of(want.f2);
  if (!fz::same(got, exp))
    fz::finding("cpg_value", fz::show(line) + ": " + fz::show(got) + " != " + fz::show(exp));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check(std::string(text));  // the whole input as one line, line feeds and all
  for (const std::string& line : fz::lines_of(text)) check(line);
  return 0;
}
