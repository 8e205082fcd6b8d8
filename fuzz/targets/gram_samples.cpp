// The sample-list reader of selfgram and crossgram: every line, an empty one
// inside the list included, less only the empty read after a final line feed.
#include "fuzz_util.h"
#include "gram_readers.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> want = fz::lines_of({reinterpret_cast<const char*>(data), size});
  n_sample = -1;
  read_sample(fz::as_file(data, size));
  if (n_sample != static_cast<long>(want.size()) || samplenames != want)
    fz::finding("read_sample", std::to_string(n_sample) + " names, expected " + std::to_string(want.size()));
  return 0;
}
