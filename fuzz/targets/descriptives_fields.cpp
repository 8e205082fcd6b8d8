// descriptives' cuts: field 2 of every line (field2_value) against the plain
// rule, and read_coord (field 1 of the non-empty data lines after the header,
// as atoi reads it) on the input as a coverage file.
#include "des_readers.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = fz::lines_of(text);

  for (const std::string& line : lines) {
    const double got = field2_value(line);
    const double want = fz::atof_of(fz::cut2(line));
    if (!fz::same(got, want))
      fz::finding("field2_value", fz::show(line) + ": " + fz::show(got) + " != " + fz::show(want));
  }

  std::vector<int> want;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    want.push_back(fz::atoi_of(lines[i].substr(0, lines[i].find(','))));
  }
  n_coord = 0;
  read_coord(fz::as_file(data, size));
  if (n_coord != static_cast<long>(want.size()) || coord.size() != want.size())
    fz::finding("read_coord count", std::to_string(n_coord) + " != " + std::to_string(want.size()));
  for (size_t i = 0; i < want.size(); ++i)
    if (coord[i] != want[i])
      fz::finding("read_coord", "site " + std::to_string(i) + ": " + std::to_string(coord[i]) +
                                    " != " + std::to_string(want[i]));
  return 0;
}
