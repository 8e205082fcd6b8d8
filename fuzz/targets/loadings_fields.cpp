// The loadings programs' reading of a methylation file: InStep::read, as the
// programs call it (values into a strided panel column, empty-line flags), a
// few lines or a batch at a time, against field 2 of every line by the plain
// rule. The first input byte gives the chunk length (1 to 8, or 64 to 71) and
// the read buffer (the smallest, or the usual), the rest is the file.
#include "fuzz_util.h"
#include "instep.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = data[0] % 8 + (data[0] & 16 ? 64 : 1);
  const size_t buffer = data[0] & 8 ? 64 : 0;
  ++data;
  --size;
  const std::vector<std::string> lines = fz::lines_of({reinterpret_cast<const char*>(data), size});
  const char* path = fz::as_file(data, size);

  InStep in(1, buffer);
  size_t bad = 0;
  if (in.open({path}, bad) != InStep::Open::ok) fz::finding("open");
  std::string_view header;
  if (in.next(0, header) != !lines.empty()) fz::finding("header");
  constexpr size_t kStride = 3;
  std::vector<double> values(chunk * kStride);
  std::vector<char> empty(chunk * 2);
  size_t at = 1;
  for (;;) {
    const size_t got = in.read(0, values.data(), kStride, chunk, empty.data(), 2);
    for (size_t k = 0; k < got; ++k, ++at) {
      if (at >= lines.size()) fz::finding("line beyond the end");
      const std::string& line = lines[at];
      if (!fz::same(values[k * kStride], fz::atof_of(fz::cut2(line))))
        fz::finding("value", fz::show(line) + ": " + fz::show(values[k * kStride]));
      if (empty[k * 2] != line.empty()) fz::finding("empty flag", fz::show(line));
    }
    if (got < chunk) break;
  }
  if (at < lines.size()) fz::finding("lines lost", std::to_string(at) + " of " + std::to_string(lines.size()));
  if (in.lines(0) != lines.size()) fz::finding("line count");
  return 0;
}
