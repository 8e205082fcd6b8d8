// The descriptives of a run as selfgram, crossgram and fullgram's readers
// take them: read_mean_sd counting the input's sites twice (a run of two
// chromosomes with the same file), then DesReader giving their means and
// SDs in chunks of 1 to 8 sites; and read_cpg_data (the file-by-file count
// that reports a fault) into a matrix that may be shorter than the file.
#include <algorithm>

#include "fuzz_util.h"
#include "gram_io.h"
#include "gram_readers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = fz::lines_of({reinterpret_cast<const char*>(data), size});
  const size_t sites = lines.empty() ? 0 : lines.size() - 1;
  std::vector<double> mean, sd;
  for (size_t i = 1; i < lines.size(); ++i) {
    const fz::Fields23 f = fz::cut23(lines[i]);
    mean.push_back(fz::atof_of(f.f2));
    sd.push_back(fz::atof_of(f.f3));
  }
  const char* path = fz::as_file(data, size);

  start_coord = 0;
  gram::RunDescriptives des;
  for (int q = 0; q < 2; ++q) {
    const long before = start_coord;
    read_mean_sd(path);
    des.paths.push_back(path);
    des.sites.push_back(start_coord - before);
  }
  if (start_coord != static_cast<long>(2 * sites))
    fz::finding("read_mean_sd count", std::to_string(start_coord) + " != 2 x " + std::to_string(sites));
  gram::DesReader in(des);
  const size_t chunk = size ? 1 + data[size - 1] % 8 : 1;
  std::vector<double> m(chunk), d(chunk);
  for (size_t k0 = 0; k0 < 2 * sites; k0 += chunk) {
    const size_t n = std::min(chunk, 2 * sites - k0);
    if (!in.read(m.data(), d.data(), n)) fz::finding("DesReader", "short at " + std::to_string(k0));
    for (size_t k = 0; k < n; ++k)
      if (!fz::same(m[k], mean[(k0 + k) % sites]) || !fz::same(d[k], sd[(k0 + k) % sites]))
        fz::finding("DesReader", "site " + std::to_string(k0 + k) + " of " +
                                     fz::show(lines[1 + (k0 + k) % sites]));
  }
  double extra_m, extra_d;
  if (in.read(&extra_m, &extra_d, 1)) fz::finding("DesReader", "a site beyond the count");

  // A matrix of 0 to sites + 2 rows; the file's count is kept even when it is longer.
  const size_t rows = size == 0 ? 0 : data[0] % (sites + 3);
  sizeMatrix(cpg_data, static_cast<int>(rows), 2);
  i_sample = 1;
  start_coord = 0;
  read_cpg_data(path);
  if (start_coord != static_cast<long>(sites))
    fz::finding("read_cpg_data count", std::to_string(start_coord) + " != " + std::to_string(sites));
  for (size_t k = 0; k < rows; ++k) {
    const double want = k < sites ? mean[k] : 0.0;
    if (cpg_data[k][0] != 0.0 || !fz::same(cpg_data[k][1], want))
      fz::finding("read_cpg_data", "row " + std::to_string(k));
  }
  return 0;
}
