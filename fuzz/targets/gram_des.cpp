// read_mean_sd (called twice, so the second file's sites follow the first's)
// and read_cpg_data into a matrix that may be shorter than the file, on the
// input as a descriptives file and as a methylation file.
#include "fuzz_util.h"
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
  read_mean_sd(path);
  read_mean_sd(path);
  if (start_coord != static_cast<long>(2 * sites) || mean_vector.size() != 2 * sites ||
      sd_vector.size() != 2 * sites)
    fz::finding("read_mean_sd count", std::to_string(start_coord) + " != 2 x " + std::to_string(sites));
  for (size_t k = 0; k < 2 * sites; ++k)
    if (!fz::same(mean_vector[k], mean[k % sites]) || !fz::same(sd_vector[k], sd[k % sites]))
      fz::finding("read_mean_sd", "site " + std::to_string(k) + " of " + fz::show(lines[1 + k % sites]));

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
