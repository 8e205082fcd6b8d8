// read_des of stdweights (mean and SD) and of cenweights (mean alone): the
// data lines up to the first empty line, fields 2 and 3 by number of commas.
#include "eigen_readers.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = fz::lines_of({reinterpret_cast<const char*>(data), size});
  std::vector<double> mean, sd;
  for (size_t i = 1; i < lines.size() && !lines[i].empty(); ++i) {
    const fz::Fields23 f = fz::cut23(lines[i]);
    mean.push_back(fz::atof_of(f.f2));
    sd.push_back(fz::atof_of(f.f3));
  }
  const char* path = fz::as_file(data, size);

  read_des(path, true);
  if (mean_vector.size() != mean.size() || sd_vector.size() != sd.size())
    fz::finding("read_des count", std::to_string(mean_vector.size()) + " != " + std::to_string(mean.size()));
  for (size_t k = 0; k < mean.size(); ++k)
    if (!fz::same(mean_vector[k], mean[k]) || !fz::same(sd_vector[k], sd[k]))
      fz::finding("read_des", "site " + std::to_string(k) + " " + fz::show(lines[k + 1]));

  sd_vector.assign(3, 7.0);
  read_des(path, false);
  if (mean_vector.size() != mean.size() || sd_vector != std::vector<double>(3, 7.0))
    fz::finding("read_des without SD");
  for (size_t k = 0; k < mean.size(); ++k)
    if (!fz::same(mean_vector[k], mean[k])) fz::finding("read_des mean only", std::to_string(k));
  return 0;
}
