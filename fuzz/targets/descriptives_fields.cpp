// The methylation-file reading every in-step program runs: the input, as two
// samples' files of one set, read through InStep a few lines at a time (the
// batch path of LineReader::read_field2, the fused one of next_field2 and
// their general fallback), against the plain rule line by line: field 2 as atof reads it,
// the empty-line flags, the line count; and layout::meth_value and
// des::line_coord (field 1 as atoi reads it) on every line.
#include "des_stats.h"
#include "fuzz_util.h"
#include "instep.h"
#include "layout.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = fz::lines_of(text);

  for (const std::string& line : lines) {
    const double want = fz::atof_of(fz::cut2(line));
    if (!fz::same(layout::meth_value(line), want))
      fz::finding("meth_value", fz::show(line));
    if (des::line_coord(line) != fz::atoi_of(line.substr(0, line.find(','))))
      fz::finding("line_coord", fz::show(line));
  }

  // Two files of the same bytes, read in turns of 1 to 200 lines (the turn
  // length from the first byte; the longer ones span the batch reader's
  // rounds), with at most one of them open at a time when the second byte is
  // odd (reopened where they stopped).
  const std::string path = fz::as_file(data, size);
  static constexpr size_t kTurns[] = {1, 2, 3, 4, 7, 64, 65, 200};
  const size_t turn = size ? kTurns[data[0] % 8] : 1;
  InStep in(size > 1 && data[1] % 2 ? 1 : 0, 64);
  size_t bad = 0;
  if (in.open({path, path}, bad) != InStep::Open::ok) fz::finding("InStep open", path);
  std::vector<double> v(2 * turn);
  std::vector<char> empty(turn);
  std::vector<size_t> at(2, 0);
  for (bool more = true; more;) {
    more = false;
    for (size_t j = 0; j < 2; ++j) {
      const size_t got = in.read(j, v.data() + j, 2, turn, empty.data(), 1);
      for (size_t k = 0; k < got; ++k) {
        const std::string& line = lines.at(at[j] + k);
        if (!fz::same(v[2 * k + j], fz::atof_of(fz::cut2(line))) || empty[k] != line.empty())
          fz::finding("InStep read", "line " + std::to_string(at[j] + k) + " " + fz::show(line));
      }
      at[j] += got;
      if (got == turn) more = true;
    }
  }
  for (size_t j = 0; j < 2; ++j)
    if (at[j] != lines.size() || in.lines(j) != lines.size() || in.failed(j))
      fz::finding("InStep count", std::to_string(at[j]) + " != " + std::to_string(lines.size()));
  return 0;
}
