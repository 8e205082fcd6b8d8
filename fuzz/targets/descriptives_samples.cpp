// descriptives' read_sample: every non-empty line, whole, in file order.
#include "des_readers.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> want;
  for (std::string& line : fz::lines_of({reinterpret_cast<const char*>(data), size}))
    if (!line.empty()) want.push_back(std::move(line));
  n_sample = -1;
  read_sample(fz::as_file(data, size));
  if (n_sample != static_cast<long>(want.size()) || samplenames != want)
    fz::finding("read_sample", std::to_string(n_sample) + " names, expected " + std::to_string(want.size()));
  return 0;
}
