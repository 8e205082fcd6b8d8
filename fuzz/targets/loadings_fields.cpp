// The loadings programs' cut of a methylation line: site_value of every line
// against field 2 by the plain rule.
#include "fuzz_util.h"
#include "loadings_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines = fz::lines_of(text);
  lines.emplace_back(text);
  lines.emplace_back();
  for (const std::string& line : lines) {
    const double got = site_value(line), want = fz::atof_of(fz::cut2(line));
    if (!fz::same(got, want))
      fz::finding("site_value", fz::show(line) + ": " + fz::show(got) + " != " + fz::show(want));
  }
  return 0;
}
